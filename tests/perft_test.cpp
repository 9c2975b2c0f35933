#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <sys/wait.h>

#include "ai_players/host/board.h"
#include "support/test_support.h"

using ai_players::board::Board;

namespace {

// Published move-path counts, depth 1 upwards.
struct Published {
  const char* name;
  const char* fen;
  std::vector<std::uint64_t> counts;
};

const Published kPositions[] = {
    {"initial", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", {20, 400, 8902, 197281, 4865609}},
    {"kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", {48, 2039, 97862, 4085603}},
    {"position 3", "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", {14, 191, 2812, 43238, 674624}},
    {"position 4", "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", {6, 264, 9467, 422333}},
    {"position 4 mirrored", "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", {6, 264, 9467, 422333}},
    {"position 5", "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", {44, 1486, 62379, 2103487}},
    {"position 6", "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
     {46, 2079, 89890, 3894594}},
};

}  // namespace

TEST(Perft, MatchesPublishedCounts) {
  for (const Published& p : kPositions) {
    const Board board(p.fen);
    for (std::size_t depth = 1; depth <= p.counts.size(); ++depth)
      EXPECT_EQ(board.perft(static_cast<int>(depth)), p.counts[depth - 1]) << p.name << " depth " << depth;
  }
}

TEST(Perft, DivideSplitsTheCountByRootMove) {
  const Board kiwi(kPositions[1].fen);
  const auto divide = kiwi.perft_divide(2);
  ASSERT_EQ(divide.size(), 48u);
  const auto sum = std::accumulate(divide.begin(), divide.end(), std::uint64_t{0},
                                   [](std::uint64_t total, const auto& entry) { return total + entry.second; });
  EXPECT_EQ(sum, 2039u);
  EXPECT_EQ(Board().perft(0), 1u);
}

namespace {

// Runs the perft command; returns its exit status and what it printed.
std::pair<int, std::string> run_cli(const std::string& args) {
  FILE* pipe = popen((std::string(testing_support::cli_path()) + " perft " + args + " 2>&1").c_str(), "r");
  std::string output;
  char chunk[4096];
  for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace

TEST(PerftCommand, PrintsRootMovesThenTheTotal) {
  const auto [status, output] = run_cli("--depth 2 --fen '4k3/8/8/8/8/8/8/R3K3 w Q - 0 1'");
  EXPECT_EQ(status, 0);
  EXPECT_NE(output.find("\ne1c1: 3\n"), std::string::npos) << output;
  EXPECT_NE(output.find("\n\nNodes searched: 71\n"), std::string::npos) << output;

  const auto [bad_status, bad_output] = run_cli("--fen '8/8/8/8 w - - 0 1'");
  EXPECT_NE(bad_status, 0);
  EXPECT_NE(bad_output.find("invalid FEN (4 ranks instead of 8)"), std::string::npos) << bad_output;
}
