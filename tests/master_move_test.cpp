#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::FakeEngine;

namespace {
void put_on(AI_BASIC& p, const std::string& fen) {
  p.start_fen = fen;
  p.board = board::Board(fen);
  p.legalmoves = p.board.legal_moves();
  p.myside = p.board.side_to_move;
}
// The depths of the candidate searches the engine was asked for.
std::vector<int> depths(const FakeEngine& fake) {
  std::vector<int> out;
  for (const auto& line : fake.received())
    if (line.starts_with("go depth ")) out.push_back(std::stoi(line.substr(9)));
  return out;
}
}  // namespace

TEST(MasterMove, NodeSearchSetsTheSequenceDepthAndBalance) {
  FakeEngine fake("score b8b2 30\nscore a8a7 24\nscore b8b1 22\ndefault-score -10\n");
  AI_BASIC p("Tester", 100);
  put_on(p, "kr6/8/8/8/8/8/8/7K b - - 0 1");  // Black a rook up
  EXPECT_THROW(p.GetMasterMove(1e9), AssertionError);
  ScriptedDraws draws({0.99});
  EXPECT_EQ(p.GetMasterMove(262144.7)->to_coord(), "a8a7");  // b8b1 is 8 below: out
  EXPECT_EQ(depths(fake), std::vector<int>(5, 11));  // the fake's probe settles on 11
  EXPECT_EQ(p.MasterMove_Depth, 14);
  EXPECT_EQ(p.MasterMove_M_Balance, common::Rook);
}

TEST(MasterMove, DepthIsCappedAt30) {
  FakeEngine fake("on go depth\n> info depth 28 score cp 10 pv a1b2\n> bestmove a1b2\n"
                  "on go depth\n> info depth 28 score cp 5 pv a1a2\n> bestmove a1a2\n"
                  "on go depth\n> info depth 28 score cp 0 pv a1b1\n> bestmove a1b1\n");
  AI_BASIC p("Tester", 100);
  put_on(p, "7k/8/8/8/8/8/8/K7 w - - 0 1");
  ScriptedDraws draws({0.0});
  EXPECT_EQ(p.GetMasterMove(300000)->to_coord(), "a1b2");
  EXPECT_EQ(p.MasterMove_Depth, 30);
}

TEST(MasterMove, ContinuationDepthFallsBy4Then3Then2AsMaterialIsLost) {
  FakeEngine fake("score e2e4 10\nscore d2d4 3\n");
  AI_BASIC p("Tester", 100);
  put_on(p, std::string(common::FEN_New_Game));
  p.MasterMove_Depth = 10;
  EXPECT_THROW(p.GetMasterMove_Continuation_(), Error);  // no master move yet
  p.MasterMove_Depth = 21;
  p.MasterMove_M_Balance = 0;
  ScriptedDraws draws({0.0, 0.99, 0.0, 0.0, 0.0});
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "e2e4");
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "d2d4");  // exactly 7 below
  for (const char* fen : {"4k3/pp6/8/8/8/8/8/4K3 w - - 0 1", "4k3/p7/8/8/8/8/8/4K3 w - - 0 1",
                          "4k3/8/8/8/8/8/P7/4K3 w - - 0 1"}) {  // White 2 pawns down, 1 down, 1 up
    put_on(p, fen);
    EXPECT_NE(p.GetMasterMove_Continuation_(), nullptr);
  }
  EXPECT_EQ(p.MasterMove_Depth, 4);
  EXPECT_EQ(p.GetMasterMove_Continuation_(), nullptr);
  EXPECT_EQ(p.MasterMove_Depth, 0);
  EXPECT_EQ(depths(fake), (std::vector<int>{17, 17, 13, 13, 11, 11, 8, 8, 4, 4}));
}

TEST(MaterialBalance, SignedForTheAskedSide) {
  FakeEngine fake;
  AI_BASIC p("Tester", 100);
  put_on(p, "rnbqkb1r/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1");  // White a knight up
  EXPECT_EQ(p.calc_material_balance(common::WHITE), common::Knight);
  EXPECT_EQ(p.calc_material_balance(), -common::Knight);  // own side: Black
}
