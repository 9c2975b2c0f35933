#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/host/board.h"
#include "support/cli_process.h"

using ai_players::board::Board;

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

TEST(PerftCommand, PrintsRootMovesThenTheTotalOrTheFenError) {
  const auto ok = testing_support::run_cli({"perft", "--depth", "2", "--fen", "4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"});
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("\ne1c1: 3\n"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("\n\nNodes searched: 71\n"), std::string::npos) << ok.out;
  const auto bad = testing_support::run_cli({"perft", "--fen", "8/8/8/8 w - - 0 1"});
  EXPECT_NE(bad.status, 0);
  EXPECT_NE((bad.out + bad.err).find("invalid FEN (4 ranks instead of 8)"), std::string::npos) << bad.err;
}
