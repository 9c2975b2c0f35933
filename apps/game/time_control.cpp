#include "game/time_control.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <utility>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"

namespace ai_players::app {

namespace {

[[noreturn]] void not_a_clock(const std::string& whole) {
  throw UserError(fmt::format(
      "{} is not a time control; write a base and an increment in seconds, e.g. 5m+3 (5 minutes, 3 s a move), "
      "90s+1 or 3:00+2",
      echoed(whole)));
}

// A plain decimal; none for anything else.
std::optional<double> decimal(std::string_view text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
    return std::nullopt;
  return value;
}

milliseconds from_seconds(double seconds, const std::string& whole) {
  if (seconds > 1e7) not_a_clock(whole);
  return milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

// "5", "5m", "5min", "90s", "3:00".
milliseconds base_part(std::string_view text, PlainBase plain, const std::string& whole) {
  if (const auto colon = text.find(':'); colon != std::string_view::npos) {
    const auto minutes = decimal(text.substr(0, colon));
    const auto seconds = decimal(text.substr(colon + 1));
    if (!minutes || !seconds || *minutes != std::floor(*minutes) || text.size() - colon != 3 || *seconds >= 60)
      not_a_clock(whole);
    return from_seconds(*minutes * 60 + *seconds, whole);
  }
  double scale = plain == PlainBase::Minutes ? 60 : 1;
  static constexpr std::pair<std::string_view, int> kUnits[] = {{"min", 60}, {"m", 60}, {"s", 1}};
  for (const auto& [unit, factor] : kUnits)
    if (text.ends_with(unit)) {
      text.remove_suffix(unit.size());
      scale = factor;
      break;
    }
  const auto value = decimal(text);
  if (!value) not_a_clock(whole);
  return from_seconds(*value * scale, whole);
}

std::string seconds_text(milliseconds ms) {
  if (ms.count() % 1000 == 0) return std::to_string(ms.count() / 1000);
  return fmt::format("{:g}", static_cast<double>(ms.count()) / 1000);
}

}  // namespace

std::string TimeControl::pgn() const {
  return increment.count() ? seconds_text(base) + "+" + seconds_text(increment) : seconds_text(base);
}

std::string TimeControl::text() const {
  const std::string base_text = base.count() % 60000 == 0 ? fmt::format("{} min", base.count() / 60000)
                                                          : seconds_text(base) + " s";
  return increment.count() ? base_text + " + " + seconds_text(increment) + " s" : base_text;
}

TimeControl parse_time_control(const std::string& text, PlainBase plain) {
  const auto plus = text.find('+');
  TimeControl tc;
  tc.base = base_part(std::string_view(text).substr(0, plus), plain, text);
  if (plus != std::string::npos) {
    std::string_view increment = std::string_view(text).substr(plus + 1);
    if (increment.ends_with("s")) increment.remove_suffix(1);
    const auto seconds = decimal(increment);
    if (!seconds) not_a_clock(text);
    tc.increment = from_seconds(*seconds, text);
  }
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
