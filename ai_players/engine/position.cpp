#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

void AI_BASIC::MakeMovesFromStartPos(const MoveList& moves) {
  if (engine_resync_needed) resync_engine_();
  std::string line;
  for (const auto& move : moves) line += move->to_coord() + " ";
  writeIntoEngine(format_s("position fen %s moves %s", start_fen, line));
  board = board::Board(start_fen);
  for (const auto& move : moves) board.make_internal_move(*move);
}

void AI_BASIC::resync_engine_() {
  writeIntoEngine("stop");
  writeIntoEngine("isready");
  while (engine::split_tokens(next_engine_line_()) != std::vector<std::string>{"readyok"}) {
  }
  engine_resync_needed = false;
}

}  // namespace ai_players
