#include <gtest/gtest.h>

#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using V = std::vector<std::string>;

namespace {
// The moves a depth-2 ListTopMoves keeps against a fake engine scoring as the script says.
V top(const std::string& script, double margin, int multipv, std::optional<int> mate_limit = {},
      const std::string& fen = std::string(common::FEN_New_Game)) {
  testing_support::FakeEngine fake(script);
  AI_BASIC p("Tester", 100);
  p.start_fen = fen;
  p.legalmoves = board::Board(fen).legal_moves();
  V out;
  for (const auto& m : p.ListTopMoves(margin, multipv, 2, {}, mate_limit).topmoves) out.push_back(m->to_coord());
  return out;
}
std::string cp(const std::string& move, int score) { return "score " + move + " " + std::to_string(score) + "\n"; }
}  // namespace

TEST(ListTopMoves, InclusiveMarginAndMateLimitCap) {
  const std::string s = cp("e2e4", 50) + cp("d2d4", 50) + cp("g1f3", 45) + cp("b1c3", 20) + "default-score -300\n";
  EXPECT_EQ(top(s, 30, 5), (V{"e2e4", "d2d4", "g1f3", "b1c3"}));
  EXPECT_EQ(top(s, 29, 5), (V{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top(s, 30, 5, 1), (V{"e2e4", "d2d4"}));
  // Black is mated in 5, 4, 3 or 2: mate_limit 2 caps at one mate step; no halving when losing.
  const std::string fen = "4k3/8/8/8/8/8/8/R3K3 b - - 0 1";
  const std::string mated = "score e8d8 mate -5\nscore e8f8 mate -4\nscore e8e7 mate -3\n"
                            "score e8d7 mate -2\nscore e8f7 mate -2\n";
  EXPECT_EQ(top(mated, 5000, 3, 2, fen), (V{"e8d8", "e8f8"}));
  EXPECT_EQ(top(mated, 5000, 3, {}, fen), (V{"e8d8", "e8f8", "e8e7"}));
}

TEST(ListTopMoves, QuickWinningMateHalvesMarginsFrom20) {
  const std::string s = "score e2e4 mate 4\n" + cp("d2d4", MATE_IN(4) - 10) + cp("g1f3", MATE_IN(4) - 19);
  EXPECT_EQ(top(s, 20, 3), (V{"e2e4", "d2d4"}));
  EXPECT_EQ(top(s, 19, 3), (V{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top("score e2e4 mate 6\n" + cp("d2d4", MATE_IN(6) - 30), 40, 2), (V{"e2e4", "d2d4"}));
}
