#include <gtest/gtest.h>

#include <cmath>

#include "ai_players/core/analysis.h"
#include "match_stats.h"
#include "score_text.h"

namespace ai_players::app {
namespace {

TEST(Tally, CountsEachResultFromTheCountedPlayersSide) {
  Tally t;
  t.add("1-0", true);      // won with White
  t.add("1-0", false);     // lost with Black
  t.add("0-1", false);     // won with Black
  t.add("1/2-1/2", false);
  t.add("*", true);        // stopped early: not scored
  EXPECT_EQ(t.wins, 2);
  EXPECT_EQ(t.losses, 1);
  EXPECT_EQ(t.draws, 1);
  EXPECT_EQ(t.unfinished, 1);
  EXPECT_EQ(t.scored_games(), 4);
  EXPECT_DOUBLE_EQ(t.points(), 2.5);
  EXPECT_DOUBLE_EQ(t.score(), 0.625);
  EXPECT_DOUBLE_EQ(Tally{}.score(), 0.5);  // nothing scored yet reads as even
}

TEST(Elo, LogisticDifferenceFromTheScore) {
  EXPECT_NEAR(elo_from_score(0.75), 190.8485, 1e-3);
  EXPECT_NEAR(elo_from_score(0.25), -190.8485, 1e-3);
  EXPECT_DOUBLE_EQ(elo_from_score(0.5), 0.0);
  EXPECT_TRUE(std::isinf(elo_from_score(1.0)) && elo_from_score(1.0) > 0);
  EXPECT_TRUE(std::isinf(elo_from_score(0.0)) && elo_from_score(0.0) < 0);
}

TEST(Elo, MarginFollowsThePerGameVariance) {
  const auto mixed = estimate_elo({6, 2, 2});
  EXPECT_NEAR(mixed.difference, 147.19, 0.01);
  EXPECT_NEAR(mixed.margin, 268.73, 0.01);

  const auto drawish = estimate_elo({10, 20, 10});  // many draws: narrow interval
  EXPECT_NEAR(drawish.difference, 0, 1e-9);
  EXPECT_NEAR(drawish.margin, 77.39, 0.01);

  const auto losing = estimate_elo({2, 5, 13});
  EXPECT_NEAR(losing.difference, -214.85, 0.01);
  EXPECT_NEAR(losing.margin, 168.40, 0.01);

  // More games of the same mix narrow the interval.
  EXPECT_LT(estimate_elo({30, 40, 30}).margin, drawish.margin);
}

TEST(Elo, DegenerateMatches) {
  const auto all_draws = estimate_elo({0, 5, 0});
  EXPECT_EQ(all_draws.difference, 0);
  EXPECT_EQ(all_draws.margin, 0);
  EXPECT_EQ(format_elo(all_draws), "+0 +/- 0");

  EXPECT_EQ(format_elo(estimate_elo({4, 0, 0})), "+inf");
  EXPECT_EQ(format_elo(estimate_elo({0, 1, 3})), "-338 +/- inf");  // the interval reaches a score of 0
  EXPECT_EQ(format_elo(estimate_elo({3, 0, 1})), "+191 +/- inf");
  EXPECT_EQ(format_elo(estimate_elo({6, 2, 2})), "+147 +/- 269");
  EXPECT_EQ(format_elo({-0.3, 12.4}), "+0 +/- 12");  // no "-0"
}

TEST(ScoreText, PawnsForCentipawnsAndMovesForMates) {
  EXPECT_EQ(score_text(25), "+0.25");
  EXPECT_EQ(score_text(-130), "-1.30");
  EXPECT_EQ(score_text(0), "+0.00");
  EXPECT_EQ(score_text(MATE_IN(3)), "mate in 3");
  EXPECT_EQ(score_text(-MATE_IN(1)), "mated in 1");
  EXPECT_EQ(score_text(MATE_IN(40)), "mate in 40");
  EXPECT_EQ(score_text(3000), "+30.00");  // a big material edge is no mate
}

}  // namespace
}  // namespace ai_players::app
