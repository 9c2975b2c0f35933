#include <gtest/gtest.h>

#include "ai_players/core/random.h"
#include "ai_players/personas/verevovera.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;
using V = std::vector<std::string>;

namespace {
V received_starting(const FakeEngine& fake, const std::string& prefix) {
  V out;
  for (const auto& line : fake.received())
    if (line.starts_with(prefix)) out.push_back(line);
  return out;
}
}  // namespace

TEST(VerevoveraPreview, SameMoveWorseMoveAndMoveThatWinsTheHeadToHead) {
  // The head-to-head of g1f3 and e2e4 is scripted; the other searches use the scores.
  FakeEngine fake("score e2e4 40 e7e5\nscore d2d4 30\n"
                  "on go depth 7 searchmoves g1f3 e2e4\n> info depth 7 score cp 55 pv g1f3 d7d5\n> bestmove g1f3\n"
                  "on go depth 7 searchmoves e2e4\n> info depth 7 score cp 35 pv e2e4\n> bestmove e2e4\n");
  Verevovera v;
  const board::Board start;
  const MoveList legal = start.legal_moves();
  CaptureEcho echo;
  const auto preview = [&](const char* human) {
    const Preview r = v.Ask_For_Preview({}, *start.parse_move(human), legal);
    return std::make_tuple(r.best_score, r.actual_score, r.best_line);
  };
  EXPECT_EQ(preview("e2e4"), std::make_tuple(40, 40, V{"e2e4", "e7e5"}));
  EXPECT_EQ(received_starting(fake, "go depth 7").size(), 2u);  // one search of two lines
  EXPECT_EQ(preview("b1c3"), std::make_tuple(40, 0, V{"e2e4", "e7e5"}));
  EXPECT_EQ(preview("g1f3"), std::make_tuple(55, 35, V{"g1f3", "d7d5"}));
  EXPECT_EQ(echo.lines, (V{"Preview: best:e2e4 -> 40, actual:b1c3 -> 0",
                           "Preview: best:e2e4 -> 55, actual:g1f3 -> 35"}));
}

TEST(VerevoveraPreview, SingleLineHeadToHeadKeepsTheFirstSearch) {
  const std::string fen = "7k/8/8/8/8/8/6q1/7K w - - 0 1";  // h1g2 is the only legal move
  FakeEngine fake("score h1g2 -30\n");
  Verevovera v;
  CaptureEcho echo;
  const Preview r = v.Ask_For_Preview({}, *board::Board("7k/8/8/8/8/8/8/7K w - - 0 1").parse_move("h1h2"),
                                      board::Board(fen).legal_moves(), fen);
  EXPECT_EQ(std::make_tuple(r.best_score, r.actual_score, r.best_line), std::make_tuple(-30, -30, V{"h1g2"}));
  EXPECT_EQ(echo.lines, V{"Preview: best:h1g2 -> -30, actual:h1h2"});
  EXPECT_EQ(received_starting(fake, "position fen ").back(), "position fen " + fen + " moves");
  EXPECT_EQ(received_starting(fake, "go depth").back(), "go depth 7 searchmoves h1h2 h1g2");
}

TEST(VerevoveraReply, RandomAmongTheBestWithinNineByDefault) {
  FakeEngine fake("score e2e4 30\nscore d2d4 21\nscore g1f3 20\ndefault-score -40\n");
  Verevovera v;
  v.legalmoves = board::Board().legal_moves();
  CaptureEcho echo;
  ScriptedDraws draws({0.99, 0.99, 0.99});
  EXPECT_EQ(v.GetReply_(std::nullopt)->to_coord(), "d2d4");
  EXPECT_EQ(v.GetReply_()->to_coord(), "d2d4");
  EXPECT_EQ(v.GetReply_(10)->to_coord(), "g1f3");
  EXPECT_EQ(echo.lines.back(), "bestline: score 30; pv e2e4");
  // A node budget: the probe, then five lines at the depth it found.
  EXPECT_EQ(received_starting(fake, "go infinite").size(), 3u);
  EXPECT_EQ(received_starting(fake, "go depth 11 searchmoves").size(), 15u);
}
