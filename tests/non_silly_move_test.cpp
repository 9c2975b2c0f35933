// The non-silly fall-back choice against scripted engine lines: the exits of
// its decision chain and its draws.
#include <gtest/gtest.h>

#include <algorithm>

#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;

namespace {

const std::string kAfterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1";

// A player whose opponent has just played `move` from `before`.
struct Player {
  testing_support::FakeEngine fake;
  AI_BASIC p{"tester", 1000};
  testing_support::CaptureEcho echo;

  Player(const std::string& script, const std::string& before, const std::string& move) : fake(script) {
    board::Board b(before);
    p.game_history = {b.parse_move(move)};
    b.make_internal_move(*p.game_history[0]);
    p.start_fen = before;
    p.legalmoves = b.legal_moves();
    p.myside = b.side_to_move;
    p.oppside = -p.myside;
  }
  MovePtr operator[](const std::string& coord) const {
    return *std::find_if(p.legalmoves.begin(), p.legalmoves.end(), [&](auto& m) { return m->to_coord() == coord; });
  }
  std::string select(const MoveList& top, std::vector<double> draws, const std::string& expected_log) {
    ScriptedDraws d(std::move(draws));
    const std::string reply = p.SelectNonSillyMove(top, 3)->to_coord();
    EXPECT_EQ(d.remaining(), 0u);
    EXPECT_NE(std::find(echo.lines.begin(), echo.lines.end(), "nonsillymove: " + expected_log), echo.lines.end());
    return reply;
  }
};

TEST(NonSillyMove, ReflexesBeforeTheFilters) {
  Player only("", "1r5k/8/8/8/8/8/7r/K7 b - - 0 1", "b8a8");  // Kb1 is the only move
  EXPECT_EQ(only.select({only["a1b1"]}, {0.0}, "len_analyses==1 -> topd2moves"), "a1b1");
  // The knight has just taken a rook: it is taken back from near or far, first candidate first.
  Player rook("", "4k3/8/8/8/3n4/1R5R/P7/4K3 b - - 0 1", "d4b3");
  EXPECT_EQ(rook.select({rook["h3b3"], rook["a2b3"]}, {}, "capture_lastply.piece"), "h3b3");
  EXPECT_EQ(rook.select({rook["a2b3"], rook["h3b3"]}, {}, "capture_lastply.piece"), "a2b3");
  // It took only a pawn: the far rook is no reflex, but capture mania takes the knight.
  Player pawn("score h3b3 300 e8d7\n", "4k3/8/8/8/3n4/1P5R/8/4K3 b - - 0 1", "d4b3");
  EXPECT_EQ(pawn.select({pawn["h3b3"]}, {0.5, 0.0}, "capture_mania_lastply.captured"), "h3b3");
}

TEST(NonSillyMove, FallBacksAndTheGeneralChoice) {
  Player none("", kAfterD4, "d7d5");  // no line has a reply: every move is dropped
  EXPECT_EQ(none.select({none["e2e4"], none["g1f3"]}, {0.5, 0.6}, "no_moves -> topd2moves"), "g1f3");
  // A single piece with few moves left: a third of the time the candidates decide.
  Player knight("score g1f3 10 g8f6\n", kAfterD4, "d7d5");
  EXPECT_EQ(knight.select({knight["e2e4"]}, {0.5, 0.2, 0.0}, "constrained_king_situation -> topd2moves"), "e2e4");
  EXPECT_EQ(knight.select({knight["e2e4"]}, {0.5, 0.5, 0.0}, "general, 1 choices"), "g1f3");
  // Pawn moves are accepted reluctantly: the double step is rejected after one draw, the
  // single step after two, then the single step is accepted.
  Player pawns("score a2a3 10 g8f6\nscore a2a4 10 g8f6\nscore b1c3 10 g8f6\n", kAfterD4, "d7d5");
  std::vector<std::string> order;  // the surviving moves, in legal-move order
  for (const MovePtr& m : pawns.p.legalmoves)
    if (m->to_coord() == "a2a3" || m->to_coord() == "a2a4" || m->to_coord() == "b1c3") order.push_back(m->to_coord());
  const auto at = [&](const char* c) { return (std::find(order.begin(), order.end(), c) - order.begin() + 0.5) / 3; };
  EXPECT_EQ(pawns.select({pawns["e2e4"]}, {0.5, at("a2a4"), 0.5, at("a2a3"), 0.5, 0.15, at("a2a3"), 0.5, 0.05},
                         "general, 3 choices"),
            "a2a3");
}

}  // namespace
