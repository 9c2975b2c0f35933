#include "game/time_control.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"

namespace ai_players::app {

namespace {

milliseconds seconds_part(std::string_view text, const std::string& whole) {
  double seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
      seconds < 0 || seconds > 1e7)
    throw UserError(fmt::format("{} is not a time control; write base seconds and increment, e.g. 60+1 or 300",
                                echoed(whole)));
  return milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

std::string seconds_text(milliseconds ms) {
  if (ms.count() % 1000 == 0) return std::to_string(ms.count() / 1000);
  return fmt::format("{:g}", static_cast<double>(ms.count()) / 1000);
}

}  // namespace

std::string TimeControl::pgn() const {
  return increment.count() ? seconds_text(base) + "+" + seconds_text(increment) : seconds_text(base);
}

TimeControl parse_time_control(const std::string& text) {
  const auto plus = text.find('+');
  TimeControl tc;
  tc.base = seconds_part(std::string_view(text).substr(0, plus), text);
  if (plus != std::string::npos) tc.increment = seconds_part(std::string_view(text).substr(plus + 1), text);
  if (tc.base.count() <= 0)
    throw UserError(fmt::format("{}: the base time must be more than 0 seconds", echoed(text)));
  return tc;
}

std::optional<milliseconds> move_budget(const ClockReading& clock) {
  constexpr milliseconds floor{5};
  if (clock.movetime) return std::max(floor, *clock.movetime - clock.overhead);
  if (!clock.remaining) return std::nullopt;
  const milliseconds left = *clock.remaining - clock.overhead;
  if (left <= floor) return floor;
  // Spread what is left over the moves to come (about 30 when nobody says),
  // spend most of the increment now, and never stake more than half the clock.
  const long long moves = clock.moves_to_go ? std::clamp(*clock.moves_to_go, 1, 50) : 30;
  milliseconds share = left / moves + clock.increment * 3 / 4;
  share = std::min(share, left / 2);
  return std::max(floor, share);
}

}  // namespace ai_players::app
