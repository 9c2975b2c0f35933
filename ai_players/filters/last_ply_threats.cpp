// Reacting to the opponent's last move: if it endangers one of my pieces,
// directly or by opening a line, only that piece's moves are considered.
#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

MoveList AI_BASIC::Filter_LastPlyThreats(const board::Move& lastply, int SEEING_DISTANCE) {
  require(SEEING_DISTANCE >= 3);
  const int oppTPiece = std::abs(board.get_piece(lastply.ToSQ));

  std::vector<int> mySQs;
  for (const MovePtr& m : legalmoves) mySQs.push_back(m->FromSQ);
  std::vector<int> attacked;
  for (int sq : board.find_reachable_squares(lastply.ToSQ))
    if (std::find(mySQs.begin(), mySQs.end(), sq) != mySQs.end()) attacked.push_back(sq);

  // (loss, square): a piece is worth saving when it is en prise or would
  // cost more than a pawn and a half after the exchange.
  std::vector<std::pair<int, int>> threatened;
  const auto weigh = [&](int sq) {
    const int TPiece = std::abs(board.get_piece(sq));
    const bool isEnprise = board.is_square_enprise(sq, myside);
    const int loss = isEnprise ? TPiece : TPiece - oppTPiece;
    if (loss > 150 || isEnprise) threatened.emplace_back(loss, sq);
  };

  for (int sq : attacked) {
    if (common::distance_(lastply.ToSQ, sq) > SEEING_DISTANCE) continue;
    weigh(sq);
  }

  // Lines the last move uncovered: the engine's expected reply to one of my
  // moves captures across the square the opponent's piece has just left.
  for (const MovePtr& m : legalmoves) {
    if (m->ErrorScore.value() == -1) continue;
    if (m->R1_Captured.value() == 0) continue;
    if (!common::is_in_line(m->R1_FromSQ.value(), lastply.FromSQ, m->R1_ToSQ.value())) continue;
    if (common::distance_(*m->R1_FromSQ, *m->R1_ToSQ) > SEEING_DISTANCE - 1) continue;
    weigh(*m->R1_ToSQ);
  }

  if (threatened.empty()) return legalmoves;
  const int SQ = std::max_element(threatened.begin(), threatened.end())->second;
  MoveList result;
  for (const MovePtr& m : legalmoves)
    if (m->FromSQ == SQ) result.push_back(m);
  return result;
}

}  // namespace ai_players
