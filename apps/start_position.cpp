#include "start_position.h"

#include <stdexcept>

#include "ai_players/host/board.h"

namespace ai_players::app {

std::string checked_start_fen(const std::string& fen) {
  if (fen.empty()) return std::string(common::FEN_New_Game);
  try {
    board::Board check(fen);
  } catch (const board::FenError& e) {
    throw std::runtime_error("invalid --fen '" + fen + "': " + e.what());
  }
  return fen;
}

}  // namespace ai_players::app
