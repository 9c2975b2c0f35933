#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/score.h"
#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "support/test_support.h"

using namespace ai_players;
using Lines = std::vector<std::string>;

TEST(Core, MateInChanceAndChoiceBounds) {
  EXPECT_GT(MATE_IN(500), 100000);  // far above any centipawn score

  ScriptedDraws draws({0.999, 0.0, 0.5, 0.0, 0.6, 0.9999});
  EXPECT_TRUE(chance(1.5));
  EXPECT_TRUE(chance(0));  // only a draw of exactly 0.0
  EXPECT_FALSE(chance(0));
  EXPECT_FALSE(chance(-0.5));
  EXPECT_THROW(chance(1.6), AssertionError);
  EXPECT_THROW(chance(-0.6), AssertionError);
  const std::vector<int> list{10, 20, 30};
  EXPECT_EQ(choice(list) + choice(list), 50);  // draws 0.6 and 0.9999: 20 and 30
  EXPECT_EQ(draws.remaining(), 0u);
}

TEST(Core, ScoresKnowMatesAndTheirSide) {
  using V = std::vector<std::string>;
  const std::vector<int> values = {25, -130, 0, 3000, MATE_IN(3), -MATE_IN(1), MATE_IN(40)};
  V texts, evals;
  for (int v : values) {
    texts.push_back(Score(v).text());
    evals.push_back(Score(v).eval_text());
  }
  EXPECT_EQ(texts, (V{"+0.25", "-1.30", "+0.00", "+30.00", "mate in 3", "mated in 1", "mate in 40"}));
  EXPECT_EQ(evals, (V{"0.25", "-1.30", "0.00", "30.00", "#3", "#-1", "#40"}));
  EXPECT_EQ(Score::mate_in(-2), Score(-MATE_IN(2)));
  EXPECT_EQ(Score(-MATE_IN(2)).mate(), -2);
  EXPECT_EQ(Score(4000).mate(), 0);
  EXPECT_EQ(Score(-MATE_IN(7)).clamped(1000), -1000);
  EXPECT_EQ(Score(-1001).clamped(1000), -1000);
  const PovScore black_to_move{Score(120), common::BLACK};
  EXPECT_EQ(black_to_move.white(), Score(-120));
  EXPECT_EQ(black_to_move.pov(common::BLACK), Score(120));
}

TEST(Core, PrintMeBugprintAndPlainTexts) {
  {
    testing_support::CaptureEcho echo;
    Lines pv;
    for (int i = 0; i < 12; ++i) pv.push_back(std::string("m").append(std::to_string(i)));
    Analysis(-35, 14, pv).print_me();
    Analysis(7, 2, {"e2e4"}).print_me(0);
    EXPECT_EQ(echo.lines, (Lines{"depth:14, score:-35, pv_list=['m0', 'm1', 'm2', 'm3', 'm4', 'm5', 'm6', 'm7', "
                                 "'m8', 'm9']",
                                 "depth:2, score:7, pv_list=[]"}));
  }
  testing_support::CaptureBugprint out;
  bugprint("a", std::nullopt, "b", std::optional<int>(), std::optional<int>(3));
  EXPECT_EQ(out.lines, (Lines{"a", "b", "3", "", ""}));  // seven lines less the null ones

  EXPECT_EQ(to_text(Number(0.27 * 1000)), "270.0");
  EXPECT_EQ(format_s("gang:%s; rate:%s; n:%s", std::string("X"), -0.94, Number(100)), "gang:X; rate:-0.94; n:100");
  EXPECT_EQ(format_s("%s-%s", 1), "1-%s");  // more holes than values: the rest stay
  // An excerpt is cut only past its limit, counted after stripping.
  EXPECT_EQ(quoted_excerpt(" abc \n", 3), "'abc'");
  EXPECT_EQ(quoted_excerpt("abcd", 3), "'abc...'");
  EXPECT_EQ(quoted_excerpt(std::string(200, 'x')), "'" + std::string(200, 'x') + "'");
  EXPECT_EQ(strip(" \t\r\n"), "");
  EXPECT_EQ(lower("AZaz@[`{\xC3\x89"), "azaz@[`{\xC3\x89");
}

TEST(Core, Utf8IsStrictFromTheFirstByteToTheLast) {
  for (const char* good : {"", "plain", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEF\xBF\xBF",
                           "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "a\xC3\xA9" "b"})
    EXPECT_TRUE(is_valid_utf8(good)) << good;
  for (const char* bad : {"\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xF5\x80\x80\x80", "\xFF", "\xE0\x9F\xBF",
                          "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xC2", "\xE2\x82", "\xC2\x7F",
                          "\xC2\xC0", "\xE2\x82\x7F", "\xF0\x90\x80\xC0", "ok\xFF"})
    EXPECT_FALSE(is_valid_utf8(bad)) << bad;
  EXPECT_TRUE(is_valid_utf8(std::string_view("ok\xFF", 2)));  // up to the view's end, not the string's
}

TEST(Core, OneErrorHierarchyAndChecksThatKnowWhereTheyFailed) {
  // Everything the library throws is an ai_players::Error.
  EXPECT_THROW(board::Board("8/8/8/8 w - - 0 1"), Error);  // FenError
  EXPECT_THROW(board::Board().parse_move("e2e5"), Error);  // IllegalMoveError
  EXPECT_THROW(common::to_num("i9"), Error);               // SquareError
  EXPECT_THROW(MATE_IN(0), Error);                         // AssertionError

  // A failed check has no message but knows its place.
  try {
    MATE_IN(0);
  } catch (const AssertionError& e) {
    EXPECT_STREQ(e.what(), "");
    EXPECT_EQ(describe(e), "an internal check failed in MATE_IN (ai_players/core/analysis.cpp:" + std::to_string(e.line()) + ")");
  }
  const unsigned here = __LINE__ + 2;
  try {
    throw AssertionError{};  // a throw site carries its place without saying so
  } catch (const AssertionError& e) {
    EXPECT_EQ(e.line(), here);
    EXPECT_TRUE(std::string_view(e.file()).ends_with("core_test.cpp")) << e.file();
    EXPECT_NE(std::string_view(e.function()).find("TestBody"), std::string_view::npos) << e.function();
  }
}

TEST(Core, ScopedSinksRestoreThePreviousSinkAlsoOnAnException) {
  testing_support::CaptureEcho outer;
  testing_support::CaptureBugprint bugs;
  try {
    const testing_support::CaptureEcho inner;  // nested guards of both kinds
    const ScopedBugprintSink diagnostics([](std::string_view) {});
    throw std::runtime_error("leave the scope");
  } catch (const std::runtime_error&) {
  }
  common::echo("to outer");
  bugprint("x");
  EXPECT_EQ(outer.lines, Lines{"to outer"});
  EXPECT_EQ(bugs.lines, (Lines{"x", "", "", "", "", "", ""}));  // to the outer sink, in its seven lines
}
