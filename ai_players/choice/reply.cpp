#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

MovePtr AI_BASIC::GetReply(const MoveList& game_history, const MoveList& legalmoves,
                           std::string_view start_fen, bool isMasterMove,
                           std::optional<double> error_margin) {
  reply_asked_();
  if (legalmoves.size() == 1) {
    common::echo("only_move");
    return legalmoves.front();
  }
  ReplyScope reply_scope(*this);
  this->game_history = game_history;
  this->legalmoves = legalmoves;
  this->start_fen = std::string(start_fen);
  myside = legalmoves.at(0)->Piece > 0 ? common::WHITE : common::BLACK;
  oppside = -1 * myside;

  MovePtr reply;
  if (isMasterMove) {
    reply = GetMasterMove(262144);
  } else {
    // Fixed opening replies: every persona opens 1.e4 and answers 1.e4 with 1...e5.
    if (this->game_history.empty() && this->start_fen == common::FEN_New_Game)
      return board::make_move("e2e4", this->legalmoves);
    if (this->game_history.size() == 1 && this->game_history.front()->to_coord() == "e2e4")
      return board::make_move("e7e5", this->legalmoves);
    reply = GetReply_(error_margin);
  }
  if (!reply) throw Error("the persona chose no move");
  // Always hand back a move of the caller's own list, whatever list the choice came from.
  return board::make_move(reply->to_coord(), legalmoves);
}

MovePtr AI_BASIC::GetReply_(std::optional<double> /*error_margin*/) {
  throw Error("AI_BASIC makes no move choice of its own; use a persona");
}

std::string AI_BASIC::FallbackWords_() const { return "plays among its best moves"; }

MovePtr AI_BASIC::FallbackReply_() {
  const TopMoves top = ListTopMoves(40, 16, 2, std::nullopt, 1);
  return choice(top.topmoves);
}

}  // namespace ai_players
