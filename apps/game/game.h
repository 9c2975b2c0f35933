// One game between two movers on our board, from a start position to its end.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "game/game_state.h"

namespace ai_players::app {

// What a mover is asked: the game so far and the legal moves (shared move
// objects), the game's start FEN, and when its time for this move runs out.
struct MoveRequest {
  const board::MoveList& history;
  const board::MoveList& legal;
  const std::string& start_fen;
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

// A mover's answer: any move object whose coordinates name a legal move, and
// a remark for the record (a fallback, say). A mover that cannot move at all
// throws MoverFailure, which ends the game as abandoned.
struct MoveReply {
  board::MovePtr move;
  std::string comment;
};
struct MoverFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
using Mover = std::function<MoveReply(const MoveRequest&)>;

struct GameSetup {
  std::string start_fen;
  int max_plies = 0;  // 0: play until the rules end the game
  std::optional<TimeControl> clock;            // none: no clock
  std::optional<milliseconds> fixed_movetime;  // a time per move instead (no forfeit)
};

// Called after every move with the game so far.
using MoveObserver = std::function<void(const PlayedGame&)>;

// Plays until a rule ends the game, a clock runs out, a mover fails or
// max_plies moves are made (unterminated). A mover that answers a move that
// is not legal makes this throw std::logic_error (a host's fault, not a game event).
PlayedGame play_game(const Mover& white, const Mover& black, const GameSetup& setup,
                     const MoveObserver& observer = {});

}  // namespace ai_players::app
