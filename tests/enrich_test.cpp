#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;

namespace {
struct Enrich : ::testing::Test {
  testing_support::FakeEngine fake;
  AI_BASIC p{"Tester", 100};
  MoveList host_moves;  // the caller's list: the annotations must reach its objects

  Enrich() {  // White: king e1, pawn e2; Black: king e8, pawn d5
    p.board = board::Board("4k3/8/8/3p4/8/8/4P3/4K3 w - - 0 1");
    p.legalmoves = host_moves = p.board.legal_moves();
  }
  MovePtr find(const std::string& coord) {
    for (auto& m : host_moves)
      if (m->to_coord() == coord) return m;
    throw std::runtime_error(coord);
  }
};
}  // namespace

TEST_F(Enrich, ScoreErrorAndExpectedReply) {
  EXPECT_EQ(&p.EnhanceMovesInfo({{20, 9, {"e2e4", "d5e4"}}, {10, 9, {"e2e3", "d5d4"}},
                                 {0, 9, {"e1d2", "e8d7"}}, {-5, 9, {"e1f2", "d5d4"}},
                                 {-10, 9, {"e1d1", "e8e1"}}, {-20, 9, {"e1f1"}}}),
            &p.legalmoves);
  const board::Move& e4 = *find("e2e4");
  EXPECT_EQ(std::tie(e4.Score, e4.ErrorScore, e4.R1_FromSQ, e4.R1_ToSQ, e4.R1_Piece),
            std::make_tuple(20, 0, 45, 54, -common::Pawn));
  EXPECT_EQ(e4.R1_Captured, common::Pawn);  // the pawn that moves to e4, not the empty e4
  EXPECT_EQ(find("e2e3")->ErrorScore, 10);
  EXPECT_EQ(find("e2e3")->R1_Captured, 0);
  EXPECT_EQ(find("e1d1")->R1_Captured, common::King);  // e1 as it is now: the rule is on ToSQ only
  const board::Move& f1 = *find("e1f1");  // no reply in the line: only the mark
  EXPECT_EQ(f1.ErrorScore, -1);
  EXPECT_FALSE(f1.Score || f1.R1_FromSQ || f1.R1_ToSQ || f1.R1_Piece || f1.R1_Captured);
}

TEST_F(Enrich, MissingLineDumpsAndFailsAndHigherScoreFails) {
  const std::string missing = p.legalmoves[2]->to_coord();
  std::vector<Analysis> analyses;
  for (const auto& m : p.legalmoves)
    if (m->to_coord() != missing) analyses.push_back({-int(analyses.size()), 8, {m->to_coord(), "e8e7"}});
  p.DEBUG_analyses = {{33, 2, {"e2e4"}}};
  p.DEBUG_topD2moves = {p.legalmoves[0]};
  testing_support::CaptureBugprint bug;
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);

  std::vector<std::string> expected;
  const auto call = [&](std::vector<std::string> values) {
    values.resize(7);  // every call prints seven lines
    expected.insert(expected.end(), values.begin(), values.end());
  };
  call({"***  DEBuG of filtered_analyses != 1  ***"});
  call({"move_coord = " + missing});
  call({"len_analyses, legals, filtereds", "5", "6", "0"});
  call({"\noutput->filtered_analyses"});
  call({"\noutput->analyses"});
  for (const auto& a : analyses) call({"8", std::to_string(a.score), to_text(a.pv_list)});
  call({"--------- prev->", "1"});
  call({"2", "33", "['e2e4']"});
  call({p.legalmoves[0]->to_coord()});
  call({"==============="});
  EXPECT_EQ(bug.lines, expected);
  EXPECT_TRUE(p.legalmoves[1]->ErrorScore && !p.legalmoves[3]->ErrorScore);  // stopped at the bad move

  analyses.insert(analyses.begin() + 1, {5, 8, {missing, "e8e7"}});  // scores above the best
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);
  EXPECT_EQ(p.legalmoves[2]->ErrorScore, -5);
}
