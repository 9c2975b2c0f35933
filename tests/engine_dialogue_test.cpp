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
using Lines = std::vector<std::string>;

namespace {

const std::string kStartFen(common::FEN_New_Game);

// The lines the engine received after its four start-up lines.
Lines after_startup(const FakeEngine& fake) {
  const Lines lines = fake.received();
  return {lines.begin() + std::min<std::ptrdiff_t>(4, std::ssize(lines)), lines.end()};
}

// A scripted answer to the next "go depth": one info line, then the bestmove line.
std::string answer(const std::string& info, const std::string& bestmove) {
  return "on go depth\n> info " + info + "\n> bestmove " + bestmove + "\n";
}

struct Player {
  explicit Player(const std::string& fen = kStartFen) : p("Talvo", 100) {
    p.start_fen = fen;
    p.legalmoves = board::Board(fen).legal_moves();
  }
  CaptureEcho quiet;
  AI_BASIC p;
};

Lines moves_of(const std::vector<Analysis>& analyses) {
  Lines out;
  for (const auto& a : analyses) out.push_back(a.pv_list.at(0));
  return out;
}

}  // namespace

TEST(EngineDialogue, DepthSearchSendsThePositionAndExcludesEachFoundMove) {
  FakeEngine fake("score f1c4 30 g8f6\nscore g1f3 20\nscore d2d4 25\n");
  Player pl;
  board::Board b;
  for (const char* m : {"e2e4", "e7e5"}) b.make_internal_move(*pl.p.game_history.emplace_back(b.parse_move(m)));
  pl.p.legalmoves = b.legal_moves();
  const auto got = pl.p.obtain_engine_thoughts(2, 9, std::nullopt, "f1c4 g1f3  d2d4");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(std::tie(got[0].score, got[0].depth, got[0].pv_list), std::make_tuple(30, 9, Lines{"f1c4", "g8f6"}));
  EXPECT_EQ(got[1].pv_list, Lines{"d2d4"});
  pl.p.MakeMovesFromStartPos(pl.p.game_history);  // from the start again, not from the last position
  EXPECT_EQ(pl.p.board.export_FEN(), b.export_FEN());
  const std::string position = "position fen " + kStartFen + " moves e2e4 e7e5";
  fake.wait_for_lines(4 + 5);
  EXPECT_EQ(after_startup(fake), (Lines{position, "setoption name MultiPV value 1",
                                        "go depth 9 searchmoves f1c4 g1f3 d2d4", "go depth 9 searchmoves g1f3 d2d4",
                                        position}));
}

TEST(EngineDialogue, NodeBudgetProbesForADepthThenSearchesEveryMove) {
  const std::string fen = "7k/8/8/8/8/8/8/K7 w - - 0 1";
  FakeEngine fake("score a1b2 -5\n");
  {
    Player pl(fen);
    EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 6, 100000), AssertionError);  // depth and budget
    EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 0, 40000), AssertionError);   // budget too small
    // Clipped to the three legal moves; equal scores ordered by their moves.
    EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(5, 0, 100000)), (Lines{"a1b1", "a1a2", "a1b2"}));
    EXPECT_EQ(pl.p.last_search_depth, 11);
  }
  EXPECT_EQ(after_startup(fake),
            (Lines{"position fen " + fen + " moves", "setoption name MultiPV value 3", "go infinite", "stop",
                   "setoption name MultiPV value 1", "go depth 11 searchmoves a1a2 a1b1 a1b2",
                   "go depth 11 searchmoves a1b1 a1b2", "go depth 11 searchmoves a1b2"}));
}

TEST(EngineDialogue, BestmoveRunIntoPonderIsRepairedOtherwiseNotFound) {
  FakeEngine fake(answer("depth 5 score cp 10 pv e2e4 d7d5", "e2e4ponder d7d5") +
                  answer("depth 5 score cp 5 pv d2d4", "d2d4ponder") + answer("depth 5 score cp 1 pv a2a3", "a2a3") +
                  answer("depth 5 score cp 1 pv e2e4", ""));
  Player pl;
  CaptureBugprint bug;
  EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "e2e4 d2d4")), (Lines{"e2e4", "d2d4"}));
  ASSERT_EQ(bug.lines.size(), 28u);  // two pairs of seven-line diagnostics
  EXPECT_EQ(Lines(bug.lines.begin(), bug.lines.begin() + 9),
            (Lines{"debug:bestmove incorrect::", "['bestmove e2e4ponder d7d5\n']", "['e2e4', 'd2d4']", "", "", "",
                   "", "fen::", kStartFen}));
  try {
    pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "e2e4 d2d4");
    FAIL() << "a2a3 accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "bestmove not found!!");
  }
  EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 5), Error);  // a bestmove line without a move
  // Still usable; more candidates asked for than given runs into the same error.
  EXPECT_EQ(pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "g1f3").size(), 1u);
  EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "g1f3"), Error);
}

TEST(EngineDialogue, ResultsAreOrderedByScoreThenDepthThenMovesWithMatesFolded) {
  // Lines without a depth are not principal variations.
  FakeEngine fake(answer("depth 5 score cp 10 pv e2e4\n> info string score cp 99", "e2e4") +
                  answer("depth 5 score cp 10 pv g1f3 b8c6", "g1f3") +
                  answer("depth 6 score cp 10 upperbound pv a2a3", "a2a3") +
                  answer("depth 5 score mate -1 pv h2h3 d8h4", "h2h3") +
                  answer("depth 5 score mate 2 pv d2d4", "d2d4") + answer("depth 5 score mate 1 pv c2c3", "c2c3"));
  Player pl;
  const auto got = pl.p.obtain_engine_thoughts(6, 5, std::nullopt, "e2e4 g1f3 a2a3 h2h3 d2d4 c2c3");
  EXPECT_EQ(moves_of(got), (Lines{"c2c3", "d2d4", "a2a3", "g1f3", "e2e4", "h2h3"}));
  EXPECT_EQ(std::make_tuple(got[0].score, got[1].score, got[5].score),
            std::make_tuple(MATE_IN(1), MATE_IN(2), -MATE_IN(1)));
}

TEST(EngineDialogue, InfoLinesAreReadFromWholeTokensOrFailWithADiagnostic) {
  FakeEngine fake;
  Player pl;
  using Triple = std::tuple<int, int, Lines>;
  const std::pair<const char*, Triple> good[] = {
      // seldepth and multipv are not depth and pv; the first depth counts
      {"info seldepth 30 depth 9 multipv 1 score cp -35 pv e2e4 depth 3\n", {-35, 9, {"e2e4", "depth", "3"}}},
      {"  info\tdepth 20 score cp +12 lowerbound nodes 1 pv a7a8q\r\n", {12, 20, {"a7a8q"}}},
      {"info depth 3 score 57 pv", {57, 3, {}}},
      {"info depth 5 cp 10 score mate 1 pv a1a2", {MATE_IN(1), 5, {"a1a2"}}},  // the mate wins
  };
  for (const auto& [line, expected] : good) EXPECT_EQ(pl.p.analyse_engine_outputline_(line), expected) << line;
  const std::pair<const char*, bool> bad[] = {  // line, whether a precondition fails
      {"info depth 20 score mate 0 pv e7e5", true},        {"info depth 20 mate 3 score cp 1 pv e7e5", true},
      {"info depth 20 score cp 10", false},                {"info seldepth 20 score cp 10 pv e2e4", false},
      {"info depth 12x score cp 10 pv e2e4", false},       {"info depth 12 score cp 1.5 pv e2e4", false},
      {"info depth 12 score cp 99999999999 pv e2e4", false}, {"info depth 12 score cp", false}, {"", false}};
  for (const auto& [line, precondition] : bad) {
    CaptureBugprint bug;
    if (precondition)
      EXPECT_THROW(pl.p.analyse_engine_outputline_(line), AssertionError) << line;
    else
      EXPECT_THROW(pl.p.analyse_engine_outputline_(line), Error) << line;
    EXPECT_EQ(bug.lines, (Lines{"_analyse_output::", line, "", "", "", "", ""}));
  }
}

TEST(EngineDialogue, EngineDyingOrTooSlowEndsTheCallAndTheNextSearchStartsClean) {
  for (const char* script : {"on go depth\n> info depth 1 score cp 0 pv e2e4\ndie\n",
                             "on go infinite\n> info depth 1 score cp 0 pv e2e4\nclose\n"}) {
    FakeEngine fake(script);
    Player pl;
    EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 0, 100000), EngineError) << script;
  }
  // The first search answers too late; its stale "bestmove e2e4" must not be
  // taken as the answer to the next search.
  FakeEngine fake("on go depth\n> info depth 3 score cp 1 pv e2e4\nsleep 400\n> bestmove e2e4\n" +
                  answer("depth 3 score cp 7 pv d2d4", "d2d4"));
  Player pl;
  pl.p.read_timeout = 100ms;
  EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "e2e4 d2d4"), EngineTimeout);
  pl.p.read_timeout = 2000ms;
  EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "e2e4 d2d4")), Lines{"d2d4"});
  pl.p.obtain_engine_thoughts(1, 3, std::nullopt, "g1f3");
  const std::string position = "position fen " + kStartFen + " moves", multipv = "setoption name MultiPV value 1";
  EXPECT_EQ(fake.wait_for_lines(4 + 11).back(), "go depth 3 searchmoves g1f3");
  EXPECT_EQ(after_startup(fake),
            (Lines{position, multipv, "go depth 3 searchmoves e2e4 d2d4", "stop", "isready", position, multipv,
                   "go depth 3 searchmoves e2e4 d2d4", position, multipv, "go depth 3 searchmoves g1f3"}));
}

TEST(EngineDialogue, OnlyInDebugModeASlowBudgetSearchIsRecorded) {
  TempDir dir;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  Lines sounds;
  const auto saved = common::set_play_sound_sink([&](std::string_view s) { sounds.emplace_back(s); });
  // 40001 nodes should take 0.2 s; the probe alone takes longer.
  const std::string pv1 = "info depth 13 seldepth 13 multipv 1 score cp 4 nodes 50000 nps 1000 pv e2e4 e7e5";
  const std::string slow_probe = "on go infinite\nsleep 300\n> " + pv1 + "\non stop\n> bestmove e2e4\n";
  FakeEngine fake(slow_probe + slow_probe);
  Player pl;
  CaptureBugprint bug;
  for (const bool debug : {false, true}) {
    pl.p.DEBUG = debug;
    pl.p.obtain_engine_thoughts(1, 0, 40001);
  }
  EXPECT_EQ(sounds, Lines{"admiralty.wav"});
  EXPECT_EQ(bug.lines.size(), 3u * 7u);  // the record, then each element of elines
  const std::string text = read_file("debug.txt");
  const std::string head = "\n\nmpv:1.00; nodes:40001, depth:11, t1:";
  const std::string tail = " (32) \n(" + pv1 + ")\n" + kStartFen + "\n\n" + pv1 + "\n\n";
  EXPECT_EQ(text.substr(0, head.size()), head) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
  common::set_play_sound_sink(saved);
  std::filesystem::current_path(cwd);
}
