#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::FakeEngine;

namespace {

std::vector<std::string> coords(const MoveList& moves) {
  std::vector<std::string> out;
  for (const auto& m : moves) out.push_back(m->to_coord());
  return out;
}

// Runs one depth-2 ListTopMoves on the position against a fake engine that
// scores moves as the script says; returns the qualifying moves.
std::vector<std::string> top_moves(const std::string& script, double margin, int multipv,
                                   std::optional<int> mate_limit = std::nullopt,
                                   const std::string& fen = std::string(common::FEN_New_Game)) {
  FakeEngine fake(script);
  AI_BASIC p("Tester", 100);
  p.start_fen = fen;
  p.legalmoves = board::Board(fen).legal_moves();
  TopMoves top = p.ListTopMoves(margin, multipv, 2, std::nullopt, mate_limit);
  EXPECT_EQ(top.analyses.size(), static_cast<std::size_t>(multipv));
  EXPECT_EQ(top.bestline.pv_list, top.analyses.at(0).pv_list);
  return coords(top.topmoves);
}

std::string cp(const std::string& move, int score) {
  return "score " + move + " " + std::to_string(score) + "\n";
}

}  // namespace

TEST(ListTopMoves, MarginIsInclusiveAndMateLimitOneKeepsOnlyTies) {
  const std::string script = cp("e2e4", 50) + cp("d2d4", 50) + cp("g1f3", 45) + cp("b1c3", 20) +
                             "default-score -300\n";
  const std::vector<std::string> all = {"e2e4", "d2d4", "g1f3", "b1c3"};
  EXPECT_EQ(top_moves(script, 30, 5), all);  // 50 - 20 = 30 is still within
  EXPECT_EQ(top_moves(script, 29, 5), (std::vector<std::string>{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top_moves(script, 30, 5, 1), (std::vector<std::string>{"e2e4", "d2d4"}));
  EXPECT_EQ(top_moves(script, 30, 5, 0), all);  // a zero limit caps nothing
  EXPECT_EQ(top_moves(script, -1, 5), std::vector<std::string>{});
}

TEST(ListTopMoves, QuickWinningMateHalvesWideMargins) {
  const int best = MATE_IN(4);
  const std::string script = "score e2e4 mate 4\n" + cp("d2d4", best - 10) + cp("g1f3", best - 19) +
                             cp("b1c3", best - 20) + "default-score 0\n";
  // 20 halves to 10; 19 stays 19.
  EXPECT_EQ(top_moves(script, 20, 4), (std::vector<std::string>{"e2e4", "d2d4"}));
  EXPECT_EQ(top_moves(script, 19, 4), (std::vector<std::string>{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top_moves(script, 41, 4), (std::vector<std::string>{"e2e4", "d2d4", "g1f3", "b1c3"}));

  // A mate in 6 is too slow to narrow anything.
  const std::string slow = "score e2e4 mate 6\n" + cp("d2d4", MATE_IN(6) - 30) + "default-score 0\n";
  EXPECT_EQ(top_moves(slow, 40, 2), (std::vector<std::string>{"e2e4", "d2d4"}));
}

TEST(ListTopMoves, MateLimitCapsTheMarginAlsoWhenLosing) {
  // Black, with five king moves, is mated in 5, 4, 3 or 2 moves.
  const std::string fen = "4k3/8/8/8/8/8/8/R3K3 b - - 0 1";
  const std::string script = "score e8d8 mate -5\nscore e8f8 mate -4\nscore e8e7 mate -3\n"
                             "score e8d7 mate -2\nscore e8f7 mate -2\n";
  // Halving does not apply to a losing score; the cap of mate_limit 2 is MATECP.
  EXPECT_EQ(top_moves(script, 5000, 3, 2, fen), (std::vector<std::string>{"e8d8", "e8f8"}));
  EXPECT_EQ(top_moves(script, 5000, 3, std::nullopt, fen),
            (std::vector<std::string>{"e8d8", "e8f8", "e8e7"}));
  EXPECT_EQ(top_moves(script, 1500, 3, 3, fen), (std::vector<std::string>{"e8d8", "e8f8"}));
}
