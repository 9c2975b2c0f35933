// Clocks: how long a move may take, from a game's time control or from what a
// GUI says on "go".
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace ai_players::app {

using std::chrono::milliseconds;

// "60+1" (base seconds + increment seconds), "300" or "0.5+0.1".
struct TimeControl {
  milliseconds base{0};
  milliseconds increment{0};
  // The PGN TimeControl tag: "60+1", "300".
  std::string pgn() const;
};
// Throws UserError with a message for anything else.
TimeControl parse_time_control(const std::string& text);

// What is known on the clock when a move is to be made.
struct ClockReading {
  std::optional<milliseconds> remaining;  // own time left
  milliseconds increment{0};
  std::optional<int> moves_to_go;
  std::optional<milliseconds> movetime;   // a fixed time for this move
  milliseconds overhead{50};              // lost per move between us and the clock (GUI, pipes)
};

// How long to think about this move; none when nothing limits it. Spends a
// share of the time left that keeps a reserve for the moves to come, never
// more than half of it, and never less than a few milliseconds.
std::optional<milliseconds> move_budget(const ClockReading& clock);

}  // namespace ai_players::app
