// Turning one engine "info" line into (score, depth, pv_list).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace testing_support;
using Moves = std::vector<std::string>;
using Triple = std::tuple<int, int, Moves>;

namespace {

class EngineParse : public ::testing::Test {
 protected:
  Triple parse(const std::string& line) { return p_.analyse_engine_outputline_(line); }

  // Checks that the line fails with the parser's diagnostic, and returns how it failed.
  template <class E>
  void expect_failure(const std::string& line) {
    CaptureBugprint bug;
    EXPECT_THROW(parse(line), E) << line;
    EXPECT_EQ(bug.lines, (Moves{"_analyse_output::", line, "", "", "", "", ""}));
  }

  FakeEngine fake_;
  CaptureEcho quiet_;
  AI_BASIC p_{"Talvo", 100};
};

}  // namespace

TEST_F(EngineParse, ReadsScoreDepthAndLineFromWholeTokens) {
  EXPECT_EQ(parse("info depth 14 multipv 2 score cp -35 nodes 5000 pv g1f3 d7d5 d2d4"),
            Triple(-35, 14, Moves{"g1f3", "d7d5", "d2d4"}));
  // seldepth and multipv are not depth and pv; the first depth counts.
  EXPECT_EQ(parse("info seldepth 30 depth 9 seldepth 12 multipv 1 score cp 0 pv e2e4 depth 3\n"),
            Triple(0, 9, Moves{"e2e4", "depth", "3"}));
  EXPECT_EQ(parse("  info\tdepth 20 score cp +12 lowerbound nodes 1 pv a7a8q\r\n"), Triple(12, 20, Moves{"a7a8q"}));
  EXPECT_EQ(parse("info depth 3 score 57 pv"), Triple(57, 3, Moves{}));
  EXPECT_EQ(parse("info depth 3 score cp -350 pv e2e4"), Triple(-350, 3, Moves{"e2e4"}));
}

TEST_F(EngineParse, FoldsMatesIntoTheScoreScale) {
  EXPECT_EQ(parse("info depth 20 score mate 3 pv e7e5"), Triple(MATE_IN(3), 20, Moves{"e7e5"}));
  EXPECT_EQ(parse("info depth 20 score mate -2 pv e7e5"), Triple(-MATE_IN(2), 20, Moves{"e7e5"}));
  // A mate count wins over a cp token elsewhere in the line.
  EXPECT_EQ(std::get<0>(parse("info depth 5 cp 10 score mate 1 pv a1a2")), MATE_IN(1));
}

TEST_F(EngineParse, BadLinesFailAfterTheDiagnostic) {
  expect_failure<AssertionError>("info depth 20 score mate 0 pv e7e5");
  expect_failure<AssertionError>("info depth 20 mate 3 score cp 1 pv e7e5");  // mate not after score
  expect_failure<Error>("info depth 20 score cp 10");                          // no pv
  expect_failure<Error>("info seldepth 20 score cp 10 pv e2e4");               // no depth
  expect_failure<Error>("info depth 12x score cp 10 pv e2e4");                 // not an integer
  expect_failure<Error>("info depth 12 score cp 1.5 pv e2e4");
  expect_failure<Error>("info depth 12 score cp");                             // value missing at the end
  expect_failure<Error>("info depth 12 score cp 99999999999 pv e2e4");         // out of range
  expect_failure<Error>("");
}
