// AI_BASIC's shared choice operations, against the scripted engine and scripted draws.
#include <gtest/gtest.h>


#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/scripted_channel.h"

using namespace ai_players;
using testing_support::Chooser;
using testing_support::place;
using testing_support::Position;
using testing_support::ScriptedEngine;
using V = std::vector<std::string>;

namespace {

// The moves a depth-2 ListTopMoves keeps when the engine scores as `script` says.
V top(const std::string& script, double margin, int multipv, std::optional<int> mate_limit = {},
      const std::string& fen = std::string(common::FEN_New_Game)) {
  ScriptedEngine fake(script);
  AI_BASIC p("Tester", 100, std::nullopt, fake.config());
  place(p, fen);
  V out;
  for (const auto& m : p.ListTopMoves(margin, multipv, 2, {}, mate_limit).topmoves) out.push_back(m->to_coord());
  return out;
}

TEST(ListTopMoves, MarginRules) {
  const std::string s = "score e2e4 50\nscore d2d4 50\nscore g1f3 45\nscore b1c3 20\ndefault-score -300\n";
  EXPECT_EQ(top(s, 30, 5), (V{"e2e4", "d2d4", "g1f3", "b1c3"}));  // inclusive
  EXPECT_EQ(top(s, 29, 5), (V{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top(s, 30, 5, 1), (V{"e2e4", "d2d4"}));
  // Black is mated in 5, 4, 3 or 2: mate_limit 2 caps at one mate step; no halving when losing.
  const std::string fen = "4k3/8/8/8/8/8/8/R3K3 b - - 0 1";
  const std::string mated = "score e8d8 mate -5\nscore e8f8 mate -4\nscore e8e7 mate -3\n"
                            "score e8d7 mate -2\nscore e8f7 mate -2\n";
  EXPECT_EQ(top(mated, 5000, 3, 2, fen), (V{"e8d8", "e8f8"}));
  EXPECT_EQ(top(mated, 5000, 3, {}, fen), (V{"e8d8", "e8f8", "e8e7"}));
  // A quick winning mate halves margins from 20 on.
  const auto below = [](const char* move, int mate, int cp) {
    return "score " + std::string(move) + " " + std::to_string(MATE_IN(mate) - cp) + "\n";
  };
  const std::string m4 = "score e2e4 mate 4\n" + below("d2d4", 4, 10) + below("g1f3", 4, 19);
  EXPECT_EQ(top(m4, 20, 3), (V{"e2e4", "d2d4"}));
  EXPECT_EQ(top(m4, 19, 3), (V{"e2e4", "d2d4", "g1f3"}));
  EXPECT_EQ(top("score e2e4 mate 6\n" + below("d2d4", 6, 30), 40, 2), (V{"e2e4", "d2d4"}));
}

// ConsiderTopD2Moves on a fixed board; no engine search is involved.
struct TopD2 : ::testing::Test {
  ScriptedEngine fake;
  AI_BASIC p{"Tester", 100, std::nullopt, fake.config()};
  MoveList moves;

  void on(const std::string& fen, const V& wanted) {
    place(p, fen);
    moves.clear();
    for (const auto& c : wanted) moves.push_back(p.board.parse_move(c));
  }
  // The choice under scripted draws, every one of which must be used.
  std::string pick(int best_score, double rate, std::vector<double> draws) {
    ScriptedDraws scripted(std::move(draws));
    const MovePtr m = p.ConsiderTopD2Moves(best_score, moves, rate, {});
    EXPECT_EQ(scripted.remaining(), 0u);
    return m ? m->to_coord() : "none";
  }
};

TEST_F(TopD2, MateForcingMovesAndFarAhead) {
  // Move 30: a quiet move, a king move, a capture, a promotion.
  const std::string fen = "4k3/1P6/8/3p4/8/4N3/8/4K3 w - - 0 30";
  on(fen, {"e3g4", "e1d1", "e3d5", "b7b8q"});
  EXPECT_EQ(pick(MATE_IN(3), -1, {0.0}), "e3g4");      // mate in 3: no chance draw
  EXPECT_EQ(pick(0, 1.0, {0.999, 0.0}), "e1d1");       // only forcing moves are candidates
  EXPECT_EQ(pick(0, 0.5, {0.6, 0.4}), "e3d5");         // 0.5^0.7 = 0.6156
  EXPECT_EQ(pick(0, 0.5, {0.65, 0.49, 0.0}), "e3g4");  // declined; plain rate at step 8
  EXPECT_EQ(pick(MATE_IN(4), -0.3, {0.001, 0.001}), "none");
  on(fen, {"e3g4", "e3c4"});
  EXPECT_EQ(pick(0, 0.5, {0.4, 0.99}), "e3c4");  // nothing forcing: no draw for it
  // Black a queen and a rook up after move 20: any top move, no chance draw.
  on("qr2k3/8/8/8/8/8/8/4K3 b - - 0 21", {"a8a7", "b8b7"});
  EXPECT_EQ(pick(0, 0, {0.9}), "b8b7");
  on("qr2k3/8/8/8/8/8/8/4K3 b - - 0 20", {"a8a7", "b8b7"});  // not yet at move 20
  EXPECT_EQ(pick(0, 0, {0.9}), "none");
  on("QR2K3/8/8/8/8/8/8/4k3 b - - 0 21", {"e1d2", "e1f2"});  // the side that lacks it
  EXPECT_EQ(pick(0, 0, {0.001, 0.001}), "none");
}

TEST_F(TopD2, MaterialBonusAndDevelopment) {
  on("4k3/8/8/8/8/8/8/Q3K3 w - - 0 20", {"a1a2", "a1b1"});  // a queen up, move 20: rates up to 0.4
  EXPECT_EQ(pick(0, 0.1, {0.29, 0.0}), "a1a2");
  EXPECT_EQ(pick(0, 0.1, {0.31}), "none");
  EXPECT_EQ(pick(0, 0.3, {0.41}), "none");
  EXPECT_EQ(pick(0, 0.9, {0.85, 0.0}), "a1a2");  // higher rates stay
  on("4k3/8/8/8/8/8/8/R3K3 w - - 0 20", {"a1a2"});  // a rook up is not enough
  EXPECT_EQ(pick(0, 0.1, {0.11}), "none");
  // Developing moves up to move 10.
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

// The depths of the candidate searches the engine was asked for.
std::vector<int> depths(const ScriptedEngine& fake) {
  std::vector<int> out;
  for (const auto& line : fake.received("go depth ")) out.push_back(std::stoi(line.substr(9)));
  return out;
}

TEST(MasterMove, NodeSearchSetsTheSequenceDepthCappedAt30) {
  {
    ScriptedEngine fake("score b8b2 30\nscore a8a7 24\nscore b8b1 22\ndefault-score -10\n");
    AI_BASIC p("Tester", 100, std::nullopt, fake.config());
    place(p, "kr6/8/8/8/8/8/8/7K b - - 0 1");  // Black a rook up
    EXPECT_THROW(p.GetMasterMove(1e9), AssertionError);
    ScriptedDraws draws({0.99});
    testing_support::CaptureEcho echo;
    EXPECT_EQ(p.GetMasterMove(262144.7)->to_coord(), "a8a7");  // b8b1 is 8 below: out
    EXPECT_EQ(echo.lines.at(0), "GetMasterMove");
    EXPECT_EQ(depths(fake), std::vector<int>(5, 11));          // the fake's probe settles on 11
    EXPECT_EQ(p.MasterMove_Depth, 14);
    EXPECT_EQ(p.MasterMove_M_Balance, common::Rook);
    EXPECT_EQ(p.calc_material_balance(common::WHITE), -common::Rook);
  }
  ScriptedEngine fake("on go depth\n> info depth 28 score cp 10 pv a1b2\n> bestmove a1b2\n"
                  "on go depth\n> info depth 28 score cp 5 pv a1a2\n> bestmove a1a2\n"
                  "on go depth\n> info depth 28 score cp 0 pv a1b1\n> bestmove a1b1\n");
  AI_BASIC p("Tester", 100, std::nullopt, fake.config());
  place(p, "7k/8/8/8/8/8/8/K7 w - - 0 1");
  ScriptedDraws draws({0.0});
  EXPECT_EQ(p.GetMasterMove(300000)->to_coord(), "a1b2");
  EXPECT_EQ(p.MasterMove_Depth, 30);
}

TEST(MasterMove, ContinuationDepthFallsBy4Then3Then2AsMaterialIsLost) {
  ScriptedEngine fake("score e2e4 10\nscore d2d4 3\n");
  AI_BASIC p("Tester", 100, std::nullopt, fake.config());
  place(p, std::string(common::FEN_New_Game));
  p.MasterMove_Depth = 10;
  EXPECT_THROW(p.GetMasterMove_Continuation_(), Error);  // no master move yet
  p.MasterMove_Depth = 21;
  p.MasterMove_M_Balance = 0;
  ScriptedDraws draws({0.0, 0.99, 0.0, 0.0, 0.0});
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "e2e4");
  EXPECT_EQ(p.GetMasterMove_Continuation_()->to_coord(), "d2d4");  // exactly 7 below
  for (const char* fen : {"4k3/pp6/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/P7/4K3 w - - 0 1",
                          "4k3/p7/8/8/8/8/8/4K3 w - - 0 1"}) {  // White 2 pawns down, 1 up, 1 down
    place(p, fen);
    EXPECT_NE(p.GetMasterMove_Continuation_(), nullptr);
  }
  EXPECT_EQ(p.MasterMove_Depth, 4);
  EXPECT_EQ(p.GetMasterMove_Continuation_(), nullptr);  // 4 - 3 is below 2: the sequence ends
  EXPECT_EQ(p.MasterMove_Depth, 0);
  EXPECT_EQ(depths(fake), (std::vector<int>{17, 17, 13, 13, 11, 11, 7, 7, 4, 4}));  // no search at the end
}

TEST(ReplyDriver, ShortcutsNeedNoEngineButAMasterRequestSearches) {
  ScriptedEngine fake("score d2d4 50\nscore c2c4 30\n");
  Chooser p(fake);
  const MoveList only = board::Board("7k/8/8/8/8/8/6q1/7K w - - 0 1").legal_moves();
  {
    testing_support::CaptureEcho echo;
    EXPECT_EQ(p.GetReply(Position("d2d4").history, only), only[0]);  // the very object
    EXPECT_EQ(echo.lines, V{"only_move"});
  }
  EXPECT_TRUE(p.game_history.empty() && p.myside == 0);  // nothing stored
  EXPECT_EQ(p.GetReply({}, Position().legal())->to_coord(), "e2e4");
  EXPECT_EQ(p.GetReply(Position("e2e4").history, Position("e2e4").legal())->to_coord(), "e7e5");
  EXPECT_EQ(p.calls, 0);
  // Another start text, another first move: the persona chooses.
  p.GetReply({}, Position().legal(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 2");
  p.GetReply(Position("d2d4").history, Position("d2d4").legal());
  EXPECT_EQ(p.calls, 2);
  EXPECT_TRUE(fake.received("go").empty() && fake.received("position").empty());
  ScriptedDraws draws({0.0});
  EXPECT_EQ(p.GetReply({}, Position().legal(), common::FEN_New_Game, true)->to_coord(), "d2d4");
  EXPECT_TRUE(p.calls == 2 && !fake.received("go").empty());
}

TEST(ReplyDriver, StoresTheRequestAndRebuildsTheReply) {
  ScriptedEngine fake;
  Chooser p(fake);
  const Position game("d2d4 g8f6 c2c4"), white("d2d4 g8f6");
  const MoveList legal = game.legal(), other = game.legal();
  p.choose = [&](AI_BASIC&) { return other.front(); };  // an object of another list: only its text counts
  const MovePtr reply = p.GetReply(game.history, legal, "x", false, 12.5);
  EXPECT_EQ(reply->to_coord(), other.front()->to_coord());
  EXPECT_TRUE(reply != legal.front() && reply != other.front());
  EXPECT_TRUE(p.margin_seen == 12.5 && p.start_fen == "x" && p.game_history == game.history);
  EXPECT_TRUE(p.legalmoves == legal && &p.legalmoves != &legal);  // a copy sharing the moves
  EXPECT_EQ(std::make_pair(p.myside, p.oppside), std::make_pair(common::BLACK, common::WHITE));
  EXPECT_THROW(p.GetReply(white.history, white.legal()), board::IllegalMoveError);  // Black's move
  p.choose = [](AI_BASIC& self) { return self.legalmoves.front(); };
  p.GetReply(white.history, white.legal());
  EXPECT_EQ(std::make_pair(p.myside, p.oppside), std::make_pair(common::WHITE, common::BLACK));
  p.choose = [](AI_BASIC&) { return MovePtr(); };
  EXPECT_THROW(p.GetReply(game.history, legal), Error);
  AI_BASIC plain("Plain", 100, std::nullopt, fake.config());  // the base class cannot choose
  EXPECT_THROW(plain.GetReply(white.history, white.legal()), Error);
}

// White: king e1, pawn e2; Black: king e8, pawn d5. The annotations must reach the caller's objects.
struct Enrich : ::testing::Test {
  ScriptedEngine fake;
  AI_BASIC p{"Tester", 100, std::nullopt, fake.config()};
  Enrich() { place(p, "4k3/8/8/3p4/8/8/4P3/4K3 w - - 0 1"); }
  const board::Move& find(const std::string& coord) {
    for (auto& m : p.legalmoves)
      if (m->to_coord() == coord) return *m;
    throw std::runtime_error(coord);
  }
};

TEST_F(Enrich, ScoreErrorAndExpectedReply) {
  const MoveList host = p.legalmoves;
  EXPECT_EQ(&p.EnhanceMovesInfo({{20, 9, {"e2e4", "d5e4"}}, {10, 9, {"e2e3", "d5d4"}}, {0, 9, {"e1d2", "e8d7"}},
                                 {-5, 9, {"e1f2", "d5d4"}}, {-10, 9, {"e1d1", "e8e1"}}, {-20, 9, {"e1f1"}}}),
            &p.legalmoves);
  EXPECT_EQ(host, p.legalmoves);  // annotated in place
  const board::Move& e4 = find("e2e4");
  EXPECT_EQ(std::tie(e4.Score, e4.ErrorScore, e4.R1_FromSQ, e4.R1_ToSQ, e4.R1_Piece),
            std::make_tuple(20, 0, 45, 54, -common::Pawn));
  EXPECT_EQ(e4.R1_Captured, common::Pawn);  // the pawn that moves to e4, not the empty e4
  EXPECT_TRUE(find("e2e3").ErrorScore == 10 && find("e2e3").R1_Captured == 0);
  EXPECT_EQ(find("e1d1").R1_Captured, common::King);  // e1 as it is now: the rule is on ToSQ only
  const board::Move& f1 = find("e1f1");  // no reply in the line: only the mark
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

  V expected;
  const auto call = [&](V values) {  // every call prints seven lines
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
  EXPECT_TRUE(p.legalmoves[1]->ErrorScore && !p.legalmoves[3]->ErrorScore);  // stopped at the bad move

  analyses.insert(analyses.begin() + 1, {5, 8, {missing, "e8e7"}});  // scores above the best
  EXPECT_THROW(p.EnhanceMovesInfo(analyses), AssertionError);
  EXPECT_EQ(p.legalmoves[2]->ErrorScore, -5);
}

}  // namespace
