#include "game/numbers.h"

#include <charconv>
#include <cmath>
#include <random>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"

namespace ai_players::app {

long long read_whole(const std::string& text, const std::string& what, long long lo, long long hi) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
    throw UserError(fmt::format("{} must be a whole number between {} and {}, not {}", what, lo, hi,
                                echoed(text)));
  return value;
}

std::optional<std::chrono::milliseconds> read_seconds(const std::string& text, const std::string& what,
                                                       double max_seconds) {
  double seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  const bool number = !text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(seconds);
  if (!number || seconds < 0 || seconds > max_seconds || (seconds > 0 && seconds < 0.001))
    throw UserError(fmt::format("{} must be between 0 and {:g} seconds (0: no limit; the smallest other time is "
                                "0.001), not {}",
                                what, max_seconds, echoed(text)));
  if (seconds == 0) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

std::uint64_t read_seed(const std::string& text, const std::string& what) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size())
    throw UserError(fmt::format("{} must be a whole number between 0 and 18446744073709551615, not {}", what,
                                echoed(text)));
  return value;
}

std::uint64_t seed_or_random(const std::optional<std::uint64_t>& seed) {
  if (seed) return *seed;
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) | device();
}

std::string counted(long long n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

}  // namespace ai_players::app
