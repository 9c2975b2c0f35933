// The UCI protocol as text: reading what a GUI sends and writing what it
// expects. Knows nothing of personas or threads.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/host/board.h"
#include "game/time_control.h"
#include "game/user_error.h"

namespace ai_players::app {

// The game a GUI set up with `position`.
struct UciGame {
  std::string start_fen{common::FEN_New_Game};
  board::MoveList history;  // the moves after the start position, as our board's objects
  board::Board position;    // the current position
};

// The arguments of a `position` command ("startpos moves e2e4", "fen <FEN> moves ...").
// Throws UserError for a malformed command, a bad FEN or a move that is not
// legal where it is played.
UciGame parse_position(std::string_view args);

// What a `go` asks for.
struct GoRequest {
  ClockReading clock;     // own side's clock (overhead filled in by the session)
  bool infinite = false;  // bestmove only after stop
  bool ponder = false;    // bestmove only after ponderhit or stop
  // Limits an engine persona passes on to its engine; the others choose by their own rules.
  std::optional<int> depth;
  std::optional<long long> nodes;
  std::optional<int> mate;
  // The search limits as the GUI gave them ("wtime 60000 btime 60000", "depth 5"),
  // without ponder, infinite and searchmoves; empty when it gave none.
  std::string limits;
};
// Throws UserError for a malformed number.
GoRequest parse_go(std::string_view args, int side_to_move);

// When a go with a limit is answered: the GUI has its bestmove by `answer`,
// the move's budget (Move Overhead kept), and the persona's own move is due
// by `own`, a reserve earlier for the end of its reply on a loaded machine
// (the stop, the engine's answer, the choice among what was found): 150 ms,
// or a quarter of a shorter budget. An engine persona given the GUI's clock
// keeps to it itself, and may spend up to half of what is left. None without a limit.
struct ReplyTimes {
  std::chrono::milliseconds own, answer;
};
std::optional<ReplyTimes> reply_times(const GoRequest& go, bool engine_keeps_time);

// The words of a line and the text after its first word.
struct UciCommand {
  std::string name;
  std::string args;
};
UciCommand split_command(std::string_view line);

// One option as `uci` declares it and `setoption` sets it.
struct UciOption {
  enum class Kind { Check, Spin, Combo, String };
  std::string name;
  Kind kind = Kind::String;
  std::string value;  // the current value, declared as the default
  long long min = 0, max = 0;     // spin
  std::vector<std::string> vars;  // combo

  static UciOption check(std::string name, bool value) { return {std::move(name), Kind::Check, value ? "true" : "false", 0, 0, {}}; }
  static UciOption spin(std::string name, long long value, long long min, long long max) {
    return {std::move(name), Kind::Spin, std::to_string(value), min, max, {}};
  }
  static UciOption text(std::string name, std::string value) { return {std::move(name), Kind::String, std::move(value), 0, 0, {}}; }
  static UciOption combo(std::string name, std::string value, std::vector<std::string> vars) {
    return {std::move(name), Kind::Combo, std::move(value), 0, 0, std::move(vars)};
  }
};

// "option name Hash type spin default 16 min 1 max 33554432".
std::string option_line(const UciOption& option);

// The arguments of `setoption` ("name Move Overhead value 30").
struct SetOption {
  std::string name;
  std::string value;
};
// Throws UserError when there is no "name".
SetOption parse_setoption(std::string_view args);

// The option of that name (case does not matter), or null.
const UciOption* find_option(const std::vector<UciOption>& options, const std::string& name);
// The value as the option takes it ("true"/"false", a number in range, one of
// the combo's vars in its own spelling); UserError saying what it must be.
std::string checked_value(const UciOption& option, const std::string& value);

// The moves of `pv` that are legal one after another from `position`, up to the first that is not.
std::vector<std::string> legal_prefix(const board::Board& position, const std::vector<std::string>& pv);

// The line before a bestmove that a GUI shows as the search's result: the
// depth, score ("cp 35", "mate -2": the side to move's view) and principal
// variation (its legal part) of the analysis the persona has of the move it
// plays; "info pv MOVE" alone when it has none, or one that begins otherwise.
std::string result_info(const board::Board& position, const std::string& move, const std::optional<Analysis>& line);

// The limits a GUI gave with a fixed time per move put in their place ("movetime 980" -> "movetime 780").
std::string with_movetime(std::string_view limits, std::chrono::milliseconds movetime);

// Text for an "info string" line: the words a GUI reads as search fields or
// commands ("score", "pv", "depth", "bestmove", ...) become plain ones, so
// that no parser takes a message for a search line.
std::string uci_safe_text(std::string_view text);

// A GUI's text in a message, cut as every echo of input is.
inline std::string gui_excerpt(std::string_view text) {
  if (text.size() <= kEchoLimit) return std::string(text);
  return std::string(text.substr(0, kEchoLimit)) + "...";
}

}  // namespace ai_players::app
