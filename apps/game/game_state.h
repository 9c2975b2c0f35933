// A game as it stands: position, moves, clocks and outcome. Every way of
// playing (persona against persona, a human against a persona, in the
// terminal or the browser) keeps its game here, and every output (PGN, the
// page, the terminal) is made from its record.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/host/board.h"
#include "game/outcome.h"
#include "game/time_control.h"

namespace ai_players::app {

struct PlayedGame {
  std::string start_fen;
  board::MoveList moves;             // the legal-move objects played, in order
  std::vector<std::string> san;      // the same moves in SAN
  std::vector<std::string> comments; // one per move; empty when there is nothing to say
  std::optional<Outcome> outcome;    // none while the game goes on
  std::string final_comment;         // why the game ended when the rules did not say it
};

class GameState {
 public:
  // Throws board::FenError for a start position our board rejects.
  // With `first_moves_free`, as on chess sites, each side's first move is not
  // timed, so that a game nobody has begun cannot be lost on time; engines'
  // games are timed from the first move, as engine testers time them.
  explicit GameState(const std::string& start_fen, std::optional<TimeControl> clock = std::nullopt,
                     bool first_moves_free = false);

  const PlayedGame& record() const { return record_; }
  const board::Board& position() const { return position_; }
  const board::MoveList& legal() const { return legal_; }
  int side_to_move() const { return position_.side_to_move; }
  bool over() const { return record_.outcome.has_value(); }
  const std::optional<TimeControl>& clock() const { return clock_; }

  // Plays the legal move with these coordinates and returns its element of
  // legal(); a move that is not legal is the caller's bug (std::logic_error).
  // The rules may end the game.
  board::MovePtr play(const board::Move& move, std::string comment = {});
  // Ends the game for a reason the rules do not know (resignation, time, ...).
  void end(Outcome outcome, std::string final_comment = {});
  // Takes back the last `plies` moves; the game goes on (an ended one too).
  void take_back(std::size_t plies);

  // Whether the clocks run.
  bool clock_runs() const { return clock_ && (!first_moves_free_ || record_.moves.size() >= 2); }
  // The side's time left; none without a clock.
  std::optional<milliseconds> time_left(int side) const;
  // When the side to move must have moved, for a move started at `now`: a
  // share of its clock, or the fixed time per move; none when nothing limits it.
  std::optional<std::chrono::steady_clock::time_point> move_deadline(
      std::chrono::steady_clock::time_point now, std::optional<milliseconds> fixed_movetime,
      milliseconds overhead = milliseconds(10)) const;
  // Charges `spent` to the side to move, then adds its increment, once the
  // clocks run. A side out of time loses (or draws when the other side has
  // only its king) and false is returned.
  bool charge(milliseconds spent);

 private:
  void rebuild();
  PlayedGame record_;
  board::Board position_;
  board::MoveList legal_;
  std::optional<TimeControl> clock_;
  bool first_moves_free_ = false;
  milliseconds left_[2]{};
};

}  // namespace ai_players::app
