// The host's board: FEN, move generation and SAN, the ends of a game, the
// queries the filters ask, and perft.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/host/board.h"
#include "ai_players/host/position.h"
#include "support/test_support.h"

using namespace ai_players::board;
using namespace ai_players::common;
using testing_support::error_of;
using Squares = std::vector<int>;

namespace {

constexpr const char* kKiwi = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
constexpr const char* kTwins = "7k/8/8/R7/8/5N2/8/RN4K1 w - - 0 1";  // knights b1/f3, rooks a1/a5
constexpr const char* kQueens = "2k5/8/8/8/4Q2Q/8/8/K6Q w - - 0 1";  // queens e4, h4, h1 all reach e1
constexpr const char* kPromo = "1r5k/P7/8/8/8/8/8/K7 w - - 0 1";

Board played(Board b, std::initializer_list<std::string_view> texts) {
  for (std::string_view t : texts) b.make_internal_move(*b.parse_move(t));
  return b;
}

bool has(const Board& b, std::string_view coord) {
  return std::ranges::any_of(b.legal_moves(), [&](const MovePtr& m) { return m->to_coord() == coord; });
}

}  // namespace

TEST(BoardFen, RoundTripsAndRejectsMalformedPositions) {
  EXPECT_EQ(Board().export_FEN(), FEN_New_Game);
  for (const char* fen : {kKiwi, "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
                          "4k2r/8/8/8/8/8/8/R3K3 b Qk - 37 61"})
    EXPECT_EQ(Board(fen).export_FEN(), fen);
  EXPECT_EQ(Board("4k2r/8/8/8/8/8/8/R3K3 b kQ - 37 61").castling, "Qk");
  EXPECT_EQ(Board("4k3/8/8/8/8/8/8/4K3 b - -").export_FEN(), "4k3/8/8/8/8/8/8/4K3 b - - 0 1");

  const std::pair<const char*, const char*> bad[] = {
      {"4k3/8/8/8/8/8/8/4K3 w - - 0", "expected 6 fields, found 5"},
      {"4k3/8/8/8/8/8/4K3 w - - 0 1", "7 ranks instead of 8"},
      {"4k3/8/8/8/8/8/P7P/4K3 w - - 0 1", "rank 2 has 9 squares"},
      {"4k3/8/8/8/8/8/8/X3K3 w - - 0 1", "bad piece letter 'X' in rank 1"},
      {"8/8/8/8/8/8/8/4K3 w - - 0 1", "Black has no king"},
      {"4k2P/8/8/8/8/8/8/4K3 w - - 0 1", "pawn on h8"},
      {"4k3/8/8/8/8/8/8/4K3 w K - 0 1", "castling right K without king on e1 and rook on h1"},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - c6 0 1", "bad en-passant square 'c6'"},
      {"4k3/8/8/8/8/8/4q3/4K3 b - - 0 1", "the side not to move is in check"},
      {"4k3/8/8/8/8/8/8/4K3 w - - x 1", "halfmove clock 'x' is not a number"},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 y", "full-move number 'y' is not a number"},
  };
  for (const auto& [fen, reason] : bad)
    EXPECT_EQ(error_of<FenError>([&] { Board b(fen); }), "invalid FEN (" + std::string(reason) + "): " + fen);
}

TEST(MoveGeneration, CastlingEnPassantAndPromotions) {
  const Board guarded("1r2k3/8/8/8/8/8/5r2/R3K2R w KQ - 0 1");  // f1 attacked; b1 may be
  EXPECT_FALSE(has(guarded, "e1g1"));
  EXPECT_TRUE(has(guarded, "e1c1"));
  EXPECT_FALSE(has(Board("4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1"), "e1c1"));  // in check
  EXPECT_FALSE(has(Board("4k3/8/8/8/8/8/8/RN2K2R w KQ - 0 1"), "e1c1"));   // blocked
  EXPECT_FALSE(has(Board("4k3/8/8/8/8/8/8/R3K2R w Q - 0 1"), "e1g1"));     // no right
  // The rooks move along; moving king or rook, or losing the rook, ends the rights.
  const Board rooks("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  EXPECT_EQ(played(rooks, {"O-O", "Rxa1", "Rb1", "O-O"}).export_FEN(), "5rk1/8/8/8/8/8/8/rR4K1 w - - 2 3");
  EXPECT_EQ(played(rooks, {"Rxa8+"}).export_FEN(), "R3k2r/8/8/8/8/8/8/4K2R b Kk - 0 1");

  Board b = played(Board(), {"e4", "a6", "e5", "d5"});
  const MoveList moves = b.legal_moves();
  const MovePtr ep = make_move("e5d6", moves);
  EXPECT_TRUE(ep->IsEnPassant && ep->Captured == -Pawn);
  EXPECT_EQ(ep->to_SAN(moves), "exd6");
  b.make_internal_move(*ep);
  EXPECT_EQ(b.export_FEN(), "rnbqkbnr/1pp1pppp/p2P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 3");
  // Both pawns leave the fifth rank: the king would stand in the rook's line.
  EXPECT_FALSE(has(Board("8/8/8/KPp4r/8/8/8/7k w - c6 0 1"), "b5c6"));
  EXPECT_TRUE(has(Board("8/8/8/1Pp4r/K7/8/8/7k w - c6 0 1"), "b5c6"));

  // A black under-promotion (the four white ones are in the SAN tests).
  EXPECT_EQ(played(Board("4k3/8/8/8/8/8/p7/4K3 b - - 0 9"), {"a1=N"}).export_FEN(),
            "4k3/8/8/8/8/8/8/n3K3 w - - 0 10");
}

TEST(San, WritesDisambiguationPromotionsAndMarks) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {kKiwi, {"O-O", "O-O-O", "dxe6", "Bxa6", "gxh3", "Nxf7", "Kf1"}},
      {kTwins, {"Nbd2", "Nfd2", "R1a3", "R5a3", "Nc3", "Rf5"}},
      {kQueens, {"Qh4e1", "Qee1", "Q1e1", "Q4h2", "Q1h2", "Qg3", "Qb7#"}},
      {kPromo, {"a8=Q", "a8=R", "a8=B", "axb8=N", "axb8=Q+"}},
      {"3k4/8/8/8/8/8/8/R3K3 w Q - 0 1", {"O-O-O+"}},
      {"rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2", {"Qh4#"}},
  };
  for (const auto& [fen, expected] : cases) {
    const MoveList moves = Board(fen).legal_moves();
    std::set<std::string> written;
    for (const MovePtr& m : moves) written.insert(m->to_SAN(moves));
    for (const std::string& san : expected) EXPECT_TRUE(written.count(san)) << san << " in " << fen;
  }
  // A move without its position carries no mark.
  Move bare = *Board("4k3/8/8/8/8/8/8/R3K3 w - - 0 1").parse_move("Ra8");
  EXPECT_EQ(bare.to_SAN({}), "Ra8+");
  bare.origin.reset();
  EXPECT_EQ(bare.to_SAN({}), "Ra8");
}

TEST(San, ReadsSanAndCoordinateTextsOrExplainsTheRefusal) {
  const std::tuple<std::string_view, const char*, const char*> good[] = {
      {FEN_New_Game, "Nf3", "g1f3"},      {FEN_New_Game, " Nc3!? ", "b1c3"}, {FEN_New_Game, "e4", "e2e4"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O", "e8g8"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "0-0-0", "e8c8"},
      {kPromo, "a8=Q", "a7a8q"},          {kPromo, "a8N", "a7a8n"},          {kPromo, "axb8=R+", "a7b8r"},
      {kPromo, "a7a8b", "a7a8b"},         {kTwins, "Nbd2", "b1d2"},          {kTwins, "Nb1d2", "b1d2"},
      {kTwins, "R5a3", "a5a3"},           {kTwins, "Rf5", "a5f5"},           {kQueens, "Qh4e1", "h4e1"},
      {kQueens, "Qee1", "e4e1"},
  };
  for (const auto& [fen, text, coord] : good) EXPECT_EQ(Board(fen).parse_move(text)->to_coord(), coord) << text;

  const std::string start(FEN_New_Game);
  const std::tuple<std::string_view, const char*, std::string> bad[] = {
      {FEN_New_Game, "Nf6", "illegal move \"Nf6\" in " + start},
      {FEN_New_Game, "O-O", "illegal move \"O-O\" in " + start},
      {FEN_New_Game, "Zf3", "unreadable move \"Zf3\""},
      {kTwins, "Nd2", "ambiguous move \"Nd2\": could be Nbd2, Nfd2"},
      {kQueens, "Qhe1", "ambiguous move \"Qhe1\": could be Q1e1, Qh4e1"},
      {kPromo, "a8", "move \"a8\" does not name the promotion piece"},
      {kPromo, "a7a8k", "unreadable move \"a7a8k\""},  // coordinates promote to Q, R, B or N only
      {kPromo, "a8=QN", "unreadable move \"a8=QN\""},  // one piece after '='
  };
  for (const auto& [fen, text, reason] : bad)
    EXPECT_EQ(error_of<IllegalMoveError>([&] { Board(fen).parse_move(text); }), reason);

  const MoveList moves = Board().legal_moves();
  EXPECT_NE(error_of<IllegalMoveError>([&] { Move("e2e5", moves); }).find("\"e2e5\" is not among the legal moves"),
            std::string::npos);
  Board other = played(Board(), {"Nf3"});  // a move of another position is refused
  EXPECT_THROW(other.make_internal_move(*make_move("e2e4", moves)), IllegalMoveError);
}

TEST(GameEnd, MateStalemateFiftyMovesAndMaterial) {
  const std::pair<std::string_view, GameEnd> cases[] = {
      {FEN_New_Game, GameEnd::None},
      {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", GameEnd::Checkmate},
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", GameEnd::Stalemate},
      {"4k3/8/8/8/8/8/8/R3K3 w - - 99 80", GameEnd::None},
      {"4k3/8/8/8/8/8/8/R3K3 w - - 100 80", GameEnd::FiftyMoves},
      {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 100 80", GameEnd::Checkmate},  // the mate counts
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", GameEnd::InsufficientMaterial},
      {"4k3/8/8/8/8/8/8/4KN2 w - - 120 1", GameEnd::InsufficientMaterial},
      {"4kb2/8/8/8/8/8/8/4K1B1 w - - 0 1", GameEnd::InsufficientMaterial},  // bishops on one colour
      {"4kb2/8/8/8/8/8/8/4KB2 w - - 0 1", GameEnd::None},
      {"4k3/8/8/8/8/8/8/4KNN1 w - - 0 1", GameEnd::None},
      // Dead: besides the kings only bishops, all on one square colour, any
      // number of them on either side.
      {"4k3/8/8/8/8/8/8/3BKB2 w - - 0 1", GameEnd::InsufficientMaterial},           // d1 f1, light
      {"2b1k3/8/8/8/8/1b6/8/4K3 b - - 0 1", GameEnd::InsufficientMaterial},         // c8 b3, light
      {"2b1k3/8/8/8/4B3/1b6/8/3BK3 w - - 0 1", GameEnd::InsufficientMaterial},      // c8 e4 b3 d1, light
      {"4kb2/8/8/4B3/8/8/8/B1B1K3 w - - 0 1", GameEnd::InsufficientMaterial},       // f8 e5 a1 c1, dark
      // Near misses: bishops on both colours, a knight or a pawn beside them.
      {"4k3/8/8/8/8/8/8/2B1KB2 w - - 0 1", GameEnd::None},                          // c1 dark, f1 light
      {"2b1k3/8/8/8/4B3/1b6/8/2B1K3 w - - 0 1", GameEnd::None},                     // c1 dark
      {"4k3/8/8/8/8/8/8/3BKBN1 w - - 0 1", GameEnd::None},
      {"4k3/8/8/8/8/8/P7/3BKB2 w - - 0 1", GameEnd::None},
  };
  for (const auto& [fen, end] : cases) {
    const Board b(fen);
    EXPECT_EQ(b.game_end(), end) << fen;
    EXPECT_EQ(b.is_checkmate(), end == GameEnd::Checkmate) << fen;
    EXPECT_EQ(b.is_stalemate(), end == GameEnd::Stalemate) << fen;
  }
}

TEST(GameEnd, ThreefoldRepetitionComparesWholePositionsSinceSetUp) {
  const Board twice = played(Board(), {"Nf3", "Nf6", "Ng1", "Ng8", "Nf3", "Nf6", "Ng1"});
  EXPECT_FALSE(twice.is_threefold_repetition());
  EXPECT_EQ(played(twice, {"Ng8"}).game_end(), GameEnd::Repetition);
  // Same placement, other castling rights.
  EXPECT_FALSE(played(Board(), {"Nf3", "Nf6", "Rg1", "Rg8", "Rh1", "Rh8", "Ng1", "Ng8", "Nf3", "Nf6", "Ng1", "Ng8"})
                   .is_threefold_repetition());
  // After e2-e4 the position comes back twice: an en-passant square no pawn can use changes
  // nothing, a usable one makes the first occurrence different.
  const auto shuffled = [](std::string_view fen) {
    return played(Board(fen), {"e4", "Kd8", "Kd1", "Ke8", "Ke1", "Kd8", "Kd1", "Ke8", "Ke1"});
  };
  EXPECT_TRUE(shuffled("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1").is_threefold_repetition());
  EXPECT_FALSE(shuffled("4k3/8/8/8/3p4/8/4P3/4K3 w - - 0 1").is_threefold_repetition());
  // Positions are told apart by their keys alone: every piece on one square keys its own.
  std::set<std::uint64_t> keys;
  for (const char piece : std::string("PNBRQpnbrq"))
    keys.insert(detail::repetition_key(detail::position_of(Board(std::string("4k3/8/8/8/3") + piece + "4/8/8/4K3 w - - 0 1"))));
  EXPECT_EQ(keys.size(), 10u);
}

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

TEST(Perft, MatchesPublishedCounts) {
  // Move-path counts from depth 1 upwards.
  const std::pair<const char*, std::vector<std::uint64_t>> cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", {20, 400, 8902, 197281}},
      {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", {48, 2039, 97862, 4085603}},
      {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", {14, 191, 2812, 43238, 674624}},
      {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", {6, 264, 9467, 422333}},
      {"r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", {6, 264, 9467, 422333}},
      {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", {44, 1486, 62379}},
      {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", {46, 2079, 89890}},
      {"QQQQQQQK/Q6Q/Q6Q/Q6Q/Q6Q/QQ5Q/ppQ4Q/knQQQQQQ w - - 0 1", {263}},  // more moves than a game has (218)
  };
  for (const auto& [fen, counts] : cases)
    for (std::size_t depth = 1; depth <= counts.size(); ++depth)
      EXPECT_EQ(Board(fen).perft(static_cast<int>(depth)), counts[depth - 1]) << fen << " depth " << depth;
  const Board queens(cases[7].first);  // and than the move buffer holds inline (256)
  EXPECT_EQ(std::make_pair(queens.perft_divide(1).size(), queens.legal_moves().size()), std::make_pair(263ul, 263ul));
  // Depth 0 is the position itself; a negative depth, or a divide with no move to split, is refused.
  EXPECT_EQ(Board().perft(0), 1u);
  EXPECT_THROW(Board().perft(-1), ai_players::AssertionError);
  EXPECT_THROW(Board().perft_divide(0), ai_players::AssertionError);
}

TEST(Perft, PlayingEachMoveOnTheBoardLeadsWhereGenerationDoes) {
  // The board checks a move it is given on its own square only: every legal
  // move (promotions, castling, en passant) must be taken and land right.
  for (const char* fen : {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                          "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                          "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"}) {
    const Board root(fen);
    std::uint64_t nodes = 0;
    for (const auto& move : root.legal_moves()) {
      Board next = root;
      next.make_internal_move(*move);
      nodes += next.perft(2);
    }
    EXPECT_EQ(nodes, root.perft(3)) << fen;
  }
}
