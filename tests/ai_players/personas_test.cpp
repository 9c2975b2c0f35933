// The personas against scripted engine lines and scripted draws, the rosters, and real games
// with the real engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/rosters.h"
#include "ai_players/personas/safe_reply.h"
#include "ai_players/personas/strong_gang.h"
#include "ai_players/personas/verevovera.h"
#include "support/scripted_channel.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::Chooser;
using testing_support::Position;
using testing_support::ScriptedEngine;
using V = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

const std::string kAfterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1";

// The reply after `moves` from `before`, with exactly these draws.
std::string reply(AI_BASIC& p, std::vector<double> draws, const std::string& before = kAfterD4,
                  const std::string& moves = "d7d5") {
  const Position g(moves, before);
  ScriptedDraws d(std::move(draws));
  const std::string r = p.GetReply(g.history, g.legal(), before)->to_coord();
  EXPECT_EQ(d.remaining(), 0u);
  return r;
}
// Whether a line starts with `prefix`.
bool has(const V& lines, const std::string& prefix) { return std::ranges::any_of(lines, [&](auto& l) { return l.starts_with(prefix); }); }

TEST(Gangs, ConstructorChecksRatesAndTheRandomRate) {
  ScriptedEngine fake;
  CaptureEcho echo;
  const auto c = fake.config();
  EXPECT_THROW(BEGINNER_GANG("Isis", Number(-1000), -1, c), AssertionError);  // no rate given
  EXPECT_THROW(BEGINNER_GANG("Isis", Number(1.01), 250, c), AssertionError);
  EXPECT_THROW(BEGINNER_GANG("Isis", Number(-0.94), -1, c), AssertionError);  // no elo given
  for (double bad : {0.51, -0.01}) EXPECT_THROW(STRONG_GANG("x", Number(bad), 1500, c), AssertionError);
  EXPECT_THROW(STRONG_GANG("Diana", Number(0.06), -1, c), AssertionError);  // no elo given
  // What the constructors refuse, accepts() says beforehand (an elo left out is none).
  EXPECT_EQ((std::vector<bool>{BEGINNER_GANG::accepts("Isis", Number(-0.94)), BEGINNER_GANG::accepts("Isis", Number(1.01), 250),
                               BEGINNER_GANG::accepts("Isis", Number(-0.94), 250), BEGINNER_GANG::accepts("NOVICE", Number(0.27)),
                               STRONG_GANG::accepts("Diana", Number(0.06)), STRONG_GANG::accepts("x", Number(0.51), 1500),
                               STRONG_GANG::accepts("Diana", Number(0.06), 1350), STRONG_GANG::accepts("strong", Number(0.25))}),
            (std::vector<bool>{false, false, true, true, false, false, true, true}));
  BEGINNER_GANG novice("NOVICE", Number(0.27), -1, c), talvo("Talvo", RandomRate{}, 100, c);
  EXPECT_EQ(to_text(BEGINNER_GANG("NOVICE", RandomRate{}, 40, c).ELO), "40");  // no rate to scale: the elo stays
  STRONG_GANG diana("Diana", Number(0.06), 1350, c), keen("keen", Number(0.5), 2000, c), strong("strong", Number(0.25), -1, c);
  for (const char* line : {"gang:BEGINNER; elo:270.0; D2_RATE:0.27", "gang:BEGINNER; elo:100; D2_RATE:random",
                           "gang:STRONG; elo:1350; D2_RATE:0.59; M_RATE:0.06"})
    EXPECT_TRUE(has(echo.lines, line)) << line;
  EXPECT_DOUBLE_EQ(diana.NODES_, 65536 + 5683200 * 0.06);
  EXPECT_EQ(keen.D2_RATE, 0.975);
  EXPECT_EQ(to_text(strong.ELO), "250.0");
  const std::string random_move = reply(talvo, {0.0});
  EXPECT_EQ(random_move, talvo.legalmoves[0]->to_coord());  // random: the first legal move, no search
  EXPECT_FALSE(has(fake.received(), "go"));
}

TEST(BeginnerGang, FilterSettingsFollowTheRateOnEveryReply) {
  ScriptedEngine fake("score e2e4 mate 2 d5e4\n");  // a won game: the top move, one draw
  BEGINNER_GANG horus("Horus", Number(0.0), 450, fake.config());
  struct Case {
    double rate;
    std::vector<double> draws;  // [capture mania,] SEE_RANGE, SCAN_N, choice
    int see_range;
    bool scan_n;
  };
  for (const Case& c : std::vector<Case>{{0.0, {0.0, 0.2, 0.0}, 2, true},
                                         {0.0, {0.999, 0.21, 0.0}, 7, false},
                                         {0.25, {0.0, 0.75, 0.0}, 4, false},
                                         {1.0, {0.0, 0.99, 0.0}, 7, true},
                                         {-0.94, {0.95, 0.5, 0.2, 0.0}, 4, true}}) {
    horus.D2_RATE = Number(c.rate);
    EXPECT_EQ(reply(horus, c.draws), "e2e4");
    EXPECT_EQ(std::make_pair(horus.SEE_RANGE, horus.SCAN_N), std::make_pair(c.see_range, c.scan_n)) << c.rate;
  }
  // Above 800 the rate is drawn afresh from 0.8 to 1.0 on every reply, even over "random".
  BEGINNER_GANG epona("disabled.Epona", RandomRate{}, 1050, fake.config());
  EXPECT_EQ(reply(epona, {0.5, 0.0, 0.0, 0.0}), "e2e4");
  EXPECT_DOUBLE_EQ(std::get<Number>(epona.D2_RATE).value(), 0.9);
}

TEST(BeginnerGang, CaptureManiaReplies) {
  const auto mania = [](const std::string& script, const std::string& before, const std::string& move,
                        std::vector<double> draws) {
    ScriptedEngine fake(script);
    CaptureEcho echo;
    BEGINNER_GANG isis("Isis", Number(-0.94), 250, fake.config());
    return reply(isis, std::move(draws), before, move);
  };
  EXPECT_EQ(mania("score e1g1 50 e8g8\n", "r3k2r/pppq1ppp/2n2n2/3pp3/3PP3/2N2N2/PPPQ1PPP/R3K2R b KQkq - 0 8", "h7h6",
                  {0.5}),
            "e1g1");  // the engine's castling
  // Bxg7 takes a rook with a minor piece and counts twice next to exd5 (Qxd5 not at all): of
  // two draws that would both pick exd5 from a single listing, one now picks Bxg7.
  const std::string grab = "1k6/6r1/8/3n4/4P3/8/1B6/3Q3K b - - 0 20";
  EXPECT_EQ((std::set<std::string>{mania("score h1h2 20 a8b8\n", grab, "b8a8", {0.5, 0.5}),
                                   mania("score h1h2 20 a8b8\n", grab, "b8a8", {0.5, 0.7})}),
            (std::set<std::string>{"b2g7", "e4d5"}));
  // Nothing to capture: a won late game gives the engine's move; otherwise a random move,
  // a king move only from move 20 on.
  const auto quiet = [](int number) { return "7k/8/8/8/8/8/PP6/6K1 b - - 0 " + std::to_string(number); };
  EXPECT_EQ(mania("score a2a4 1300 g8f7\n", quiet(24), "h8g8", {0.5, 0.3}), "a2a4");
  const MoveList legal = Position("h8g8", quiet(19)).legal();
  const auto king = std::find_if(legal.begin(), legal.end(), [](auto& m) { return m->FromSQ == common::to_num("g1"); });
  const double at_king = (static_cast<double>(king - legal.begin()) + 0.5) / static_cast<double>(legal.size());
  EXPECT_EQ(mania("score a2a4 50 g8f7\n", quiet(19), "h8g8", {0.5, at_king}), (*king)->to_coord());
  EXPECT_FALSE(mania("score a2a4 50 g8f7\n", quiet(14), "h8g8", {0.5, at_king}).starts_with("g1"));
  // Cut short before the engine said anything: no engine move to weigh, but the greed needs no
  // search (dxe5, the one capture, by a pawn).
  ScriptedEngine fake("score a2a4 50\n");
  CaptureEcho echo;
  BEGINNER_GANG isis("Isis", Number(-0.94), 250, fake.config());
  isis.interrupt();
  EXPECT_EQ(reply(isis, {0.5, 0.0}, std::string(common::FEN_New_Game), "d2d4 e7e5"), "d4e5");
  EXPECT_TRUE(isis.cut_short() && fake.received("go").empty());
  EXPECT_EQ(echo.lines.back(), "_get_capture_mania_reply: cut short, no engine line");
}

// Nf3 and e4 tie at the top after 1.d4 d5; a2a3 is the move of the endgames below.
const std::string kStrongScript = "score g1f3 30 g8f6\nscore e2e4 30 d5e4\nscore a2a3 10 h7h6\n";

TEST(StrongGang, SearchDepthRatesAndMasterSequence) {
  ScriptedEngine fake(kStrongScript);
  CaptureEcho echo;
  STRONG_GANG diana("Diana", Number(0.06), 1350, fake.config()), ceres("Ceres", Number(0.06), 1550, fake.config());
  // Draws: depth 4?, [depth 3?,] master move?, then the development draw and its choice.
  EXPECT_EQ(reply(diana, {0.9, 0.13, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "topmove of ['Nf3', 'e4']") && has(fake.received(), "go depth 2 searchmoves"));
  EXPECT_TRUE(diana.SCAN_N && diana.SEE_RANGE == 8);
  EXPECT_EQ(reply(diana, {0.9, 0.1, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "d2_depth=3") && has(fake.received(), "go depth 3 searchmoves"));
  EXPECT_EQ(reply(diana, {0.029, 0.9, 0.0, 0.0}), "g1f3");  // just under half the master rate
  EXPECT_TRUE(has(echo.lines, "d2_depth=4") && has(fake.received(), "go depth 4 searchmoves"));
  // Above 1400 the master rate is drawn afresh (0.3 to 0.4); the node budget stays.
  EXPECT_EQ(reply(ceres, {0.5, 0.9, 0.9, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_DOUBLE_EQ(ceres.M_RATE, 0.35);
  EXPECT_DOUBLE_EQ(ceres.NODES_, diana.NODES_);
  // A master move: the probe settles on depth 11, so the sequence starts at 14.
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.0, 0.99}), "e2e4");
  EXPECT_TRUE(has(echo.lines, "m-move @ move ") && has(fake.received(), "go infinite"));
  EXPECT_EQ(diana.MasterMove_Depth, 14);
  // While it runs deep the master rate is a third: 0.025 no longer draws a master move.
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.025, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "master_continuation 14 depth") && has(fake.received(), "go depth 10 searchmoves"));
  // A sequence that ends falls through to the shallow choice in the same reply.
  diana.MasterMove_Depth = 5;
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.05, 0.0, 0.0}), "g1f3");
  EXPECT_EQ(diana.MasterMove_Depth, 0);
  diana.MasterMove_Depth = 14, diana.MasterMove_M_Balance = 0;
  diana.new_game();  // back to the settings a fresh persona has
  EXPECT_TRUE(!diana.SCAN_N && diana.SEE_RANGE == 2 && diana.MasterMove_Depth == 0 && !diana.MasterMove_M_Balance);
}

TEST(StrongGang, WithoutATopMove) {
  ScriptedEngine fake(kStrongScript);
  CaptureEcho echo;
  STRONG_GANG diana("Diana", Number(0.06), 1350, fake.config());
  // Past move 10 one draw declines the top move; after a quiet ply the non-silly choice
  // decides (queen care, constrained piece, choice, pawn acceptance).
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.9, 0.9, 0.5, 0.5, 0.0, 0.05}, "4k3/8/8/3p4/8/2N5/PP6/4K3 b - - 0 15", "e8d7"),
            "a2a3");
  EXPECT_TRUE(has(echo.lines, ".x.-select-non-sillymove") && diana.DEBUG_topD2moves.size() == 1);
  EXPECT_TRUE(fake.received("go ").back().starts_with("go depth 3 "));  // every move judged three plies deep
  // After a capture any candidate will do, and nothing is kept for diagnostics.
  diana.DEBUG_topD2moves.clear();
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.9, 0.9, 0.0}, "4k3/8/8/8/3p4/2N5/PP6/4K3 b - - 0 15", "d4c3"), "a2a3");
  EXPECT_TRUE(has(echo.lines, "16 capture-sequence") && diana.DEBUG_topD2moves.empty());
}

TEST(HOUD20c, StrengthCommandsAndBestmoveReading) {
  // The leftover answers to "uci" and the info lines are skipped.
  ScriptedEngine fake("on go depth 30\n> info depth 1 score cp 13 pv d2d4\n> info depth 2 score mate 3 pv g1f3 b8c6\n"
                      "> bestmove g1f3 ponder b8c6\non go depth 30\n> info depth 1 score cp 13 pv d2d4\ndie\n");
  const std::string kNew(common::FEN_New_Game), third = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 3";
  {
    CaptureEcho echo;
    EXPECT_THROW(HOUD20c(1205, fake.config()), AssertionError);
    EXPECT_TRUE(echo.lines.empty() && fake.received().empty());  // refused before starting
    HOUD20c h(1200, fake.config());
    EXPECT_EQ(h.Name, "HOUD20c (1200)");
    h.change_elo(1555);  // no multiple-of-ten rule here
    EXPECT_EQ(std::make_pair(h.Name, h.ELO), std::make_pair(std::string("HOUD20c(1555)"), Number(1555)));
    EXPECT_EQ(echo.lines, (V{"HOUD20c 1200", "AI:HOUDINI20c; elo_limited=1200", "HOUD20c 1555"}));
    EXPECT_EQ(reply(h, {}, kNew, "e2e4 e7e5"), "g1f3");
    // Its engine's line for the move is the persona's analysis of it.
    const auto line = h.line_for("g1f3");
    ASSERT_TRUE(line);
    EXPECT_EQ(std::tie(line->score, line->depth, line->pv_list), std::make_tuple(MATE_IN(3), 2, V{"g1f3", "b8c6"}));
    // In the first two plies the engine is not asked; a fixed move is played, with no analysis.
    EXPECT_EQ(reply(h, {}, third, ""), "e2e4");
    EXPECT_FALSE(h.line_for("e2e4") || h.line_for("g1f3"));
    EXPECT_EQ(reply(h, {}, kNew, "d2d4"), "e7e5");
    // An engine that ends without a bestmove line is an error, not an endless loop.
    EXPECT_THROW(reply(h, {}, kNew, "e2e4 e7e5"), EngineError);
  }
  std::string sent;  // after the start-up lines
  for (std::size_t i = 4; i < fake.received().size(); ++i) sent += fake.received()[i] + "\n";
  testing_support::expect_as_in_file("houd20c_commands.txt", sent);
}

TEST(Verevovera, PreviewSameMoveWorseMoveMoveThatWinsTheHeadToHeadAndTheOnlyMove) {
  // The head-to-head of g1f3 and e2e4 is scripted; the other searches use the scores.
  ScriptedEngine fake("score e2e4 40 e7e5\nscore d2d4 30\n"
                  "on go depth 7 searchmoves g1f3 e2e4\n> info depth 7 score cp 55 pv g1f3 d7d5\n> bestmove g1f3\n"
                  "on go depth 7 searchmoves e2e4\n> info depth 7 score cp 35 pv e2e4\n> bestmove e2e4\n");
  Verevovera v(fake.config());
  const board::Board start;
  const MoveList legal = start.legal_moves();
  CaptureEcho echo;
  const auto preview = [&](const char* human) {
    const Preview r = v.Ask_For_Preview({}, *start.parse_move(human), legal);
    return std::make_tuple(r.best_score, r.actual_score, r.best_line);
  };
  EXPECT_EQ(preview("e2e4"), std::make_tuple(40, 40, V{"e2e4", "e7e5"}));
  EXPECT_EQ(fake.received("go depth 7").size(), 2u);  // one search of two lines
  EXPECT_EQ(preview("b1c3"), std::make_tuple(40, 0, V{"e2e4", "e7e5"}));
  EXPECT_EQ(preview("g1f3"), std::make_tuple(55, 35, V{"g1f3", "d7d5"}));
  // A single head-to-head line (the only legal move) keeps the first search.
  const std::string fen = "7k/8/8/8/8/8/6q1/7K w - - 0 1";
  ScriptedEngine lone("score h1g2 -30\n");
  Verevovera w(lone.config());
  const Preview r = w.Ask_For_Preview({}, *board::Board("7k/8/8/8/8/8/8/7K w - - 0 1").parse_move("h1h2"),
                                      board::Board(fen).legal_moves(), fen);
  EXPECT_EQ(std::make_tuple(r.best_score, r.actual_score, r.best_line), std::make_tuple(-30, -30, V{"h1g2"}));
  EXPECT_EQ(echo.lines, (V{"Preview: best:e2e4 -> 40, actual:b1c3 -> 0", "Preview: best:e2e4 -> 55, actual:g1f3 -> 35",
                           "Verevovera 2500", "Preview: best:h1g2 -> -30, actual:h1h2"}));
}

TEST(Verevovera, APreviewCutShortBeforeTheHeadToHeadRankedTheHumansMoveHasNoVerdict) {
  // The head-to-head of b1c3 and e2e4 runs until the clock stops it: with no line, with a line
  // of the engine's best, with a line of the human's move (which the engine ranks first).
  const std::string scores = "score e2e4 40 e7e5\nscore d2d4 30\non go depth 7 searchmoves b1c3 e2e4\n";
  const std::tuple<std::string, std::optional<int>, std::string> cases[] = {
      {"", std::nullopt, "Preview: best:e2e4 -> 40, actual:b1c3 -> no time to judge this move"},
      {"> info depth 5 score cp 45 pv e2e4\n", std::nullopt,
       "Preview: best:e2e4 -> 40, actual:b1c3 -> no time to judge this move"},
      {"> info depth 5 score cp 45 pv b1c3\n", 40, "Preview: best:e2e4 -> 40, actual:b1c3"},
  };
  const board::Board start;
  for (const auto& [line, actual, said] : cases) {
    ScriptedEngine fake(scores + line + "on stop\n> bestmove b1c3\n");
    Verevovera v(fake.config());
    CaptureEcho echo;
    v.stop_at = engine::Clock::now() + 300ms;
    const Preview r = v.Ask_For_Preview({}, *start.parse_move("b1c3"), start.legal_moves());
    EXPECT_EQ(std::make_tuple(r.best_score, r.actual_score, r.best_line), std::make_tuple(40, actual, V{"e2e4", "e7e5"}));
    EXPECT_EQ(echo.lines, V{said});
    EXPECT_TRUE(v.cut_short());
  }
}

// With no clock, no watchdog and no interrupt the engine takes its time, even to answer the
// probe's own "stop": the reply is the one a quick engine gives, from the same searches.
TEST(Verevovera, WithNoLimitSetAnEngineThatAnswersStopAfterThreeSecondsGivesTheExactReply) {
  const std::string scores = "score g1f3 20\nscore c2c4 15\nscore e2e3 5\ndefault-score -40\n";
  std::vector<std::tuple<std::string, bool, bool, V>> runs;
  for (const std::string slow : {"", "on stop\nsleep 3000\n> bestmove g1f3\n"}) {
    ScriptedEngine fake(scores + slow);
    CaptureEcho quiet;
    Verevovera v(fake.config());
    const Position g("d7d5", kAfterD4);
    ScriptedDraws draws({0.99});
    const SafeReply r = reply_safely(v, g.history, g.legal(), kAfterD4);
    runs.emplace_back(r.move->to_coord(), r.cut_short, r.engine_restarted, fake.received("go"));
    EXPECT_EQ(fake.launches(), 1);
  }
  EXPECT_EQ(runs[1], runs[0]);
  EXPECT_EQ(std::get<0>(runs[0]), "c2c4");  // of the two within nine of the best
  EXPECT_FALSE(std::get<1>(runs[0]) || std::get<2>(runs[0]));
  EXPECT_EQ(std::get<3>(runs[0]).size(), 6u);  // the probe, then five candidate searches
}

TEST(Verevovera, RandomAmongTheBestWithinNineByDefault) {
  ScriptedEngine fake("score e2e4 30\nscore d2d4 21\nscore g1f3 20\ndefault-score -40\n");
  Verevovera v(fake.config());
  v.legalmoves = board::Board().legal_moves();
  CaptureEcho quiet;
  ScriptedDraws draws({0.99, 0.99, 0.99});
  EXPECT_EQ(v.GetReply_(std::nullopt)->to_coord(), "d2d4");
  EXPECT_EQ(v.GetReply_(10)->to_coord(), "g1f3");
  // A node budget: the probe, then five lines at the depth it found.
  EXPECT_EQ(fake.received("go infinite").size(), 2u);
  EXPECT_EQ(fake.received("go depth 11 searchmoves").size(), 10u);
  EXPECT_EQ(v.FallbackReply_()->to_coord(), "d2d4");  // the fallback keeps the nine
}

TEST(SafeReply, AFailedChoiceBecomesAFallbackSaidInAPlayersWordsAndADeadEngineIsRestartedOnce) {
  const std::string scores = "score g1f3 30\ndefault-score -100\n", dies = "on go\ndie\n";
  const Chooser::Choice searches = [](AI_BASIC& p) { return p.ListTopMoves(40, 3, 2).topmoves.front(); };
  struct Case {
    V scripts;
    Chooser::Choice choose;
    std::string fen;
    bool interrupted, fallback, restarted;
    std::string note, detail;  // the detail: its beginning
  };
  const std::string best = ", so it plays among its best moves";
  const Case cases[] = {
      {{scores}, [](AI_BASIC&) -> MovePtr { throw Error("no idea"); }, kAfterD4, false, true, false,
       "Chooser could not make its own choice here" + best, "no idea"},
      {{scores}, [](AI_BASIC&) -> MovePtr { return require(false), nullptr; }, kAfterD4, false, true, false,
       "Chooser could not make its own choice here" + best, "an internal check failed in "},
      {{scores}, [](AI_BASIC& p) { return p.SelectNonSillyMove(p.legalmoves, 3); }, Position("d7d5", kAfterD4).board.export_FEN(),
       false, true, false, "Chooser has no previous move to answer in this set-up position" + best,
       "an internal check failed in SelectNonSillyMove (ai_players/filters/non_silly_move.cpp:"},
      {{dies, scores}, [](AI_BASIC&) -> MovePtr { throw Error("no idea"); }, kAfterD4, false, true, true,
       "Chooser could not make its own choice here" + best, "no idea"},  // the fallback's engine restarted
      {{dies, scores}, searches, kAfterD4, false, false, true, "Chooser's engine stopped working and was restarted",
       "The chess engine " + std::string(testing_support::fake_engine_path()) +
           " stopped: its output ended while searching candidate 1 of 3 at depth 2"},
      // Interrupted before it began: nothing found, so one quick search; the reply ends the interrupt.
      {{scores}, searches, kAfterD4, true, true, false,
       "Chooser was cut short before it found a move, so it plays the engine's quickest move",
       "Chooser (100) was cut short before it found a candidate move"},
  };
  for (const Case& c : cases) {
    const Position g(c.fen == kAfterD4 ? "d7d5" : "", c.fen);
    ScriptedEngine fake(c.scripts);
    CaptureEcho quiet;
    Chooser p(fake, c.choose);
    if (c.interrupted) p.interrupt();
    ScriptedDraws draws({0.0});
    const SafeReply r = reply_safely(p, g.history, g.legal(), c.fen);
    EXPECT_EQ(r.move->to_coord(), "g1f3");
    EXPECT_EQ(std::make_tuple(r.fallback, r.engine_restarted, r.cut_short),
              std::make_tuple(c.fallback, c.restarted, c.interrupted)) << r.note;
    EXPECT_EQ(r.note, c.note);
    EXPECT_TRUE(r.detail.starts_with(c.detail)) << r.detail;
    EXPECT_FALSE(p.out_of_time());
  }
  ScriptedEngine dead(dies);  // every engine it starts dies
  CaptureEcho quiet;
  Chooser p(dead, searches);
  const Position g("d7d5", kAfterD4);
  EXPECT_THROW(reply_safely(p, g.history, g.legal(), kAfterD4), PersonaFailure);
  EXPECT_EQ(dead.launches(), 2);
}

// A game the persona plays against itself from the start, every reply through the reply policy.
V self_play(AI_BASIC& p, std::uint64_t seed, int plies) {
  ai_players::seed(seed);
  board::Board b;
  MoveList history;
  V moves;
  for (int i = 0; i < plies && !b.legal_moves().empty(); ++i) {
    const MovePtr m = reply_safely(p, history, b.legal_moves()).move;
    moves.push_back(m->to_coord());
    history.push_back(m);
    b.make_internal_move(*m);
  }
  return moves;
}

TEST(NewGame, AGameAfterANewGameIsTheGameAFreshPersonaPlays) {
  using Make = std::function<std::unique_ptr<AI_BASIC>(const engine::EngineConfig&)>;
  const std::tuple<const char*, Make, int> personas[] = {
      {"random", [](auto& c) { return std::make_unique<BEGINNER_GANG>("Talvo", RandomRate{}, 100, c); }, 16},
      {"capture mania", [](auto& c) { return std::make_unique<BEGINNER_GANG>("Isis", Number(-0.94), 250, c); }, 16},
      {"near-best", [](auto& c) { return std::make_unique<BEGINNER_GANG>("Gnome", Number(0.27), 750, c); }, 16},
      {"rate drawn", [](auto& c) { return std::make_unique<BEGINNER_GANG>("Epona", Number(1), 1050, c); }, 16},
      {"strong", [](auto& c) { return std::make_unique<STRONG_GANG>("Diana", Number(0.06), 1350, c); }, 16},
      {"master moves", [](auto& c) { return std::make_unique<STRONG_GANG>("Athena", Number(0.5), 1850, c); }, 16},
      {"preview", [](auto& c) { return std::make_unique<Verevovera>(c); }, 16},
      {"engine", [](auto& c) { return std::make_unique<HOUD20c>(1200, c); }, 10},
  };
  // An engine that keeps what it learnt until "ucinewgame": each block answers once a game. The
  // first depth search of a game (white's, after 1.e4 e5) is answered d4, a later one is not;
  // HOUD20c's engine plays a Ruy Lopez, naming the reply it expects.
  const std::string script =
      "newgame-resets\ndefault-score 0\nscore g1f3 40\nscore e2e4 35\nscore b8c6 30\nscore g8f6 25\n"
      "on go depth 30\n> bestmove g1f3 ponder b8c6\non go depth 30\n> bestmove b8c6 ponder f1b5\n"
      "on go depth 30\n> bestmove f1b5 ponder a7a6\non go depth 30\n> bestmove a7a6 ponder b5a4\n"
      "on go depth 30\n> bestmove b5a4 ponder g8f6\non go depth 30\n> bestmove g8f6 ponder e1g1\n"
      "on go depth 30\n> bestmove e1g1 ponder f8e7\non go depth 30\n> bestmove f8e7\n"
      "on go depth\n> info depth 2 score cp 60 pv d2d4 e5d4\n> bestmove d2d4\n";
  for (const auto& [kind, make, plies] : personas) {
    ScriptedEngine fake(script);
    CaptureEcho quiet;
    testing_support::CaptureBugprint quiet_diagnostics;
    const V fresh = self_play(*make(fake.config()), 7, plies);
    const auto p = make(fake.config());
    const V other = self_play(*p, 3, plies);  // another game first, so there is state to clear
    EXPECT_TRUE(other != fresh || std::string(kind) == "engine") << kind;
    p->new_game();
    EXPECT_EQ(self_play(*p, 7, plies), fresh) << kind;
    EXPECT_EQ(fake.received("isready").size(), 1u) << kind;
    if (auto* engine = dynamic_cast<HOUD20c*>(p.get())) {
      EXPECT_EQ(fresh, (V{"e2e4", "e7e5", "g1f3", "b8c6", "f1b5", "a7a6", "b5a4", "g8f6", "e1g1", "f8e7"}));
      EXPECT_EQ(engine->ponder_move, "");  // the last bestmove named none
      // What it expects after its last move is forgotten at a new game and at a fixed move.
      for (const int next : {0, 1}) {
        p->new_game();
        self_play(*p, 7, 9);
        EXPECT_EQ(engine->ponder_move, "f8e7");
        if (next == 0) p->new_game();
        else self_play(*p, 7, 1);  // 1.e4 is not the engine's
        EXPECT_EQ(engine->ponder_move, "") << next;
      }
    }
  }
  // An engine that does not answer "isready" in time fails the new game, and the next one starts
  // afresh; the message names the answer missing, "uci" when it never spoke UCI at all.
  ScriptedEngine deaf(std::vector<std::string>{"on isready\n", "on uci\non isready\n", ""});
  CaptureEcho quiet;
  Verevovera v(deaf.config());
  v.engine_timeout = v.ready_timeout = 50ms;
  for (const std::string missing : {"did not answer \"isready\" within 0.05 s", "did not answer \"uci\" within 0.05 s"}) {
    try {
      v.new_game();
      ADD_FAILURE() << missing;
    } catch (const EngineTimeout& e) {
      EXPECT_TRUE(std::string(e.what()).find(missing) != std::string::npos) << e.what();
    }
  }
  v.new_game();
  EXPECT_EQ(deaf.launches(), 3);
}

TEST(CutShort, EachPersonaGoesOnWithTheLinesItFoundAndSearchesNothingAfterTheCut) {
  CaptureEcho echo;
  testing_support::CaptureBugprint bug;
  // The non-silly search is cut after two lines: too few to judge every move by, so no filter
  // runs and no check fails; the recapture needs none and comes first (after 4.Bxc6 the best
  // three tie, Nf6 listed first), then the candidates decide.
  const std::string ruy = "r1bqkbnr/1ppp1ppp/p1n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 0 4";
  const std::tuple<std::string, std::string, std::string, std::string, const char*> nonsilly[] = {
      {kAfterD4, "d7d5", "default-score 0\n", "g1f3 e2e4",
       "nonsillymove: cut short with 2 of 27 lines -> topd2moves"},
      {ruy, "b5c6", "default-score -100\nscore g8f6 40\nscore d7c6 40\nscore b7c6 40\n", "g8f6 d8e7",
       "nonsillymove: capture_lastply.piece"},
  };
  for (const auto& [fen, last, scores, found, said] : nonsilly) {
    const std::string first = found.substr(0, 4), second = found.substr(5);
    ScriptedEngine fake(scores + "on go depth 3\n> info depth 3 score cp 10 pv " + first + "\n> bestmove " + first +
                        "\non go depth 3\n> info depth 3 score cp 10 pv " + second + "\non stop\n> bestmove " +
                        second + "\n");
    BEGINNER_GANG horus("Horus", Number(0.0), 450, fake.config());
    horus.stop_at = engine::Clock::now() + 500ms;
    const Position g(last, fen);
    ai_players::seed(1);
    echo.lines.clear();
    const SafeReply r = reply_safely(horus, g.history, g.legal(), fen);
    EXPECT_TRUE(!r.fallback && r.cut_short && r.note.empty()) << r.note;
    EXPECT_EQ(echo.lines.back(), said);
    EXPECT_EQ(fake.received("go depth 3").size(), 2u);
    EXPECT_TRUE(fen != ruy || r.move->to_coord() == "d7c6") << r.move->to_coord();  // the first that takes back
  }
  // After a master move: a continuation cut after its first line plays it; one cut before any
  // line plays a quick move, never a line of the master move's probe from an earlier position.
  // (Slow searches: the probe's "stop" would take an answer to "stop" written for them.)
  ScriptedEngine fake(kStrongScript + "score f3e5 50\non go depth 10\n> info depth 10 score cp 30 pv e2e4\nsleep 300\n> bestmove e2e4\n"
                                      "on go depth 6\nsleep 300\n> bestmove g1f3\n");
  STRONG_GANG diana("Diana", Number(0.06), 1350, fake.config());
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.0, 0.99}), "e2e4");  // the master move, at depth 14
  const Position after("d7d5 g1f3 g8f6", kAfterD4);
  const auto ask = [&](std::vector<double> draws) {
    ScriptedDraws d(std::move(draws));
    diana.stop_at = engine::Clock::now() + 100ms;
    return reply_safely(diana, after.history, after.legal(), kAfterD4);
  };
  std::size_t searches = fake.received("go").size();
  const SafeReply second = ask({0.9, 0.9, 0.9, 0.0});
  EXPECT_EQ(second.move->to_coord(), "e2e4");
  EXPECT_TRUE(second.cut_short && !second.fallback);
  EXPECT_EQ(fake.received("go").size(), searches + 1);  // nothing after the cut
  searches = fake.received("go").size();
  const SafeReply third = ask({0.9, 0.9, 0.9});
  EXPECT_EQ(third.note, "Diana was cut short before it found a move, so it plays the engine's quickest move");
  EXPECT_EQ(third.move->to_coord(), "f3e5");
  EXPECT_EQ(fake.received("go").size(), searches + 2);
  EXPECT_EQ(fake.received("go").back(), "go depth 1");
  EXPECT_TRUE(bug.lines.empty());  // an expected cut prints no diagnostics
}

// The rows themselves, their order and exact rates, are what `list` prints (tests/expected/list.txt).
TEST(Rosters, EachGangBuildsTheRowsItSaysItTakes) {
  // The class says which rows it takes without starting anything, and builds those.
  ScriptedEngine fake;
  CaptureEcho quiet;
  for (const RosterRow& row : get_beginner_list()) BEGINNER_GANG(row.name, row.rate, row.strength, fake.config());
  for (const RosterRow& row : get_strong_list()) {  // a master rate of 1 is beyond the strong gang's range
    const Number rate = std::get<Number>(row.rate);
    const auto built = testing_support::error_of<AssertionError>([&] { STRONG_GANG(row.name, rate, row.strength, fake.config()); });
    EXPECT_EQ(std::make_pair(STRONG_GANG::accepts(row.name, rate, row.strength), built == "no error"),
              std::make_pair(rate != Number(1), rate != Number(1))) << row.name;
  }
}

}  // namespace
