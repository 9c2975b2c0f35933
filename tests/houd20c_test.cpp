#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/personas/houd20c.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;
using testing_support::ScopedEnv;

namespace {

const std::vector<std::string> STARTUP = {"uci", "ucinewgame", "setoption name Contempt value 0",
                                          "setoption name Threads value 1"};

MovePtr find(const MoveList& moves, const std::string& coord) {
  for (const auto& m : moves)
    if (m->to_coord() == coord) return m;
  throw std::runtime_error(coord + " is not legal");
}

struct Game {
  board::Board b;
  MoveList history;
  explicit Game(std::vector<std::string> coords, const std::string& fen = std::string(common::FEN_New_Game))
      : b(fen) {
    for (const auto& c : coords) {
      MovePtr m = find(b.legal_moves(), c);
      b.make_internal_move(*m);
      history.push_back(m);
    }
  }
};

bool has_line(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.starts_with(prefix)) return true;
  return false;
}

}  // namespace

TEST(HOUD20c, SetsTheEngineStrengthAndChangesIt) {
  FakeEngine fake;
  {
    CaptureEcho echo;
    HOUD20c h;
    EXPECT_EQ(h.Name, "HOUD20c (1200)");
    EXPECT_EQ(echo.lines.back(), "AI:HOUDINI20c; elo_limited=1200");
    h.change_elo(1555);  // no multiple-of-ten rule here
    EXPECT_EQ(h.Name, "HOUD20c(1555)");
    EXPECT_EQ(h.ELO, Number(1555));
    EXPECT_EQ(echo.lines.back(), "HOUD20c 1555");
  }
  std::vector<std::string> expected = STARTUP;
  for (const char* line :
       {"setoption name UCI_LimitStrength value true", "setoption name UCI_Elo value 1200",
        "setoption name Numa value false", "setoption name UCI_Elo value 1555",
        "setoption name Clear Hash", "uci", "ucinewgame"})
    expected.push_back(line);
  EXPECT_EQ(fake.received(), expected);
}

TEST(HOUD20c, RefusesFiguresThatAreNotMultiplesOfTenBeforeStarting) {
  FakeEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(HOUD20c(1205), AssertionError);
  EXPECT_TRUE(echo.lines.empty());
  EXPECT_TRUE(fake.received().empty());
  EXPECT_NO_THROW(HOUD20c(Number(1500.0)));
}

TEST(HOUD20c, PrefersTheEloEngineOverride) {
  FakeEngine fake;
  ScopedEnv elo("AI_PLAYERS_ELO_ENGINE", testing_support::fake_engine_path());
  ScopedEnv plain("AI_PLAYERS_ENGINE", "/nonexistent/engine");
  { HOUD20c h(2000); }
  EXPECT_TRUE(has_line(fake.received(), "setoption name UCI_Elo value 2000"));
}

TEST(HOUD20c, FixedRepliesWithoutASearchWhereTheDriverHasNone) {
  FakeEngine fake;
  // The standard position under another text: no shortcut in the driver.
  const std::string fen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 3";
  {
    HOUD20c h;
    EXPECT_EQ(h.GetReply({}, board::Board(fen).legal_moves(), fen)->to_coord(), "e2e4");
    const Game after_d4({"d2d4"});
    EXPECT_EQ(h.GetReply(after_d4.history, after_d4.b.legal_moves())->to_coord(), "e7e5");
  }
  const std::vector<std::string> got = fake.received();
  EXPECT_TRUE(has_line(got, "position fen " + fen + " moves"));
  EXPECT_TRUE(has_line(got, "position fen " + std::string(common::FEN_New_Game) + " moves d2d4"));
  EXPECT_FALSE(has_line(got, "go"));
}

TEST(HOUD20c, EngineEndingBeforeItsBestmoveIsAnError) {
  FakeEngine fake("on go depth 30\n> info depth 1 score cp 13 pv d2d4\ndie\n");
  const Game game({"e2e4", "e7e5"});
  HOUD20c h;
  EXPECT_THROW(h.GetReply(game.history, game.b.legal_moves()), EngineError);
}

TEST(HOUD20c, ReadsTheMoveAfterTheBestmoveWord) {
  FakeEngine fake(
      "on go depth 30\n> info depth 1 score cp 13 pv d2d4\n> info depth 2 score cp 20 pv g1f3 b8c6\n"
      "> bestmove g1f3 ponder b8c6\n");
  std::vector<std::string> got;
  {
    const Game game({"e2e4", "e7e5"});
    const MoveList legal = game.b.legal_moves();
    HOUD20c h;
    const MovePtr reply = h.GetReply(game.history, legal);
    EXPECT_EQ(reply->to_coord(), "g1f3");
  }
  got = fake.received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[got.size() - 2], "position fen " + std::string(common::FEN_New_Game) + " moves e2e4 e7e5");
  EXPECT_EQ(got.back(), "go depth 30");
}
