#include "game/start_position.h"

#include "ai_players/core/text.h"
#include "ai_players/host/board.h"
#include "game/user_error.h"

namespace ai_players::app {

std::string checked_start_fen(const std::string& fen) {
  if (strip(fen).empty()) return std::string(common::FEN_New_Game);
  try {
    board::Board check(fen);
  } catch (const board::FenError& e) {
    throw UserError("the start position " + echoed(fen) + " is not a FEN our board accepts: " + e.what());
  }
  return fen;
}

}  // namespace ai_players::app
