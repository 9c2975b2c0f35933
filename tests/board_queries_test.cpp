#include <gtest/gtest.h>

#include "ai_players/host/board.h"

using namespace ai_players::board;
using namespace ai_players::common;
using Squares = std::vector<int>;

TEST(BoardQueries, ReachableAndPawnDefendedSquares) {
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

  EXPECT_EQ(start.list_pawn_defended_squares(BLACK), (Squares{16, 26, 36, 46, 56, 66, 76, 86}));
  const Board two("4k3/7p/8/8/8/8/2P1P3/4K3 w - - 0 1");  // c2 and e2 both guard d3
  EXPECT_EQ(two.list_pawn_defended_squares(WHITE), (Squares{23, 43, 63}));
}

TEST(BoardQueries, SquareIsEnpriseWhenTheExchangeWinsMaterial) {
  const int d4 = square(4, 4), d5 = square(4, 5), e5 = square(5, 5);
  const std::tuple<const char*, int, bool> cases[] = {
      {"4k3/8/8/8/3n4/8/8/3RK3 w - - 0 1", d4, true},
      {"4k3/8/8/4p3/3n4/8/8/3RK3 w - - 0 1", d4, false},    // the rook would lose itself
      {"4k3/8/8/4p3/3n4/2P5/8/3RK3 w - - 0 1", d4, true},   // a pawn wins the knight
      {"4k3/8/8/4p3/3n4/8/4N3/4K3 w - - 0 1", d4, false},   // a knight only trades
      {"4r1k1/8/8/4n3/8/8/4R3/6K1 w - - 0 1", e5, false},
      {"4r1k1/8/8/4n3/8/8/4R3/4R1K1 w - - 0 1", e5, true},  // the rook behind joins in
      {"4r1k1/4r3/8/4n3/8/8/4R3/4R1K1 w - - 0 1", e5, false},
      {"6k1/8/5n2/3p4/2P5/1Q6/8/6K1 w - - 0 1", d5, true},  // the queen behind the pawn
      {"6k1/8/5n2/3p4/2P5/8/8/6K1 w - - 0 1", d5, false},
      {"7k/8/4p3/3n4/2P5/8/8/3R3K w - - 0 1", d5, true},  // pawn takes, pawn takes back, rook takes
      {"4k3/8/4K3/3p4/8/8/8/8 w - - 0 1", d5, true},        // a king takes unguarded pieces only
      {"4k3/8/2p1K3/3p4/8/8/8/8 w - - 0 1", d5, false},
      {"4k3/8/8/3p4/4K3/8/8/7b w - - 0 1", d5, false},      // the guard stands behind the king
  };
  for (const auto& [fen, sq, enprise] : cases) EXPECT_EQ(Board(fen).is_square_enprise(sq, BLACK), enprise) << fen;
  EXPECT_FALSE(Board(std::get<0>(cases[0])).is_square_enprise(d4, WHITE));  // no white piece there
}

TEST(BoardQueries, ContestOnTheTargetIsSeenAfterTheMove) {
  const auto contest = [](const char* fen, std::string_view coord) {
    const Board b(fen);
    return b.get_contest_on_ToSQ(*make_move(coord, b.legal_moves()));
  };
  // e2-e4 opens the e-file for the rook behind it.
  const Contest open = contest("4r1k1/8/5n2/3p4/8/2N5/4P3/4R1K1 w - - 0 1", "e2e4");
  EXPECT_EQ(open[WHITE], (Squares{33, 51}));
  EXPECT_EQ(open[BLACK], (Squares{45, 58, 66}));
  // The capturing pawn is not its own defender; the king is one.
  const Contest capture = contest("4k3/8/1n2K3/3p4/4P3/8/8/8 w - - 0 1", "e4d5");
  EXPECT_EQ(capture[WHITE], (Squares{56}));
  EXPECT_EQ(capture[BLACK], (Squares{26}));
  // After castling the rook already stands on f8.
  const Contest castle = contest("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8g8");
  EXPECT_EQ(castle[BLACK], (Squares{68}));
  EXPECT_EQ(castle[WHITE], Squares{});
}
