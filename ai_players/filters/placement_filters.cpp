// Moves a beginner of some sense would not play: silly squares for a piece,
// and moves that hand material to the opponent within sight.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

namespace {

bool contains(const std::vector<int>& squares, int sq) {
  return std::find(squares.begin(), squares.end(), sq) != squares.end();
}

bool on_edge(int sq) {
  const int rank = sq % 10, file = sq / 10;
  return rank == 1 || rank == 8 || file == 1 || file == 8;
}

bool is_silly_placement(const board::Move& m, const board::Board& board,
                        const std::vector<int>& opp_pawn_def_sq) {
  using namespace common;
  const int TPiece = std::abs(m.Piece);
  if (m.Captured == 0 && TPiece == King) return true;
  // A king-side rook that moves gives up the short castling.
  if (TPiece == Rook && m.FromSQ == H1 && board.castling.find('K') != std::string::npos) return true;
  if (TPiece == Rook && m.FromSQ == H8 && board.castling.find('k') != std::string::npos) return true;
  if (TPiece != Pawn && contains(opp_pawn_def_sq, m.ToSQ)) return true;
  if (TPiece == Knight && on_edge(m.ToSQ)) return true;
  if ((TPiece == Bishop || TPiece == Queen) &&
      (m.ToSQ == A1 || m.ToSQ == A8 || m.ToSQ == H1 || m.ToSQ == H8))
    return true;
  return false;
}

}  // namespace

MoveList AI_BASIC::Filter_SillyPlacements(const MoveList& moveslist) {
  const std::vector<int> opp_pawn_def_sq = board.list_pawn_defended_squares(oppside);
  MoveList kept;
  for (const MovePtr& m : moveslist)
    if (!is_silly_placement(*m, board, opp_pawn_def_sq)) kept.push_back(m);
  return kept;
}

MoveList AI_BASIC::Filter_SuicideMoves(const MoveList& moveslist, bool SCAN_N, int SEEING_DISTANCE) {
  using namespace common;
  require(SEEING_DISTANCE >= 2);
  MoveList kept;
  for (const MovePtr& m : moveslist) {
    // Without a known reply nothing can be judged: such moves are dropped.
    if (m->ErrorScore.value() == -1) continue;
    if (m->Score.value() == -MATE_IN(1)) continue;
    const int TPiece = std::abs(m->Piece);
    const int R1_TPiece = std::abs(m->R1_Piece.value());
    const int R1_TCaptured = std::abs(m->R1_Captured.value());

    const board::Contest info = board.get_contest_on_ToSQ(*m);
    const std::vector<int>& myDef = info[myside];
    const std::vector<int>& oppAtk = info[oppside];
    std::vector<int> oppTPieces, distances;
    for (int sq : oppAtk) {
      oppTPieces.push_back(std::abs(board.get_piece(sq)));
      distances.push_back(distance_(m->ToSQ, sq));
    }

    // The moved piece hangs, or loses at least a pawn in the exchange.
    if (!oppAtk.empty() &&
        (myDef.empty() || TPiece >= *std::min_element(oppTPieces.begin(), oppTPieces.end()) + Pawn)) {
      if (oppTPieces.size() == 1 && oppTPieces[0] == Knight && TPiece != Queen) {
        // Knight forks and jumps are only noticed by players who scan for them.
        if (SCAN_N) continue;
      } else {
        // The queen is watched one square farther than the other pieces.
        const int reach = SEEING_DISTANCE + (TPiece == Queen ? 1 : 0);
        if (*std::min_element(distances.begin(), distances.end()) <= reach) continue;
      }
    }

    // The move uncovers a line along which the expected reply captures.
    if (R1_TCaptured != 0 && is_in_line(*m->R1_FromSQ, m->FromSQ, *m->R1_ToSQ) &&
        distance_(*m->R1_FromSQ, *m->R1_ToSQ) <= SEEING_DISTANCE - 1) {
      const bool isEnprise = board.is_square_enprise(*m->R1_ToSQ, myside);
      const int loss = isEnprise ? R1_TCaptured : R1_TCaptured - R1_TPiece;
      if (loss > 150 || isEnprise) continue;
    }
    kept.push_back(m);
  }
  return kept;
}

}  // namespace ai_players
