#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/personas/houd20c.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::FakeEngine;
using V = std::vector<std::string>;

namespace {
// The position after the given moves from the initial one.
struct Game {
  board::Board b;
  MoveList history;
  Game(std::initializer_list<const char*> coords) {
    for (const char* c : coords) history.push_back(b.parse_move(c)), b.make_internal_move(*history.back());
  }
};
}  // namespace

TEST(HOUD20c, StrengthCommandsAndNames) {
  FakeEngine fake;
  {
    testing_support::CaptureEcho echo;
    EXPECT_THROW(HOUD20c(1205), AssertionError);
    EXPECT_TRUE(echo.lines.empty() && fake.received().empty());  // refused before starting
    HOUD20c h;
    EXPECT_EQ(h.Name, "HOUD20c (1200)");
    h.change_elo(1555);  // no multiple-of-ten rule here
    EXPECT_EQ(h.Name, "HOUD20c(1555)");
    EXPECT_EQ(h.ELO, Number(1555));
    EXPECT_EQ(echo.lines, (V{"HOUD20c 1200", "AI:HOUDINI20c; elo_limited=1200", "HOUD20c 1555"}));
  }
  EXPECT_EQ(fake.received(),
            (V{"uci", "ucinewgame", "setoption name Contempt value 0", "setoption name Threads value 1",
               "setoption name UCI_LimitStrength value true", "setoption name UCI_Elo value 1200",
               "setoption name Numa value false", "setoption name UCI_Elo value 1555",
               "setoption name Clear Hash", "uci", "ucinewgame"}));
}

TEST(HOUD20c, PlaysTheMoveAfterTheBestmoveWord) {
  // The leftover answers to "uci" and the info lines are skipped.
  FakeEngine fake("on go depth 30\n> info depth 1 score cp 13 pv d2d4\n> bestmove g1f3 ponder b8c6\n"
                  "on go depth 30\n> info depth 1 score cp 13 pv d2d4\ndie\n");
  const Game game({"e2e4", "e7e5"});
  {
    HOUD20c h;
    EXPECT_EQ(h.GetReply(game.history, game.b.legal_moves())->to_coord(), "g1f3");
    // Without a previous search the engine is not asked; a fixed move is played.
    const std::string fen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 3";
    EXPECT_EQ(h.GetReply({}, board::Board(fen).legal_moves(), fen)->to_coord(), "e2e4");
    const Game d4({"d2d4"});
    EXPECT_EQ(h.GetReply(d4.history, d4.b.legal_moves())->to_coord(), "e7e5");
    // An engine that ends without a bestmove line is an error, not an endless loop.
    EXPECT_THROW(h.GetReply(game.history, game.b.legal_moves()), EngineError);
  }
  V got = fake.received();
  got.erase(got.begin(), got.begin() + 7);
  const std::string start = "position fen " + std::string(common::FEN_New_Game) + " moves";
  EXPECT_EQ(got, (V{start + " e2e4 e7e5", "go depth 30",
                    "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 3 moves",
                    start + " d2d4", start + " e2e4 e7e5", "go depth 30"}));
}
