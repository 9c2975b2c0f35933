#include <gtest/gtest.h>

#include "support/cli_process.h"
#include "support/fake_engine_session.h"

namespace {

using testing_support::run_cli;

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The preview persona's engine ranks e4 first and Nf3 second; every other move lower.
const char* kScores = "default-score -50\nscore e2e4 25\nscore g1f3 -12\n";

TEST(CliPlay, MovesInSanOrCoordinatesWithPreviewsAndBadInputLosesNothing) {
  testing_support::FakeEngine fake(kScores);
  const auto r = run_cli({"play", "--persona", "Talvo", "--seed", "1"}, "Nf3\nzz\ne2e5\n\nmoves\nd2d4\nquit\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Your move Nf3 scored -0.12 against the engine's best e4 (+0.25)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("'zz' is not a legal move here"), std::string::npos);
  EXPECT_NE(r.out.find("'e2e5' is not a legal move here"), std::string::npos);
  EXPECT_NE(r.out.find("Legal moves: "), std::string::npos);
  // After the bad lines the same game goes on: the coordinate move is judged and answered.
  EXPECT_NE(r.out.find("Your move d4 scored -0.50 against the engine's best e4 (+0.25)"), std::string::npos)
      << r.out;
  EXPECT_EQ(count(r.out, "Talvo plays "), 2u);
  EXPECT_EQ(count(r.out, "Your move: "), 7u);  // one prompt per line typed
  EXPECT_EQ(count(r.out, "a b c d e f g h"), 5u);  // the board before play and after each of four moves
  EXPECT_NE(r.out.find("You left the game."), std::string::npos);
  EXPECT_EQ(r.out.find("Talvo 100"), std::string::npos) << "library chatter on standard output";
}

TEST(CliPlay, AsBlackThePersonaMovesFirstAndTheEndOfInputEndsCleanly) {
  testing_support::FakeEngine fake(kScores);
  const auto r = run_cli({"play", "--persona", "talvo", "--color", "black"}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Talvo plays e4"), std::string::npos) << r.out;  // the fixed first reply
  EXPECT_NE(r.out.find("End of input"), std::string::npos);
}

TEST(CliPlay, TheGameEndsWhenTheRulesSay) {
  testing_support::FakeEngine fake;
  const auto r = run_cli({"play", "--persona", "Talvo", "--no-preview", "--fen", "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1"},
                         "Ra8\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Game over: 1-0 (checkmate)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("scored"), std::string::npos);  // no preview asked for
}

TEST(CliPlay, BadPersonaOrColourFails) {
  testing_support::FakeEngine fake;
  const auto unknown = run_cli({"play", "--persona", "Nobody"}, "e4\n");
  EXPECT_NE(unknown.status, 0);
  EXPECT_NE(unknown.err.find("unknown persona 'Nobody'"), std::string::npos) << unknown.err;
  const auto disabled = run_cli({"play", "--persona", "disabled.Athena"}, "e4\n");
  EXPECT_NE(disabled.status, 0);
  EXPECT_NE(disabled.err.find("cannot be built"), std::string::npos) << disabled.err;
  EXPECT_NE(run_cli({"play", "--persona", "Talvo", "--color", "green"}).status, 0);
}

}  // namespace
