#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;

namespace {

void put_on(AI_BASIC& p, const std::string& fen) {
  p.start_fen = fen;
  p.game_history.clear();
  p.board = board::Board(fen);
  p.legalmoves = p.board.legal_moves();
  p.myside = p.board.side_to_move;
  p.oppside = -p.myside;
}

// The depths of the candidate searches the engine was asked for.
std::vector<int> search_depths(const FakeEngine& fake) {
  std::vector<int> depths;
  for (const auto& line : fake.received())
    if (line.starts_with("go depth ")) depths.push_back(std::stoi(line.substr(9)));
  return depths;
}

bool sent(const FakeEngine& fake, const std::string& prefix) {
  for (const auto& line : fake.received())
    if (line.starts_with(prefix)) return true;
  return false;
}

// Black to move, a rook up.
const std::string BLACK_ROOK_UP = "kr6/8/8/8/8/8/8/7K b - - 0 1";

}  // namespace

TEST(MasterMove, SearchesByNodesAndStartsASequence) {
  FakeEngine fake("score b8b2 30\nscore a8a7 24\nscore b8b1 22\ndefault-score -10\n");
  {
    AI_BASIC p("Tester", 100);
    put_on(p, BLACK_ROOK_UP);
    CaptureEcho echo;
    ScriptedDraws draws({0.99});
    const MovePtr m = p.GetMasterMove(262144.7);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->to_coord(), "a8a7");  // b8b1 is 8 below the best: outside the margin of 7
    EXPECT_EQ(echo.lines.front(), "GetMasterMove");
    // The fake's probe settles on depth 11; five lines are searched.
    EXPECT_EQ(search_depths(fake), std::vector<int>(5, 11));
    EXPECT_EQ(p.MasterMove_Depth, 14);
    EXPECT_EQ(p.MasterMove_M_Balance, common::Rook);

    // A wider margin is honoured.
    ScriptedDraws more({0.99});
    EXPECT_EQ(p.GetMasterMove(262144, 8)->to_coord(), "b8b1");
  }
  EXPECT_TRUE(sent(fake, "go infinite"));
}

TEST(MasterMove, DepthIsCappedAt30AndHugeBudgetsAreRefused) {
  // Three legal moves, each search answered at depth 28.
  FakeEngine fake(
      "on go depth\n> info depth 28 score cp 10 pv a1b2 h8g7\n> bestmove a1b2\n"
      "on go depth\n> info depth 28 score cp 5 pv a1a2 h8g8\n> bestmove a1a2\n"
      "on go depth\n> info depth 28 score cp 0 pv a1b1 h8h7\n> bestmove a1b1\n");
  {
    AI_BASIC p("Tester", 100);
    put_on(p, "7k/8/8/8/8/8/8/K7 w - - 0 1");
    EXPECT_THROW(p.GetMasterMove(1e9), AssertionError);
    EXPECT_FALSE(sent(fake, "position"));
    ScriptedDraws draws({0.0});
    EXPECT_EQ(p.GetMasterMove(300000)->to_coord(), "a1b2");
    EXPECT_EQ(p.MasterMove_Depth, 30);
  }
}

TEST(MasterMove, ContinuationDepthShrinksFasterWhenNothingIsLost) {
  FakeEngine fake("score e2e4 10\nscore d2d4 3\ndefault-score -50\n");
  AI_BASIC p("Tester", 100);
  put_on(p, std::string(common::FEN_New_Game));
  p.MasterMove_Depth = 21;
  p.MasterMove_M_Balance = 0;
  ScriptedDraws draws({0.0, 0.0, 0.0, 0.99});
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "e2e4");
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "e2e4");
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "e2e4");
  // d2d4 is exactly 7 below: inside the margin.
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "d2d4");
  EXPECT_EQ(p.MasterMove_Depth, 5);
  EXPECT_EQ(p.GetMasterMove_Continuation_(), nullptr);
  EXPECT_EQ(p.MasterMove_Depth, 0);
  // Two lines per continuation; nothing searched for the one that ended it.
  EXPECT_EQ(search_depths(fake), (std::vector<int>{17, 17, 13, 13, 9, 9, 5, 5}));
}

TEST(MasterMove, ContinuationStepDependsOnMaterialLost) {
  FakeEngine fake;
  AI_BASIC p("Tester", 100);
  // Balance at the master move: level. White then stands at -200, -100, +100.
  const auto step = [&](const std::string& fen, int depth) {
    put_on(p, fen);
    p.MasterMove_Depth = depth;
    p.MasterMove_M_Balance = 0;
    EXPECT_NE(p.GetMasterMove_Continuation_(), nullptr);
    return depth - p.MasterMove_Depth;
  };
  ScriptedDraws draws({0.0, 0.0, 0.0, 0.0});
  EXPECT_EQ(step("4k3/pp6/8/8/8/8/8/4K3 w - - 0 1", 10), 2);
  EXPECT_EQ(step("4k3/p7/8/8/8/8/8/4K3 w - - 0 1", 10), 3);
  EXPECT_EQ(step("4k3/8/8/8/8/8/P7/4K3 w - - 0 1", 10), 4);
  EXPECT_EQ(step("4k3/8/8/8/8/8/8/4K3 w - - 0 1", 6), 4);  // down to depth 2, still searched
  EXPECT_EQ(search_depths(fake), (std::vector<int>{8, 8, 7, 7, 6, 6, 2, 2}));
  EXPECT_EQ(draws.remaining(), 0u);
}

TEST(MasterMove, ContinuationWithoutAMasterMoveIsAnError) {
  FakeEngine fake;
  AI_BASIC p("Tester", 100);
  put_on(p, std::string(common::FEN_New_Game));
  p.MasterMove_Depth = 10;
  EXPECT_THROW(p.GetMasterMove_Continuation_(), Error);
}

TEST(MaterialBalance, SumsThePiecesFromTheAskedSide) {
  FakeEngine fake;
  AI_BASIC p("Tester", 100);
  put_on(p, std::string(common::FEN_New_Game));
  EXPECT_EQ(p.calc_material_balance(common::WHITE), 0);
  EXPECT_EQ(p.calc_material_balance(common::BLACK), 0);
  put_on(p, "rnbqkb1r/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1");  // White a knight up
  EXPECT_EQ(p.calc_material_balance(common::WHITE), common::Knight);
  EXPECT_EQ(p.calc_material_balance(common::BLACK), -common::Knight);
  EXPECT_EQ(p.calc_material_balance(), -common::Knight);  // own side: Black to move
}
