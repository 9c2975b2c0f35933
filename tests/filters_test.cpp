// The silly-move filters and capture mania, on real positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace ai_players::common;
using Set = std::set<std::string>;

namespace {

Set coords(const MoveList& moves, bool from_squares = false) {
  Set out;
  for (const MovePtr& m : moves) out.insert(from_squares ? to_coord(m->FromSQ) : m->to_coord());
  return out;
}

struct Filters : ::testing::Test {
  testing_support::FakeEngine fake;
  AI_BASIC p{"tester", 1000};
  MovePtr last;

  // The position of `fen`, or the one after the opponent's `move` from it; engine lines for
  // every legal move: {score, reply} where given ("" = no reply), else a quiet reply.
  void set(const std::string& fen, const std::string& move = "",
           const std::map<std::string, std::pair<int, std::string>>& lines = {}) {
    p.board = board::Board(fen);
    if (!move.empty()) p.board.make_internal_move(*(last = p.board.parse_move(move)));
    p.legalmoves = p.board.legal_moves();
    p.myside = p.board.side_to_move;
    p.oppside = -p.myside;
    std::vector<Analysis> analyses;
    for (const MovePtr& m : p.legalmoves) {
      const auto it = lines.find(m->to_coord());
      const auto [score, reply] = it == lines.end() ? std::pair<int, std::string>{0, "e8d8"} : it->second;
      analyses.push_back({score, 3, {m->to_coord()}});
      if (!reply.empty()) analyses.back().pv_list.push_back(reply);
    }
    std::stable_sort(analyses.begin(), analyses.end(), [](auto& a, auto& b) { return a.score > b.score; });
    p.EnhanceMovesInfo(analyses);
  }
  Set threatened(int see) { return coords(p.Filter_LastPlyThreats(*last, see), true); }
  Set survivors(bool scan, int see) { return coords(p.Filter_SuicideMoves(p.legalmoves, scan, see)); }
};

TEST_F(Filters, LastPlyThreatsKeepOnlyTheMostEndangeredPiece) {
  set("4kb2/8/8/8/8/2N5/P4PPP/6K1 b - - 0 1", "f8b4");  // undefended knight
  EXPECT_EQ(threatened(3), Set{"c3"});
  set("4kb2/8/8/8/8/2N5/PP3PPP/6K1 b - - 0 1", "f8b4");  // defended: bishop for knight loses
  EXPECT_EQ(p.Filter_LastPlyThreats(*last, 3), p.legalmoves);
  set("1b2k3/8/8/8/8/4N3/8/7K b - - 0 1", "b8a7");  // four squares away
  EXPECT_EQ(threatened(3).size(), 2u);
  EXPECT_EQ(threatened(4), Set{"e3"});
  set("4k3/8/8/2B3B1/3n4/8/8/4K3 b - - 0 1", "d4e6");  // a fork with equal losses
  EXPECT_EQ(threatened(3), Set{"g5"});
  set("4k3/3r4/8/3n4/3Q4/8/8/4K3 b - - 0 1", "d5b6", {{"e1f1", {0, "d7d4"}}});  // the rook is let loose
  EXPECT_EQ(threatened(4), Set{"d4"});
  EXPECT_EQ(threatened(3).size(), 2u);  // too far to notice: queen and king keep their moves
  EXPECT_THROW(p.Filter_LastPlyThreats(*last, 2), AssertionError);
}

TEST_F(Filters, SillyPlacements) {
  // Quiet king moves, the castling rook, pawn-guarded squares, the rim, the corner.
  set("4k3/1B1p4/2n5/3p4/8/8/3N4/4K2R w K - 0 1");
  EXPECT_EQ(coords(p.Filter_SillyPlacements(p.legalmoves)), (Set{"d2b3", "d2f3", "b7a6", "b7c8"}));
  set("4k3/1B1p4/2n5/3p4/8/8/3N4/4K2R w - - 0 1");
  EXPECT_TRUE(coords(p.Filter_SillyPlacements(p.legalmoves)).contains("h1h5"));
  set("4k3/8/8/8/8/8/3p4/4K3 w - - 0 1");
  EXPECT_EQ(coords(p.Filter_SillyPlacements(p.legalmoves)), Set{"e1d2"});
}

TEST_F(Filters, SuicideMovesDependOnWhatThePlayerSees) {
  // Nf6 covers e4 and h7, Ra5 covers a2 (3 away) and f5 (5 away).
  set("4k3/8/5n2/r7/8/8/8/1B2K3 w - - 0 1", "", {{"b1d3", {0, ""}}, {"b1c2", {-MATE_IN(1), "a5a1"}}});
  const auto bishop = [&](bool scan, int see) {
    Set s = survivors(scan, see);
    std::erase_if(s, [](const std::string& c) { return !c.starts_with("b1"); });
    return s;
  };
  EXPECT_EQ(bishop(true, 3), (Set{"b1f5", "b1g6"}));
  EXPECT_EQ(bishop(false, 3), (Set{"b1e4", "b1f5", "b1g6", "b1h7"}));
  EXPECT_EQ(bishop(false, 5), (Set{"b1e4", "b1g6", "b1h7"}));
  EXPECT_THROW(p.Filter_SuicideMoves(p.legalmoves, true, 1), AssertionError);
  set("4k3/8/5n2/r7/8/8/8/1Q2K3 w - - 0 1");  // the queen is watched one square farther
  EXPECT_FALSE(survivors(false, 3).contains("b1e4"));
  EXPECT_TRUE(survivors(false, 3).contains("b1f5"));
  EXPECT_FALSE(survivors(false, 4).contains("b1f5"));
  // The knight shields the queen; Kf1 answered by Rxd4 opens no line.
  set("4k3/8/3r4/8/3N4/8/3Q4/4K3 w - - 0 1", "", {{"d4f3", {0, "d6d2"}}, {"e1f1", {0, "d6d4"}}});
  EXPECT_FALSE(survivors(true, 5).contains("d4f3"));
  EXPECT_TRUE(survivors(true, 5).contains("e1f1"));
  EXPECT_TRUE(survivors(true, 4).contains("d4f3"));
  set("4k3/8/3r4/8/3N4/8/3R4/4K3 w - - 0 1", "", {{"d4f3", {0, "d6d2"}}});  // rook for rook
  EXPECT_TRUE(survivors(true, 5).contains("d4f3"));
}

TEST_F(Filters, QueenProtection) {
  const auto move = [](int error, int r1_captured) {
    auto m = std::make_shared<board::Move>();
    m->ToSQ = 55, m->ErrorScore = error, m->R1_Captured = r1_captured;
    return m;
  };
  const MoveList ms = {move(400, -Queen), move(375, Queen), move(-1, Queen)};
  ms[2]->ToSQ = 34;
  board::Move took_rook, took_queen;
  took_rook.Captured = Rook, took_queen.ToSQ = 55, took_queen.Captured = -Queen;
  testing_support::CaptureEcho echo;
  const auto filter = [&](double draw, const board::Move& lastply) {
    ScriptedDraws d({draw});
    return p.Filter_QueenProtection(ms, lastply);
  };
  EXPECT_EQ(filter(0.667, took_rook), (MoveList{ms[1], ms[2]}));
  EXPECT_EQ(filter(0.7, took_rook), ms);
  EXPECT_EQ(filter(0.7, took_queen), (MoveList{ms[0], ms[1]}));  // the recaptures on e5
  took_queen.ToSQ = 66;
  EXPECT_EQ(filter(0.7, took_queen), ms);
  EXPECT_EQ(echo.lines, (std::vector<std::string>{"filter_QueenProtection: 3 -> 2", "filter_QueenProtection: 3 -> 2",
                                                  "filter_QueenProtection: 3 -> 0"}));
  try {
    p.Filter_KB2_Square_Protection(ms);
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Filter_KB2_Square_Protection DISABLED FOR NOW");
  }
}

TEST_F(Filters, CaptureMania) {
  const auto move = [](const char* from, const char* to, int piece, int captured) {
    auto m = std::make_shared<board::Move>();
    m->FromSQ = to_num(from), m->ToSQ = to_num(to), m->Piece = piece, m->Captured = captured;
    return m;
  };
  const auto bxn = move("c1", "f4", Bishop, -Knight), rxn = move("a1", "a8", Rook, -Knight);
  const auto kxp = move("e1", "e2", King, -Pawn), qxn = move("d1", "d5", Queen, -Knight);
  board::Move quiet, capture;
  capture.Captured = -Pawn;
  const auto mania = [&](std::vector<double> draws, const MoveList& filtered, const board::Move& lastply) {
    ScriptedDraws d(std::move(draws));
    MovePtr m = p.nonSilly_capture_mania_({}, lastply, filtered);
    EXPECT_EQ(d.remaining(), 0u);
    return m;
  };
  EXPECT_EQ(mania({}, {qxn}, quiet), nullptr);  // a queen wants a rook at least
  EXPECT_EQ(mania({0.0, 5 / 7.0}, {bxn}, quiet), bxn);  // distance 3: five times in seven
  EXPECT_EQ(mania({0.0, 0.72}, {bxn}, quiet), nullptr);
  EXPECT_EQ(mania({0.0}, {bxn}, capture), bxn);
  EXPECT_EQ(mania({0.0, 0.2, 0.0}, {rxn, kxp}, quiet), kxp);  // the long capture is not retried
  EXPECT_EQ(mania({0.0}, {move("d1", "d2", Queen, -Rook)}, quiet)->ToSQ, to_num("d2"));  // no distance draw
}

}  // namespace
