#include <gtest/gtest.h>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/host/common.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureBugprint;
using testing_support::CaptureEcho;

TEST(MateIn, FoldsMatesAboveCentipawnsAndRejectsNonPositive) {
  EXPECT_EQ(MATE_IN(1), common::MATE - common::MATECP);
  EXPECT_EQ(MATE_IN(3) - MATE_IN(4), common::MATECP);
  EXPECT_GT(MATE_IN(500), 100000);  // far above any centipawn score
  EXPECT_GT(common::MATE, 3 * common::Queen);
  EXPECT_THROW(MATE_IN(0), AssertionError);
  EXPECT_THROW(MATE_IN(-2), AssertionError);
}

TEST(Chance, BoundsAndEdgeProbabilities) {
  {
    ScriptedDraws draws({0.999, 0.999, 0.0, 0.5, 0.0});
    EXPECT_TRUE(chance(1.5));
    EXPECT_TRUE(chance(1));
    EXPECT_TRUE(chance(0));  // only a draw of exactly 0.0
    EXPECT_FALSE(chance(0));
    EXPECT_FALSE(chance(-0.5));
    EXPECT_EQ(draws.remaining(), 0u);
  }
  EXPECT_THROW(chance(1.6), AssertionError);
  EXPECT_THROW(chance(-0.6), AssertionError);
}

TEST(Random, SeedMakesDrawsRepeatableAndChoiceIsOneDraw) {
  seed(42);
  const double a = random_real(), b = uniform(2, 3);
  seed(42);
  EXPECT_EQ(random_real(), a);
  EXPECT_EQ(uniform(2, 3), b);
  EXPECT_GE(b, 2.0);
  EXPECT_LT(b, 3.0);

  std::vector<int> list{10, 20, 30};
  ScriptedDraws draws({0.0, 0.34, 0.9999});
  EXPECT_EQ(choice(list), 10);
  EXPECT_EQ(choice(list), 20);
  EXPECT_EQ(choice(list), 30);
  EXPECT_THROW(choice(std::vector<int>{}), std::out_of_range);
}

TEST(Analysis, PrintMeShowsAtMostPvnumMoves) {
  CaptureEcho echo;
  std::vector<std::string> pv;
  for (int i = 0; i < 12; ++i) pv.push_back("m" + std::to_string(i));
  Analysis a(-35, 14, pv);
  a.print_me();
  a.print_me(0);
  Analysis(7, 2, {"e2e4", "e7e5"}).print_me();
  ASSERT_EQ(echo.lines.size(), 3u);
  EXPECT_EQ(echo.lines[0],
            "depth:14, score:-35, pv_list=['m0', 'm1', 'm2', 'm3', 'm4', 'm5', 'm6', 'm7', 'm8', 'm9']");
  EXPECT_EQ(echo.lines[1], "depth:14, score:-35, pv_list=[]");
  EXPECT_EQ(echo.lines[2], "depth:2, score:7, pv_list=['e2e4', 'e7e5']");
}

TEST(Bugprint, PadsToSevenLinesAndSkipsNull) {
  CaptureBugprint out;
  bugprint("x");
  EXPECT_EQ(out.lines, (std::vector<std::string>{"x", "", "", "", "", "", ""}));
  out.lines.clear();
  bugprint("a", std::nullopt, "b");
  EXPECT_EQ(out.lines, (std::vector<std::string>{"a", "b", "", "", "", ""}));
}

TEST(Text, PlainFormsOfNumbersAndLists) {
  EXPECT_EQ(to_text(Number(100)), "100");
  EXPECT_EQ(to_text(Number(0.27 * 1000)), "270.0");
  EXPECT_EQ(to_text(0.59), "0.59");
  EXPECT_EQ(format_s("gang:%s; rate:%s", std::string("X"), -0.94), "gang:X; rate:-0.94");
}
