// The candidate searches against the scripted engine: what is sent, how the
// answers are read and ordered, and how failures surface.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const std::string kStartFen(common::FEN_New_Game);

// The lines the engine received after its four start-up lines.
std::vector<std::string> after_startup(const FakeEngine& fake) {
  auto lines = fake.received();
  return {lines.begin() + std::min<std::ptrdiff_t>(4, static_cast<std::ptrdiff_t>(lines.size())), lines.end()};
}

std::string all_moves(const board::Board& b) {
  std::string out;
  for (const auto& m : b.legal_moves()) out += " " + m->to_coord();
  return out;
}

struct Player {
  explicit Player(const std::string& fen = kStartFen) : p("Talvo", 100) {
    p.start_fen = fen;
    p.legalmoves = board::Board(fen).legal_moves();
  }
  CaptureEcho quiet;
  AI_BASIC p;
};

std::vector<std::string> moves_of(const std::vector<Analysis>& analyses) {
  std::vector<std::string> out;
  for (const auto& a : analyses) out.push_back(a.pv_list.empty() ? "" : a.pv_list[0]);
  return out;
}

}  // namespace

TEST(EngineDialogue, DepthSearchFindsCandidatesOneByOneByExclusion) {
  FakeEngine fake("score e2e4 30 e7e5\nscore g1f3 20\nscore d2d4 25\n");
  std::vector<Analysis> got;
  {
    Player pl;
    got = pl.p.obtain_engine_thoughts(2, 9, std::nullopt, "e2e4 g1f3  d2d4");
  }
  EXPECT_EQ(after_startup(fake), (std::vector<std::string>{
                                     "position fen " + kStartFen + " moves",
                                     "setoption name MultiPV value 1",
                                     "go depth 9 searchmoves e2e4 g1f3 d2d4",
                                     "go depth 9 searchmoves g1f3 d2d4",
                                 }));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].score, 30);
  EXPECT_EQ(got[0].depth, 9);
  EXPECT_EQ(got[0].pv_list, (std::vector<std::string>{"e2e4", "e7e5"}));
  EXPECT_EQ(got[1].pv_list, std::vector<std::string>{"d2d4"});
}

TEST(EngineDialogue, PositionIsSentAsFenAndMovesAndTheBoardRebuilt) {
  FakeEngine fake;
  const std::string promo = "8/P7/8/8/8/8/8/k6K w - - 0 1";
  {
    Player pl;
    board::Board b;
    auto e4 = b.parse_move("e2e4");
    b.make_internal_move(*e4);
    auto e5 = b.parse_move("e7e5");
    pl.p.MakeMovesFromStartPos({e4, e5});
    EXPECT_EQ(pl.p.board.export_FEN(), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2");
    pl.p.MakeMovesFromStartPos({e4});  // from the start again, not from the last position
    EXPECT_EQ(pl.p.board.export_FEN(), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    pl.p.start_fen = promo;
    pl.p.MakeMovesFromStartPos({board::Board(promo).parse_move("a7a8q")});
    EXPECT_EQ(pl.p.board.get_piece(common::A8), common::Queen);
  }
  EXPECT_EQ(after_startup(fake), (std::vector<std::string>{
                                     "position fen " + kStartFen + " moves e2e4 e7e5",
                                     "position fen " + kStartFen + " moves e2e4",
                                     "position fen " + promo + " moves a7a8q",
                                 }));
}

TEST(EngineDialogue, NodeBudgetProbesForADepthFirst) {
  FakeEngine fake("score d2d4 15\n");
  board::Board start;
  std::vector<Analysis> got;
  int used = 0;
  {
    Player pl;
    got = pl.p.obtain_engine_thoughts(1, 0, 100000);
    used = pl.p.last_search_depth;
    EXPECT_EQ(pl.p.elines, std::vector<std::string>{""});
  }
  EXPECT_EQ(after_startup(fake), (std::vector<std::string>{
                                     "position fen " + kStartFen + " moves",
                                     "setoption name MultiPV value 2",
                                     "go infinite",
                                     "stop",
                                     "setoption name MultiPV value 1",
                                     "go depth 11 searchmoves" + all_moves(start),
                                 }));
  EXPECT_EQ(used, 11);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].pv_list[0], "d2d4");
}

TEST(EngineDialogue, BudgetRulesAndCandidateCount) {
  FakeEngine fake("score a1b2 -5\n");
  Player pl("7k/8/8/8/8/8/8/K7 w - - 0 1");
  EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 6, 100000), AssertionError);
  EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 0, 40000), AssertionError);
  EXPECT_EQ(pl.p.obtain_engine_thoughts(0, 9).size(), 0u);
  EXPECT_EQ(fake.wait_for_lines(6)[4], "position fen 7k/8/8/8/8/8/8/K7 w - - 0 1 moves");  // nothing before
  // Clipped to the three legal moves; equal scores ordered by their moves.
  EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(5, 9)), (std::vector<std::string>{"a1b1", "a1a2", "a1b2"}));
  EXPECT_EQ(pl.p.obtain_engine_thoughts(2, 0, 40001).size(), 2u);
}

TEST(EngineDialogue, BestMoveRunIntoPonderIsRepairedAfterTwoDiagnostics) {
  FakeEngine fake(
      "on go depth\n> info depth 5 score cp 10 pv e2e4 d7d5\n> bestmove e2e4ponder d7d5\n"
      "on go depth\n> info depth 5 score cp 5 pv d2d4\n> bestmove d2d4ponder\n");
  Player pl;
  CaptureBugprint bug;
  const auto got = pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "e2e4 d2d4");
  EXPECT_EQ(moves_of(got), (std::vector<std::string>{"e2e4", "d2d4"}));
  ASSERT_EQ(bug.lines.size(), 28u);  // two pairs of seven-line diagnostics
  EXPECT_EQ(std::vector<std::string>(bug.lines.begin(), bug.lines.begin() + 9),
            (std::vector<std::string>{"debug:bestmove incorrect::", "['bestmove e2e4ponder d7d5\n']",
                                      "['e2e4', 'd2d4']", "", "", "", "", "fen::", kStartFen}));
  EXPECT_EQ(bug.lines[16], "['d2d4']");
}

TEST(EngineDialogue, UnknownOrMissingBestMoveIsAnError) {
  FakeEngine fake(
      "on go depth\n> info depth 5 score cp 10 pv a2a3\n> bestmove a2a3\n"
      "on go depth\n> info depth 5 score cp 10 pv e2e4\n> bestmove\n");
  Player pl;
  CaptureBugprint bug;
  try {
    pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "e2e4 d2d4");
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "bestmove not found!!");
  }
  EXPECT_EQ(bug.lines.size(), 14u);
  EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 5), Error);
  // The player is still usable: the next search (auto-answered) works.
  EXPECT_EQ(pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "g1f3").size(), 1u);
  // More candidates asked for than given: the empty list runs into the same error.
  EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "g1f3"), Error);
}

TEST(EngineDialogue, ResultsAreOrderedByScoreThenDepthThenMovesWithMatesFolded) {
  FakeEngine fake(
      "on go depth\n> info depth 5 score cp 10 pv e2e4\n> bestmove e2e4\n"
      "on go depth\n> info depth 5 score cp 10 pv g1f3 b8c6\n> bestmove g1f3\n"
      "on go depth\n> info depth 6 score cp 10 upperbound pv a2a3\n> bestmove a2a3\n"
      "on go depth\n> info depth 5 score mate -1 pv h2h3 d8h4\n> bestmove h2h3\n"
      "on go depth\n> info depth 5 score mate 2 pv d2d4\n> bestmove d2d4\n"
      "on go depth\n> info depth 5 score mate 1 pv c2c3\n> bestmove c2c3\n");
  Player pl;
  const auto got = pl.p.obtain_engine_thoughts(6, 5, std::nullopt, "e2e4 g1f3 a2a3 h2h3 d2d4 c2c3");
  EXPECT_EQ(moves_of(got), (std::vector<std::string>{"c2c3", "d2d4", "a2a3", "g1f3", "e2e4", "h2h3"}));
  EXPECT_EQ(got[0].score, MATE_IN(1));
  EXPECT_EQ(got[1].score, MATE_IN(2));
  EXPECT_EQ(got[5].score, -MATE_IN(1));
}

TEST(EngineDialogue, EngineThatDiesOrFallsSilentMidSearchEndsTheCall) {
  {
    FakeEngine fake("on go depth\n> info depth 1 score cp 0 pv e2e4\ndie\n");
    Player pl;
    EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 5), EngineError);
  }
  {
    FakeEngine fake("on go infinite\n> info depth 1 score cp 0 pv e2e4\nclose\n");
    Player pl;
    EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 0, 100000), EngineError);
  }
}

TEST(EngineDialogue, ReadTimeLimitFailsTheCallAndTheNextSearchStartsClean) {
  // The first search answers too late; its stale "bestmove e2e4" must not be
  // taken as the answer to the next search.
  FakeEngine fake(
      "on go depth\n> info depth 3 score cp 1 pv e2e4\nsleep 400\n> bestmove e2e4\n"
      "on go depth\n> info depth 3 score cp 7 pv d2d4\n> bestmove d2d4\n");
  Player pl;
  pl.p.read_timeout = 100ms;
  try {
    pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "e2e4 d2d4");
    FAIL() << "no timeout";
  } catch (const EngineTimeout& e) {
    EXPECT_NE(std::string(e.what()).find("100 ms"), std::string::npos) << e.what();
  }
  pl.p.read_timeout = 2000ms;
  const auto got = pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "e2e4 d2d4");
  EXPECT_EQ(got.at(0).pv_list, std::vector<std::string>{"d2d4"});
  const auto lines = after_startup(fake);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()),
            (std::vector<std::string>{"stop", "isready", "position fen " + kStartFen + " moves",
                                      "setoption name MultiPV value 1", "go depth 3 searchmoves e2e4 d2d4"}));
  // Back in step: the next exchange sends no recovery commands.
  pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "g1f3");
  EXPECT_EQ(fake.wait_for_lines(4 + 11).back(), "go depth 3 searchmoves g1f3");
  EXPECT_EQ(fake.received()[4 + 8], "position fen " + kStartFen + " moves");
}

TEST(EngineDialogue, OnlyInDebugModeASlowBudgetSearchIsRecorded) {
  TempDir dir;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  std::vector<std::string> sounds;
  const auto saved = common::set_play_sound_sink([&](std::string_view s) { sounds.emplace_back(s); });
  // 40001 nodes should take 0.2 s; the probe alone takes longer.
  const std::string pv1 = "info depth 13 seldepth 13 multipv 1 score cp 4 nodes 50000 nps 1000 pv e2e4 e7e5";
  const std::string slow_probe = "on go infinite\nsleep 300\n> " + pv1 +
                                 "\n> info depth 13 multipv 2 score cp 1 nodes 50000 nps 1000 pv d2d4\n"
                                 "on stop\n> bestmove e2e4\n";
  {
    FakeEngine fake(slow_probe + slow_probe);
    Player pl;
    CaptureBugprint bug;
    pl.p.obtain_engine_thoughts(1, 0, 40001);
    EXPECT_FALSE(std::filesystem::exists("debug.txt"));
    EXPECT_TRUE(sounds.empty() && bug.lines.empty());

    pl.p.DEBUG = true;
    pl.p.obtain_engine_thoughts(1, 0, 40001);
    EXPECT_EQ(sounds, std::vector<std::string>{"admiralty.wav"});
    EXPECT_EQ(pl.p.elines, (std::vector<std::string>{"", pv1 + "\n"}));
    const std::string text = read_file("debug.txt");
    const std::string head = "\n\nmpv:1.00; nodes:40001, depth:11, t1:";
    const std::string tail = " (32) \n(" + pv1 + ")\n" + kStartFen + "\n\n" + pv1 + "\n\n";
    EXPECT_EQ(text.substr(0, head.size()), head) << text;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    EXPECT_EQ(bug.lines.size(), 3u * 7u);  // the record, then each element of elines
  }
  common::set_play_sound_sink(saved);
  std::filesystem::current_path(cwd);
}
