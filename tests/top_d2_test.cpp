#include <gtest/gtest.h>

#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;

namespace {
// ConsiderTopD2Moves on a fixed board; no engine search is involved.
struct TopD2 : ::testing::Test {
  testing_support::FakeEngine fake;
  AI_BASIC p{"Tester", 100};
  MoveList moves;

  void on(const std::string& fen, const std::vector<std::string>& wanted) {
    p.board = board::Board(fen);
    p.myside = p.board.side_to_move;
    moves.clear();
    for (const auto& c : wanted) moves.push_back(p.board.parse_move(c));
  }
  // The choice under scripted draws, every one of which must be used.
  std::string pick(int best_score, double rate, std::vector<double> draws) {
    ScriptedDraws scripted(std::move(draws));
    MovePtr m = p.ConsiderTopD2Moves(best_score, moves, rate, {});
    EXPECT_EQ(scripted.remaining(), 0u);
    return m ? m->to_coord() : "none";
  }
};
}  // namespace

TEST_F(TopD2, MateForcingMovesAndFarAhead) {
  // Move 30: a quiet move, a king move, a capture, a promotion.
  on("4k3/1P6/8/3p4/8/4N3/8/4K3 w - - 0 30", {"e3g4", "e1d1", "e3d5", "b7b8q"});
  EXPECT_EQ(pick(MATE_IN(3), -1, {0.0}), "e3g4");  // mate in 3: no chance draw
  EXPECT_EQ(pick(0, 1.0, {0.999, 0.0}), "e1d1");  // only forcing moves are candidates
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.4}), "e3d5");      // 0.5^0.7 = 0.6156
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.49, 0.0}), "e3g4");  // declined; plain rate at step 8
  EXPECT_EQ(pick(MATE_IN(4), -0.3, {0.001, 0.001}), "none");
  on("4k3/1P6/8/3p4/8/4N3/8/4K3 w - - 0 30", {"e3g4", "e3c4"});
  EXPECT_EQ(pick(0, 0.5, {0.4, 0.99}), "e3c4");  // nothing forcing: no draw for it
  // Black a queen and a rook up after move 20: any top move, no chance draw.
  on("qr2k3/8/8/8/8/8/8/4K3 b - - 0 21", {"a8a7", "b8b7"});
  EXPECT_EQ(pick(0, 0, {0.9}), "b8b7");
  on("QR2K3/8/8/8/8/8/8/4k3 b - - 0 21", {"e1d2", "e1f2"});  // the side that lacks it
  EXPECT_EQ(pick(0, 0, {0.001, 0.001}), "none");
}

TEST_F(TopD2, MaterialBonusRaisesLowRatesUpTo04) {
  on("4k3/8/8/8/8/8/8/Q3K3 w - - 0 20", {"a1a2", "a1b1"});  // a queen up, move 20
  EXPECT_EQ(pick(0, 0.1, {0.29, 0.0}), "a1a2");
  EXPECT_EQ(pick(0, 0.1, {0.31}), "none");
  EXPECT_EQ(pick(0, 0.3, {0.41}), "none");
  EXPECT_EQ(pick(0, 0.9, {0.85, 0.0}), "a1a2");
  on("4k3/8/8/8/8/8/8/R3K3 w - - 0 20", {"a1a2"});  // a rook up is not enough
  EXPECT_EQ(pick(0, 0.1, {0.11}), "none");
}

TEST_F(TopD2, DevelopingMovesUpToMoveTen) {
  on(std::string(common::FEN_New_Game), {"a2a3", "g1f3", "e2e4"});
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.99}), "e2e4");
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.6}), "none");
  on("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 10", {"a7a6", "b8c6", "h7h6"});
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.0}), "b8c6");
  on("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 11", {"a2a3", "g1f3"});
  EXPECT_EQ(pick(0, 0.5, {0.4, 0.0}), "a2a3");  // move 11: no development draw
  on(std::string(common::FEN_New_Game), {"a2a3", "h2h3"});
  EXPECT_EQ(pick(0, 0.5, {0.1, 0.4, 0.99}), "h2h3");  // the draw is made, nothing develops
}
