// The silly-move filters, capture mania and the non-silly choice, on real positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/scripted_channel.h"

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
  testing_support::ScriptedEngine fake;
  AI_BASIC p{"tester", 1000, std::nullopt, fake.config()};
  MovePtr last;

  // The position of `fen`, or the one after the opponent's `move` from it; engine lines for
  // every legal move: {score, reply} where given ("" = no reply), else a quiet reply.
  void set(const std::string& fen, const std::string& move = "",
           const std::map<std::string, std::pair<int, std::string>>& lines = {}) {
    testing_support::place(p, fen, move);
    if (!move.empty()) last = p.game_history.back();
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
  set("3qk3/8/8/8/8/2N5/1P6/4K3 b - - 0 1", "d8d4");  // the queen would lose itself on c3
  EXPECT_EQ(p.Filter_LastPlyThreats(*last, 3), p.legalmoves);
  set("1b2k3/8/8/8/8/4N3/8/7K b - - 0 1", "b8a7");  // attacked from four squares away
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

// Bare moves: only the fields the rules read.
MovePtr move(const char* from, const char* to, int piece, int captured, int error = 0, int r1_captured = 0) {
  auto m = std::make_shared<board::Move>();
  m->FromSQ = to_num(from), m->ToSQ = to_num(to), m->Piece = piece, m->Captured = captured;
  m->ErrorScore = error, m->R1_Captured = r1_captured;
  return m;
}

TEST_F(Filters, QueenProtection) {
  // Replies that take a queen on e5 at a loss over 375 and at exactly 375; a move without a reply.
  const MoveList ms = {move("a1", "e5", 0, 0, 400, -Queen), move("a1", "e5", 0, 0, 375, Queen),
                       move("a1", "c4", 0, 0, -1, Queen)};
  const auto filter = [&](double draw, const MovePtr& lastply) {
    ScriptedDraws d({draw});
    return p.Filter_QueenProtection(ms, *lastply);
  };
  const MovePtr took_rook = move("a8", "a1", 0, Rook), took_queen = move("a8", "e5", 0, -Queen);
  testing_support::CaptureEcho quiet;
  EXPECT_EQ(filter(0.667, took_rook), (MoveList{ms[1], ms[2]}));
  EXPECT_EQ(filter(0.7, took_rook), ms);
  EXPECT_EQ(filter(0.7, took_queen), (MoveList{ms[0], ms[1]}));  // the queen just lost: recapture on e5
  EXPECT_EQ(filter(0.7, move("a8", "f6", 0, -Queen)), ms);
}

TEST_F(Filters, CaptureMania) {
  const auto bxn = move("c1", "f4", Bishop, -Knight), rxn = move("a1", "a8", Rook, -Knight);
  const auto kxp = move("e1", "e2", King, -Pawn), qxn = move("d1", "d5", Queen, -Knight);
  const auto quiet = move("a8", "a7", 0, 0), capture = move("a8", "a7", 0, -Pawn);
  const auto mania = [&](std::vector<double> draws, const MoveList& filtered, const MovePtr& lastply) {
    ScriptedDraws d(std::move(draws));
    const MovePtr m = p.nonSilly_capture_mania_({}, *lastply, filtered);
    EXPECT_EQ(d.remaining(), 0u);
    return m;
  };
  EXPECT_EQ(mania({}, {qxn}, quiet), nullptr);            // a queen wants a rook at least
  EXPECT_EQ(mania({0.0, 5 / 7.0}, {bxn}, quiet), bxn);    // distance 3: five times in seven
  EXPECT_EQ(mania({0.0, 0.72}, {bxn}, quiet), nullptr);
  EXPECT_EQ(mania({0.0}, {bxn}, capture), bxn);
  EXPECT_EQ(mania({0.0, 0.2, 0.0}, {rxn, kxp}, quiet), kxp);  // the long capture is not retried
  const auto qxr = move("d1", "d2", Queen, -Rook);
  EXPECT_EQ(mania({0.0}, {qxr}, quiet), qxr);  // no distance draw
}

// SelectNonSillyMove for a player whose opponent has just played `move` from `before`.
struct NonSilly {
  testing_support::ScriptedEngine fake;
  AI_BASIC p{"tester", 1000, std::nullopt, fake.config()};
  testing_support::CaptureEcho echo;

  NonSilly(const std::string& script, const std::string& before, const std::string& move) : fake(script) {
    testing_support::place(p, before, move);
  }
  // The choice among `top` under exactly these draws; `exit` is the logged way out.
  std::string select(const std::vector<std::string>& top, std::vector<double> draws, const std::string& exit) {
    MoveList candidates;
    for (const auto& c : top)
      candidates.push_back(*std::ranges::find_if(p.legalmoves, [&](auto& m) { return m->to_coord() == c; }));
    ScriptedDraws d(std::move(draws));
    const std::string reply = p.SelectNonSillyMove(candidates, 3)->to_coord();
    EXPECT_EQ(d.remaining(), 0u);
    EXPECT_NE(std::find(echo.lines.begin(), echo.lines.end(), "nonsillymove: " + exit), echo.lines.end()) << exit;
    return reply;
  }
};

TEST(NonSillyMove, ExitsOfTheDecisionChain) {
  NonSilly only("", "1r5k/8/8/8/8/8/7r/K7 b - - 0 1", "b8a8");  // Kb1 is the only move
  EXPECT_EQ(only.select({"a1b1"}, {0.0}, "len_analyses==1 -> topd2moves"), "a1b1");
  // The knight has just taken a rook: it is taken back from near or far, first candidate first.
  NonSilly rook("", "4k3/8/8/8/3n4/1R5R/P7/4K3 b - - 0 1", "d4b3");
  EXPECT_EQ(rook.select({"h3b3", "a2b3"}, {}, "capture_lastply.piece"), "h3b3");
  EXPECT_EQ(rook.select({"a2b3", "h3b3"}, {}, "capture_lastply.piece"), "a2b3");
  NonSilly near("", "4k3/8/8/8/3n4/1P6/8/1R2K3 b - - 0 1", "d4b3");  // a pawn taken within SEE_RANGE
  EXPECT_EQ(near.select({"b1b3"}, {}, "capture_lastply.piece"), "b1b3");
  // It took only a pawn: the far rook is no reflex, but capture mania takes the knight.
  NonSilly pawn("score h3b3 300 e8d7\n", "4k3/8/8/8/3n4/1P5R/8/4K3 b - - 0 1", "d4b3");
  EXPECT_EQ(pawn.select({"h3b3"}, {0.5, 0.0}, "capture_mania_lastply.captured"), "h3b3");

  const std::string after_d4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1";
  NonSilly none("", after_d4, "d7d5");  // no line has a reply: every move is dropped
  EXPECT_EQ(none.select({"e2e4", "g1f3"}, {0.5, 0.6}, "no_moves -> topd2moves"), "g1f3");
  // A single piece with few moves left: a third of the time the candidates decide.
  NonSilly knight("score g1f3 10 g8f6\nscore g1h3 10 g8f6\n", after_d4, "d7d5");  // h3: the rim, dropped
  EXPECT_EQ(knight.select({"e2e4"}, {0.5, 0.2, 0.0}, "constrained_king_situation -> topd2moves"), "e2e4");
  EXPECT_EQ(knight.select({"e2e4"}, {0.5, 0.5, 0.0}, "general, 1 choices"), "g1f3");
  // Pawn moves are accepted reluctantly: the double step is rejected after one draw, the
  // single step after two, then the single step is accepted.
  NonSilly pawns("score a2a3 10 g8f6\nscore a2a4 10 g8f6\nscore b1c3 10 g8f6\n", after_d4, "d7d5");
  std::vector<std::string> order;  // the surviving moves, in legal-move order
  for (const MovePtr& m : pawns.p.legalmoves)
    if (Set{"a2a3", "a2a4", "b1c3"}.contains(m->to_coord())) order.push_back(m->to_coord());
  const auto at = [&](const char* c) { return (std::find(order.begin(), order.end(), c) - order.begin() + 0.5) / 3; };
  EXPECT_EQ(pawns.select({"e2e4"}, {0.5, at("a2a4"), 0.5, at("a2a3"), 0.5, 0.15, at("a2a3"), 0.5, 0.05},
                         "general, 3 choices"),
            "a2a3");
}

}  // namespace
