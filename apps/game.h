// One game between two movers on our board, from a start position to its end.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/host/board.h"

namespace ai_players::app {

// How a finished game came out: "1-0", "0-1", "1/2-1/2" or "*", and why.
struct Outcome {
  std::string result;
  std::string termination;  // "checkmate", "stalemate", ..., "unterminated"
};

// The outcome of a position in which the game is over, or none.
std::optional<Outcome> outcome_of(const board::Board& position);

// Asked for a move: the game so far and the legal moves (shared move objects),
// and the game's start FEN. May return any move object whose coordinates name
// a legal move.
using Mover = std::function<board::MovePtr(const board::MoveList& history, const board::MoveList& legal,
                                           const std::string& start_fen)>;

struct PlayedGame {
  std::string start_fen;
  board::MoveList moves;         // the legal-move objects played, in order
  std::vector<std::string> san;  // the same moves in SAN
  Outcome outcome;
};

struct GameSetup {
  std::string start_fen;
  int max_plies = 0;  // 0: play until the rules end the game
};

// Called after every move with the game so far.
using MoveObserver = std::function<void(const PlayedGame&)>;

// Plays until a rule ends the game or max_plies moves are made. A mover that
// answers with a move that is not legal makes this throw std::runtime_error.
PlayedGame play_game(const Mover& white, const Mover& black, const GameSetup& setup,
                     const MoveObserver& observer = {});

}  // namespace ai_players::app
