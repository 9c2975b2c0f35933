#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::FakeEngine;

namespace {

// A player on a fixed board; ConsiderTopD2Moves asks no engine.
struct TopD2 : ::testing::Test {
  FakeEngine fake{""};
  AI_BASIC p{"Tester", 100};
  MoveList moves;

  // Puts the player on fen and returns the named legal moves, in that order.
  MoveList on(const std::string& fen, const std::vector<std::string>& wanted) {
    p.board = board::Board(fen);
    p.myside = p.board.side_to_move;
    moves.clear();
    const MoveList legal = p.board.legal_moves();
    for (const auto& c : wanted) {
      bool found = false;
      for (const auto& m : legal)
        if (m->to_coord() == c) moves.push_back(m), found = true;
      EXPECT_TRUE(found) << c << " is not legal in " << fen;
    }
    return moves;
  }

  // The choice under scripted draws; every draw must be used.
  std::string pick(int best_score, double rate, std::vector<double> draws) {
    ScriptedDraws scripted(std::move(draws));
    MovePtr m = p.ConsiderTopD2Moves(best_score, moves, rate, {});
    EXPECT_EQ(scripted.remaining(), 0u);
    return m ? m->to_coord() : "none";
  }
};

const std::string START(common::FEN_New_Game);
// White (to move 30) has a king move, a capture, a promotion and a quiet move.
const std::string FORCING = "4k3/1P6/8/3p4/8/4N3/8/4K3 w - - 0 30";
// White is a queen up (900: more than a rook, less than queen and bishop).
const std::string QUEEN_UP = "4k3/8/8/8/8/8/8/Q3K3 w - - 0 20";

}  // namespace

TEST_F(TopD2, QuickMatePicksAnyTopMoveWithoutAChanceDraw) {
  on(FORCING, {"e3g4", "e3d5", "b7b8q"});
  EXPECT_EQ(pick(MATE_IN(3), -1, {0.5}), "e3d5");   // one draw: the choice itself
  EXPECT_EQ(pick(MATE_IN(4), 0, {0.9, 0.9}), "none");  // a mate in 4 is no shortcut
}

TEST_F(TopD2, ForcingMovesAreTakenAtTheRateToThePowerSeven10ths) {
  on(FORCING, {"e3g4", "e1d1", "e3d5", "b7b8q"});
  // Only the king move, the capture and the promotion are candidates here.
  EXPECT_EQ(pick(0, 1.0, {0.999, 0.0}), "e1d1");
  EXPECT_EQ(pick(0, 1.0, {0.5, 0.5}), "e3d5");
  EXPECT_EQ(pick(0, 1.0, {0.0, 0.99}), "b7b8q");
  // 0.5^0.7 = 0.6156: above the plain rate, below its square root.
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.0}), "e1d1");
  // Declined: move 30 skips development; then the plain rate decides.
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.49, 0.0}), "e3g4");
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.51}), "none");
  // A negative rate counts as 0.
  EXPECT_EQ(pick(0, -0.3, {0.001, 0.001}), "none");

  // Without forcing moves there is no draw for them.
  on(FORCING, {"e3g4", "e3c4"});
  EXPECT_EQ(pick(0, 0.5, {0.4, 0.99}), "e3c4");
}

TEST_F(TopD2, FarAheadLateInTheGamePicksWithoutADraw) {
  // Black to move, a queen and a rook up (1400 > queen + bishop).
  on("qr2k3/8/8/8/8/8/8/4K3 b - - 0 21", {"a8a7", "b8b7"});
  EXPECT_EQ(pick(0, 0, {0.9}), "b8b7");
  // Move 20 is not late enough: the bonus rate 0.2 decides instead.
  on("qr2k3/8/8/8/8/8/8/4K3 b - - 0 20", {"a8a7", "b8b7"});
  EXPECT_EQ(pick(0, 0, {0.19, 0.9}), "b8b7");
  EXPECT_EQ(pick(0, 0, {0.21}), "none");
  // The same material seen from the side that lacks it is no lead.
  on("QR2K3/8/8/8/8/8/8/4k3 b - - 0 21", {"e1d2", "e1f2"});
  EXPECT_EQ(pick(0, 0, {0.001, 0.001}), "none");
}

TEST_F(TopD2, MaterialBonusRaisesLowRatesUpTo04) {
  on(QUEEN_UP, {"a1a2", "a1b1"});
  EXPECT_EQ(pick(0, 0.1, {0.29, 0.0}), "a1a2");   // 0.1 + 0.2
  EXPECT_EQ(pick(0, 0.1, {0.31}), "none");
  EXPECT_EQ(pick(0, 0.3, {0.39, 0.0}), "a1a2");   // 0.5 capped to 0.4
  EXPECT_EQ(pick(0, 0.3, {0.41}), "none");
  EXPECT_EQ(pick(0, -0.3, {0.19, 0.0}), "a1a2");  // negative counts as 0, then + 0.2
  EXPECT_EQ(pick(0, 0.9, {0.85, 0.0}), "a1a2");   // high rates are left alone
  // Only a lead above a rook earns the bonus.
  on("4k3/8/8/8/8/8/8/R3K3 w - - 0 20", {"a1a2"});
  EXPECT_EQ(pick(0, 0.1, {0.11}), "none");
}

TEST_F(TopD2, DevelopingMovesInTheFirstTenMoves) {
  on(START, {"a2a3", "g1f3", "e2e4"});
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.99}), "e2e4");
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.0}), "g1f3");
  // Development declined, then the plain rate.
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.4, 0.0}), "a2a3");
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.6}), "none");

  // Nothing develops: the draw is made but picks nothing.
  on(START, {"a2a3", "h2h3"});
  EXPECT_EQ(pick(0, 0.5, {0.1, 0.4, 0.99}), "h2h3");

  // Black's starting squares count too.
  on("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1", {"a7a6", "b8c6", "d7d5"});
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.99}), "d7d5");

  // Move 10 still draws for development, move 11 does not.
  on("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 10", {"a2a3", "g1f3"});
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.0}), "g1f3");
  on("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 11", {"a2a3", "g1f3"});
  EXPECT_EQ(pick(0, 0.5, {0.4, 0.0}), "a2a3");
}
