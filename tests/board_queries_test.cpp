#include <gtest/gtest.h>

#include "ai_players/host/board.h"

using namespace ai_players::board;
using namespace ai_players::common;
using Squares = std::vector<int>;

namespace {

MovePtr move_in(const Board& b, std::string_view coord) { return make_move(coord, b.legal_moves()); }

}  // namespace

TEST(ReachableSquares, PiecesAttackUpToTheFirstBlocker) {
  const Board start;
  EXPECT_EQ(start.find_reachable_squares(A1), (Squares{12, 21}));  // own pieces count as reached
  EXPECT_EQ(start.find_reachable_squares(G1), (Squares{52, 63, 83}));
  EXPECT_EQ(start.find_reachable_squares(E2), (Squares{43, 63}));  // a pawn: its captures only
  EXPECT_EQ(start.find_reachable_squares(E7), (Squares{46, 66}));
  EXPECT_EQ(start.find_reachable_squares(square(5, 4)), Squares{});

  // Queen d3 with a black pawn on d5 and a white pawn on f5 in its lines.
  const Board queen("4k3/8/8/3p1P2/8/3Q4/8/4K3 w - - 0 1");
  EXPECT_EQ(queen.find_reachable_squares(square(4, 3)),
            (Squares{13, 16, 21, 23, 25, 32, 33, 34, 41, 42, 44, 45, 52, 53, 54, 61, 63, 65, 73, 83}));
  EXPECT_EQ(queen.find_reachable_squares(square(5, 1)), (Squares{41, 42, 52, 61, 62}));
}

TEST(PawnDefendedSquares, UnionOfPawnCaptures) {
  const Board start;
  EXPECT_EQ(start.list_pawn_defended_squares(WHITE), (Squares{13, 23, 33, 43, 53, 63, 73, 83}));
  EXPECT_EQ(start.list_pawn_defended_squares(BLACK), (Squares{16, 26, 36, 46, 56, 66, 76, 86}));
  const Board two("4k3/7p/8/8/8/8/2P1P3/4K3 w - - 0 1");  // c2 and e2 both guard d3
  EXPECT_EQ(two.list_pawn_defended_squares(WHITE), (Squares{23, 43, 63}));
  EXPECT_EQ(two.list_pawn_defended_squares(BLACK), (Squares{76}));
}

TEST(SquareEnprise, ExchangeOnTheSquareMustWinMaterial) {
  const int d4 = square(4, 4);
  const Board hanging("4k3/8/8/8/3n4/8/8/3RK3 w - - 0 1");
  EXPECT_TRUE(hanging.is_square_enprise(d4, BLACK));
  EXPECT_FALSE(hanging.is_square_enprise(d4, WHITE));  // no white piece there

  // Defended by a pawn: the rook would lose itself; a pawn wins the knight;
  // a knight only trades.
  EXPECT_FALSE(Board("4k3/8/8/4p3/3n4/8/8/3RK3 w - - 0 1").is_square_enprise(d4, BLACK));
  EXPECT_TRUE(Board("4k3/8/8/4p3/3n4/2P5/8/3RK3 w - - 0 1").is_square_enprise(d4, BLACK));
  EXPECT_FALSE(Board("4k3/8/8/4p3/3n4/8/4N3/4K3 w - - 0 1").is_square_enprise(d4, BLACK));
}

TEST(SquareEnprise, PiecesBehindTheCapturersJoinIn) {
  const int e5 = square(5, 5);
  // Rooks e2 and e1 against the defending rook e8.
  EXPECT_FALSE(Board("4r1k1/8/8/4n3/8/8/4R3/6K1 w - - 0 1").is_square_enprise(e5, BLACK));
  EXPECT_TRUE(Board("4r1k1/8/8/4n3/8/8/4R3/4R1K1 w - - 0 1").is_square_enprise(e5, BLACK));
  // ...and the defence doubled as well.
  EXPECT_FALSE(Board("4r1k1/4r3/8/4n3/8/8/4R3/4R1K1 w - - 0 1").is_square_enprise(e5, BLACK));
  // Pawn d5 guarded by a knight: the c4 pawn alone only trades, the queen
  // behind it takes the knight back.
  EXPECT_FALSE(Board("6k1/8/5n2/3p4/2P5/8/8/6K1 w - - 0 1").is_square_enprise(square(4, 5), BLACK));
  EXPECT_TRUE(Board("6k1/8/5n2/3p4/2P5/1Q6/8/6K1 w - - 0 1").is_square_enprise(square(4, 5), BLACK));
}

TEST(SquareEnprise, KingCapturesOnlyUnguardedPieces) {
  const int d5 = square(4, 5);
  EXPECT_TRUE(Board("4k3/8/4K3/3p4/8/8/8/8 w - - 0 1").is_square_enprise(d5, BLACK));
  EXPECT_FALSE(Board("4k3/8/2p1K3/3p4/8/8/8/8 w - - 0 1").is_square_enprise(d5, BLACK));
  // The guard stands behind the king's own line: still guarded once the king steps in.
  EXPECT_FALSE(Board("4k3/8/8/3p4/4K3/8/8/7b w - - 0 1").is_square_enprise(d5, BLACK));
}

TEST(ContestOnTarget, ComputedAfterTheMove) {
  // e2-e4 opens the e-file for the rook behind it.
  const Board open("4r1k1/8/5n2/3p4/8/2N5/4P3/4R1K1 w - - 0 1");
  const Contest c = open.get_contest_on_ToSQ(*move_in(open, "e2e4"));
  EXPECT_EQ(c[WHITE], (Squares{33, 51}));
  EXPECT_EQ(c[BLACK], (Squares{45, 58, 66}));

  // The capturing pawn itself is not its own defender; the king is one.
  const Board capture("4k3/8/1n2K3/3p4/4P3/8/8/8 w - - 0 1");
  const Contest k = capture.get_contest_on_ToSQ(*move_in(capture, "e4d5"));
  EXPECT_EQ(k[WHITE], (Squares{56}));
  EXPECT_EQ(k[BLACK], (Squares{26}));

  // Black castles: the rook is already on f8 when the target is looked at.
  const Board castle("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  const Contest o = castle.get_contest_on_ToSQ(*move_in(castle, "e8g8"));
  EXPECT_EQ(o[BLACK], (Squares{68}));
  EXPECT_EQ(o[WHITE], Squares{});
}
