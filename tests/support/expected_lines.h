// Lines of the expected files that show values read from the user.
#pragma once

#include <fmt/format.h>

#include <string>

#include "game/game_state.h"
#include "game/outcome.h"
#include "game/user_error.h"

namespace testing_support {

// A value as the expected files show it: "none", milliseconds with their unit.
template <class T>
std::string show(const T& v) {
  if constexpr (requires { v.has_value(); })
    return v ? show(*v) : "none";
  else if constexpr (requires { v.count(); })
    return fmt::format("{} ms", v.count());
  else
    return fmt::format("{}", v);
}

// A line of an expected file: what `f` gives, or the UserError it throws.
template <class F>
std::string line(const std::string& what, F f) {
  try {
    return what + ": " + show(f()) + "\n";
  } catch (const ai_players::app::UserError& e) {
    return what + ": error: " + e.what() + "\n";
  }
}

// How a game ended, in one line.
inline std::string ending_of(const ai_players::app::PlayedGame& game) {
  if (!game.outcome) return "going on";
  return fmt::format("{} {} after {} plies: {}", game.outcome->result, termination_text(game.outcome->why),
                     game.san.size(), game.final_comment);
}

}  // namespace testing_support
