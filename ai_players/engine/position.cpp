#include "ai_players/engine/ai_basic.h"

namespace ai_players {

void AI_BASIC::MakeMovesFromStartPos(const MoveList& moves) {
  std::string line;
  for (const auto& move : moves) line += move->to_coord() + " ";
  writeIntoEngine(format_s("position fen %s moves %s", start_fen, line));
  replay_board_(moves);
}

void AI_BASIC::replay_board_(const MoveList& moves) {
  board = board::Board(start_fen);
  for (const auto& move : moves) board.make_internal_move(*move);
}

}  // namespace ai_players
