// What the adviser (Verevovera) says of a move before it is played, and its
// best move as a hint: in words for the terminal and the page, and in numbers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ai_players/core/score.h"
#include "ai_players/personas/verevovera.h"
#include "game/game_state.h"

namespace ai_players::app {

struct MoveJudgement {
  std::string played_san;
  std::string best_san;                // "?" when the engine gave no line
  std::string best_coord;              // the same in coordinates
  std::vector<std::string> best_line;  // SAN, from the position before the move
  Score played;                        // the mover's view
  Score best;
  bool played_best = false;
  bool judged = true;  // false: the adviser ran out of time before it could score the move
  std::string text;  // "Your move Nf3 is the engine's best (+0.25)", ...
};

// Judges `move` (a legal move of the game's position) at `depth`.
MoveJudgement judge_move(Verevovera& adviser, const GameState& game, const board::Move& move, int depth);

// The engine's best move in the game's position, as a judgement of it.
MoveJudgement best_move(Verevovera& adviser, const GameState& game, int depth);

// The sentence alone, from the numbers.
std::string judgement_text(const MoveJudgement& j);

// An engine line (coordinates) in SAN from `fen`, as far as its moves are legal.
std::vector<std::string> san_line(const std::string& fen, const std::vector<std::string>& coords,
                                  std::size_t limit = 12);

}  // namespace ai_players::app
