#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ai_players/core/random.h"
#include "ai_players/personas/verevovera.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;

namespace {

MovePtr find(const MoveList& moves, const std::string& coord) {
  for (const auto& m : moves)
    if (m->to_coord() == coord) return m;
  throw std::runtime_error(coord + " is not legal");
}

std::vector<std::string> lines_starting(const FakeEngine& fake, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& line : fake.received())
    if (line.starts_with(prefix)) out.push_back(line);
  return out;
}

std::vector<std::string> previews(const CaptureEcho& echo) {
  std::vector<std::string> out;
  for (const auto& line : echo.lines)
    if (line.starts_with("Preview:")) out.push_back(line);
  return out;
}

}  // namespace

TEST(VerevoveraPreview, ComparesTheHumansMoveWithTheEnginesBest) {
  // The head-to-head search of g1f3 against e2e4 is scripted to rank g1f3
  // first; every other search runs on the fixed scores.
  FakeEngine fake(
      "score e2e4 40 e7e5 g1f3\nscore d2d4 30 d7d5\ndefault-score 0\n"
      "on go depth 7 searchmoves g1f3 e2e4\n> info depth 7 score cp 55 pv g1f3 d7d5\n> bestmove g1f3\n"
      "on go depth 7 searchmoves e2e4\n> info depth 7 score cp 35 pv e2e4 e7e5\n> bestmove e2e4\n");
  Verevovera v;
  const MoveList legal = board::Board().legal_moves();
  CaptureEcho echo;

  // The best move itself: one search of two lines, nothing logged.
  Preview same = v.Ask_For_Preview({}, *find(legal, "e2e4"), legal);
  EXPECT_EQ(same.best_score, 40);
  EXPECT_EQ(same.actual_score, 40);
  EXPECT_EQ(same.best_line, (std::vector<std::string>{"e2e4", "e7e5", "g1f3"}));
  EXPECT_EQ(lines_starting(fake, "go depth 7").size(), 2u);
  EXPECT_TRUE(previews(echo).empty());

  // A worse move: the head-to-head search gives both scores.
  Preview worse = v.Ask_For_Preview({}, *find(legal, "b1c3"), legal);
  EXPECT_EQ(worse.best_score, 40);
  EXPECT_EQ(worse.actual_score, 0);
  EXPECT_EQ(worse.best_line, (std::vector<std::string>{"e2e4", "e7e5", "g1f3"}));
  EXPECT_EQ(lines_starting(fake, "go depth 7 searchmoves b1c3 e2e4").size(), 1u);

  // A move that wins the head-to-head comes first.
  Preview better = v.Ask_For_Preview({}, *find(legal, "g1f3"), legal);
  EXPECT_EQ(better.best_score, 55);
  EXPECT_EQ(better.actual_score, 35);
  EXPECT_EQ(better.best_line, (std::vector<std::string>{"g1f3", "d7d5"}));

  EXPECT_EQ(previews(echo), (std::vector<std::string>{"Preview: best:e2e4 -> 40, actual:b1c3 -> 0",
                                                      "Preview: best:e2e4 -> 55, actual:g1f3 -> 35"}));
  EXPECT_EQ(lines_starting(fake, "position fen ").back(),
            "position fen " + std::string(common::FEN_New_Game) + " moves");
}

TEST(VerevoveraPreview, SingleLineHeadToHeadKeepsTheFirstSearch) {
  // One legal move; the human's move (from another position) is not it.
  const std::string fen = "7k/8/8/8/8/8/6q1/7K w - - 0 1";
  FakeEngine fake("score h1g2 -30\n");
  Verevovera v;
  const MoveList legal = board::Board(fen).legal_moves();
  const MoveList elsewhere = board::Board("7k/8/8/8/8/8/8/7K w - - 0 1").legal_moves();
  CaptureEcho echo;
  Preview r = v.Ask_For_Preview({}, *find(elsewhere, "h1h2"), legal, fen);
  EXPECT_EQ(r.best_score, -30);
  EXPECT_EQ(r.actual_score, -30);
  EXPECT_EQ(r.best_line, std::vector<std::string>{"h1g2"});
  EXPECT_EQ(previews(echo), std::vector<std::string>{"Preview: best:h1g2 -> -30, actual:h1h2"});
  // The preview's position stays for the next search.
  EXPECT_EQ(v.start_fen, fen);
  EXPECT_EQ(lines_starting(fake, "position fen ").back(), "position fen " + fen + " moves");
  EXPECT_EQ(lines_starting(fake, "go depth 7 searchmoves").back(), "go depth 7 searchmoves h1h2 h1g2");
}

TEST(VerevoveraReply, RandomAmongTheBestWithinNine) {
  FakeEngine fake("score e2e4 30\nscore d2d4 21\nscore g1f3 20\ndefault-score -40\n");
  Verevovera v;
  v.legalmoves = board::Board().legal_moves();
  CaptureEcho echo;
  ScriptedDraws draws({0.99, 0.99, 0.99});
  EXPECT_EQ(v.GetReply_(std::nullopt)->to_coord(), "d2d4");  // 9 below is still in
  EXPECT_EQ(v.GetReply_()->to_coord(), "d2d4");
  EXPECT_EQ(v.GetReply_(10)->to_coord(), "g1f3");
  EXPECT_EQ(echo.lines.back(), "bestline: score 30; pv e2e4");

  // A node-budget search: the probe, then five lines at its depth.
  const std::vector<std::string> got = fake.received();
  EXPECT_NE(std::find(got.begin(), got.end(), "setoption name MultiPV value 5"), got.end());
  EXPECT_NE(std::find(got.begin(), got.end(), "go infinite"), got.end());
  EXPECT_EQ(lines_starting(fake, "go depth 11 searchmoves").size(), 15u);
}

TEST(VerevoveraReply, MateLimitTwoKeepsTheNextQuickestMate) {
  FakeEngine fake("score e2e4 mate 2\nscore d2d4 mate 3\nscore g1f3 mate 4\ndefault-score 0\n");
  Verevovera v;
  v.legalmoves = board::Board().legal_moves();
  ScriptedDraws draws({0.99, 0.99});
  EXPECT_EQ(v.GetReply_(5000)->to_coord(), "d2d4");
  EXPECT_EQ(v.GetReply_(9)->to_coord(), "e2e4");
}
