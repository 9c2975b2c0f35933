// The greedy streak of a weak player: among the moves that survived the
// filters, grab material when it looks easy.
#include <algorithm>
#include <cstdlib>

#include "ai_players/core/analysis.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

namespace {
bool is_queen(int piece) {
  return std::find(common::QUEENS.begin(), common::QUEENS.end(), piece) != common::QUEENS.end();
}
}  // namespace

MovePtr AI_BASIC::nonSilly_capture_mania_(const MoveList& /*topD2moves*/, const board::Move& lastply,
                                          const MoveList& filtered) {
  using namespace common;
  MoveList captures;
  for (const MovePtr& m : filtered)
    if (m->Captured != 0) captures.push_back(m);

  // A queen only bothers for a rook or better; other pieces for a minor piece.
  MoveList worthwhile;
  for (const MovePtr& m : captures) {
    const int taken = std::abs(m->Captured);
    if (is_queen(m->Piece) ? taken >= Rook : taken >= Knight) worthwhile.push_back(m);
  }

  if (!worthwhile.empty()) {
    const MovePtr m = choice(worthwhile);
    if (lastply.Captured != 0) {
      echo("nonsillymove: capture_mania_lastply.captured");
      return m;
    }
    // Long captures are easier to overlook.
    const int d = distance_(m->FromSQ, m->ToSQ);
    if (d == 1 || chance((8 - d) / 7.0)) {
      echo("nonsillymove: capture_mania_short_distance");
      return m;
    }
  }

  MoveList small;
  for (const MovePtr& m : captures) {
    const int piece = std::abs(m->Piece);
    if (piece == Pawn || piece == King) small.push_back(m);
  }
  if (!small.empty()) {
    echo("nonsillymove: capture_mania_pawn_or_king");
    return choice(small);
  }
  return nullptr;
}

}  // namespace ai_players
