// Clocks: how long a move may take, from a game's time control or from what a
// GUI says on "go".
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace ai_players::app {

using std::chrono::milliseconds;

// A clock for each side: a base time and an increment per move.
struct TimeControl {
  milliseconds base{0};
  milliseconds increment{0};
  // The PGN TimeControl tag, in seconds: "60+1", "300".
  std::string pgn() const;
  // As players say it: "5 min + 3 s", "90 s".
  std::string text() const;
};

// What a base written as a plain number means: seconds where engines are
// tested and in PGN ("60+0.6"), minutes where people play, as on every chess
// site ("5+3").
enum class PlainBase { Seconds, Minutes };

// "5+3", "300", "0.5+0.1", "5m+3", "5min+3s", "90s+1", "3:00+2" (minutes and
// seconds); the increment is always seconds. Throws UserError for anything else.
TimeControl parse_time_control(const std::string& text, PlainBase plain = PlainBase::Seconds);

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
