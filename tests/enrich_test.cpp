#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureBugprint;
using testing_support::FakeEngine;

namespace {

struct Enrich : ::testing::Test {
  FakeEngine fake;
  AI_BASIC p{"Tester", 100};
  MoveList host_moves;  // the caller's list: enrichment must reach these objects

  void on(const std::string& fen) {
    p.board = board::Board(fen);
    host_moves = p.board.legal_moves();
    p.legalmoves = host_moves;
  }
  board::Move& move(const std::string& coord) {
    for (auto& m : host_moves)
      if (m->to_coord() == coord) return *m;
    throw std::runtime_error(coord + " is not legal");
  }
};

// White: king e1, pawn e2; Black: king e8, pawn d5. Six legal moves.
const std::string PAWNS = "4k3/8/8/3p4/8/8/4P3/4K3 w - - 0 1";

}  // namespace

TEST_F(Enrich, WritesScoreErrorAndExpectedReply) {
  on(PAWNS);
  ASSERT_EQ(host_moves.size(), 6u);
  const std::vector<Analysis> analyses = {
      {20, 9, {"e2e4", "d5e4", "e1e2"}}, {10, 9, {"e2e3", "d5d4"}}, {0, 9, {"e1d2", "e8d7"}},
      {-5, 9, {"e1f2", "e8e7"}},         {-10, 9, {"e1d1", "e8f7"}}, {-20, 9, {"e1f1"}}};
  MoveList& out = p.EnhanceMovesInfo(analyses);
  EXPECT_EQ(&out, &p.legalmoves);

  const board::Move& e4 = move("e2e4");
  EXPECT_EQ(e4.Score, 20);
  EXPECT_EQ(e4.ErrorScore, 0);
  EXPECT_EQ(e4.R1_FromSQ, common::to_num("d5"));
  EXPECT_EQ(e4.R1_ToSQ, common::to_num("e4"));
  EXPECT_EQ(e4.R1_Piece, -common::Pawn);
  // The reply takes on e4, where the moved pawn will stand (e4 is empty now).
  EXPECT_EQ(e4.R1_Captured, common::Pawn);

  const board::Move& e3 = move("e2e3");
  EXPECT_EQ(e3.Score, 10);
  EXPECT_EQ(e3.ErrorScore, 10);
  EXPECT_EQ(e3.R1_Piece, -common::Pawn);
  EXPECT_EQ(e3.R1_Captured, 0);

  EXPECT_EQ(move("e1d1").ErrorScore, 30);
  EXPECT_EQ(move("e1d1").R1_Piece, -common::King);

  // A line without a reply: only the error mark is written.
  const board::Move& f1 = move("e1f1");
  EXPECT_EQ(f1.ErrorScore, -1);
  EXPECT_FALSE(f1.Score || f1.R1_FromSQ || f1.R1_ToSQ || f1.R1_Piece || f1.R1_Captured);
}

TEST_F(Enrich, ReplyOntoTheVacatedSquareReadsTheCurrentBoard) {
  // White's king is in check from the rook on e8: four legal king moves.
  on("4r1k1/8/8/8/8/8/8/4K3 w - - 0 1");
  const std::vector<Analysis> analyses = {{-500, 6, {"e1d2", "e8d8"}},
                                          {-510, 6, {"e1f1", "e8e1", "f1e1"}},
                                          {-520, 6, {"e1d1", "e8e1q"}},
                                          {-530, 6, {"e1f2", "g8h7"}}};
  p.EnhanceMovesInfo(analyses);
  EXPECT_EQ(move("e1f1").R1_Captured, common::King);  // what stands on e1 before the move
  EXPECT_EQ(move("e1f1").R1_Piece, -common::Rook);
  EXPECT_EQ(move("e1d1").R1_ToSQ, common::to_num("e1"));  // a fifth letter is ignored
  EXPECT_EQ(move("e1f2").R1_Captured, 0);
}

TEST_F(Enrich, MissingOrDuplicateLineDumpsAndFails) {
  on(PAWNS);
  const std::string missing = p.legalmoves[2]->to_coord();
  std::vector<Analysis> analyses;
  int score = 50;
  for (const auto& m : p.legalmoves)
    if (m->to_coord() != missing) analyses.push_back({score -= 10, 8, {m->to_coord(), "e8e7"}});
  p.DEBUG_analyses = {{33, 2, {"e2e4"}}};
  p.DEBUG_topD2moves = {p.legalmoves[0]};

  CaptureBugprint bug;
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);

  std::vector<std::string> expected;
  const auto call = [&](std::vector<std::string> values) {
    values.resize(7);
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

  // Moves before the bad one keep their annotations, later ones get none.
  EXPECT_TRUE(p.legalmoves[1]->ErrorScore.has_value());
  EXPECT_FALSE(p.legalmoves[3]->ErrorScore.has_value());

  // Two lines for one move fail the same way; the dump lists both.
  on(PAWNS);
  analyses.push_back({0, 8, {missing, "e8e7"}});
  analyses.push_back({-1, 8, {missing, "e8d7"}});
  bug.lines.clear();
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);
  ASSERT_GE(bug.lines.size(), 35u);
  EXPECT_EQ(bug.lines[14], "len_analyses, legals, filtereds");
  EXPECT_EQ(bug.lines[17], "2");
  EXPECT_EQ(bug.lines[28], "8");  // first matching line: depth, score, moves
  EXPECT_EQ(bug.lines[30], "['" + missing + "', 'e8e7']");
}

TEST_F(Enrich, LineScoringAboveTheBestFails) {
  on(PAWNS);
  std::vector<Analysis> analyses;
  for (const auto& m : p.legalmoves) analyses.push_back({0, 8, {m->to_coord(), "e8e7"}});
  analyses[1].score = 5;
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);
  EXPECT_EQ(p.legalmoves[1]->Score, 5);
  EXPECT_EQ(p.legalmoves[1]->ErrorScore, -5);
}
