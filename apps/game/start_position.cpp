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
    // The board's message ends with the FEN, already quoted (and cut) here.
    std::string why = e.what();
    if (why.ends_with(": " + fen)) why.resize(why.size() - fen.size() - 2);
    throw UserError("the start position " + echoed(fen) + " is not a FEN our board accepts: " + why);
  }
  return fen;
}

}  // namespace ai_players::app
