// The players of the host: personas behind a game against a person, their
// engines' failures and diagnostics, the move judgements and their ratings.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ai_players/core/analysis.h"
#include "players/engine_watch.h"
#include "players/human_game.h"
#include "players/human_pace.h"
#include "players/library_output.h"
#include "players/measured_ratings.h"
#include "players/move_judgement.h"
#include "players/persona_factory.h"
#include "players/persona_player.h"
#include "serve/api.h"
#include "support/expected_lines.h"
#include "support/fake_engine_session.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using V = std::vector<std::string>;
using testing_support::ending_of;

const std::string kEnding = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";

// HOUD20c without the adviser, in a king and rook ending.
HumanGameSetup houdini() {
  HumanGameSetup setup;
  setup.persona = "HOUD20c";
  setup.start_fen = kEnding;
  setup.preview = false;
  return setup;
}

// A move judged in words at each verdict; an engine line in SAN: twelve moves at
// most, and only as far as it is legal.
TEST(PlayText, PreviewWordsAndEngineLinesInSanAsInFile) {
  std::string text;
  const int mate1 = MATE_IN(1);
  for (const auto& [played, best, judged] : {std::tuple{mate1, mate1, true}, {30, 30, true}, {442, mate1, true},
                                             {-20, 35, true}, {30, 30, false}})
    text += judgement_text({"b8=R#", "b8=Q#", "b8b8q", {}, Score(played), Score(best), false, judged, ""}) + "\n";
  V shuffles;
  for (int i = 0; i < 16; ++i) shuffles.push_back(V{"g1f3", "g8f6", "f3g1", "f6g8"}[i % 4]);
  const std::string start(common::FEN_New_Game);
  text += fmt::format("{}\n{}\n", fmt::join(san_line(start, shuffles), " "),
                      fmt::join(san_line(start, {"e2e4", "e7e5", "e4e5", "g8f6"}), " "));
  testing_support::expect_as_in_file("play_texts.txt", text);
}

// A preview cut short before the head-to-head ranked the human's move: no verdict, in words
// or in the page's numbers.
TEST(PlayText, APreviewWithNoTimeToJudgeTheMoveSaysSo) {
  testing_support::ScriptedEngine fake("score e2e4 40 e7e5\nscore d2d4 30\non go depth 7 searchmoves b1c3 e2e4\n"
                                       "on stop\n> bestmove b1c3\n");
  testing_support::CaptureEcho quiet;
  Verevovera adviser(fake.config());
  const GameState game{std::string(common::FEN_New_Game)};
  const auto move = board::find_move(game.legal(), "b1c3");
  adviser.stop_at = std::chrono::steady_clock::now() + milliseconds(300);
  const MoveJudgement j = judge_move(adviser, game, *move, 7);
  EXPECT_EQ(j.text, "Your move Nc3: no time to judge this move");
  const json page = judgement_json(j);
  EXPECT_TRUE(page["score"].is_null() && page["score_text"].is_null()) << page.dump();
  EXPECT_EQ(std::make_pair(page["best"], page["best_score"]), std::make_pair(json("e4"), json(40)));
  adviser.stop_at.reset();  // time to judge it: the engine's order of the two
  EXPECT_EQ(judgement_json(judge_move(adviser, game, *move, 7))["score"], 0);
}

TEST(Strengths, MeasuredRatingsReadTheirFileAndNamesSayTheirStrength) {
  std::istringstream tsv(
      "name\trating\tmargin\tgames\tbound\n"
      "Talvo\t388.2\t219.4\t80\t-1\t0-0-80\n"
      "Gnome\t1078.4\t151.2\t80\t0\n"
      "HOUD20c:1350\t1350\t0\t80\t0\n"
      "Verevovera\t1635.5\t185.4\t80\t1\n"
      "Broken\tnan\t1\t2\t0\n"
      "Short\t12\n");
  std::string text;
  for (const auto& [name, m] : read_measured_ratings(tsv))
    text += fmt::format("{}: {} games, {}\n", name, m.games, measured_text(m));
  // A persona's strength as its name says, without an engine.
  for (const char* name : {"gnome", "HOUD20c", "houd20c:1", "HOUD20c:0", "HOUD20c:-5", "HOUD20c:12x", "HOUD20c1500", "Nobody"}) {
    std::string said;
    try {
      const auto strength = roster_strength(name);
      said = strength ? std::to_string(*strength) : "none";
    } catch (const PersonaError& e) {
      said = e.what();
    }
    text += fmt::format("{}: {}\n", name, said);
  }
  testing_support::expect_as_in_file("strengths.txt", text);
}

TEST(LibraryOutput, KeepsTheLatestDiagnosticsAndNamesTheCommandThatFailed) {
  testing_support::CaptureBugprint outside;
  testing_support::CaptureEcho outside_echo;
  {
    LibraryOutput output(false);
    bugprint("setoption name Hash value 16");
    bugprint("position startpos\r\n");
    bugprint("position startpos ^^^^^ Gnome");
    bugprint("\n");
    EXPECT_EQ(output.diagnostics(), (V{"setoption name Hash value 16", "position startpos", "position startpos ^^^^^ Gnome"}));
    EXPECT_EQ(describe_failure("Gnome was choosing a move", EngineError("The chess engine x stopped"), output.diagnostics()),
              "engine failure while Gnome was choosing a move: The chess engine x stopped\n"
              "  the command that failed: position startpos");
    EXPECT_EQ(describe_failure("the review was judging", std::runtime_error("no"), {"^^^^^ only"}),
              "failure while the review was judging: no");
    for (int i = 0; i < 500; ++i) bugprint("line " + std::to_string(i));
    // At 200 lines the older half goes: 103 lines are left, "line 397" the first.
    EXPECT_EQ(std::make_tuple(output.diagnostics().size(), output.diagnostics().front(), output.diagnostics().back()),
              std::make_tuple(103u, "line 397", "line 499"));
  }
  EXPECT_TRUE(outside.lines.empty());
  bugprint("after");
  common::echo("after too");
  ASSERT_FALSE(outside.lines.empty());
  EXPECT_EQ(std::make_pair(outside.lines.front(), outside_echo.lines), std::make_pair(std::string("after"), V{"after too"}));
}

// The two ways a game against a person ends without a move of the rules: the
// person's flag falls, or the persona can give no move at all.
TEST(HumanGameEnds, OnTheHumansFlagAndWhenThePersonaCannotMove) {
  testing_support::FakeEngine fake("on go\ndie\non go\ndie\non go\ndie\non go\ndie\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  HumanGameSetup setup = houdini();  // no e2e4 to open with: the engine must answer
  setup.clock = TimeControl{milliseconds(400), milliseconds(0)};
  {
    // Each side's first move is free: a game nobody has begun is not lost on time.
    HumanGame waiting(setup);
    std::this_thread::sleep_for(milliseconds(450));
    EXPECT_FALSE(waiting.flag_check());
    const HumanGame::View view = waiting.view();
    EXPECT_TRUE(*view.white_left == milliseconds(400) && !view.clock_runs && !view.record.outcome);
    // Then the flag falls; a lone king cannot win on time.
    std::string text;
    for (const std::string& fen : {std::string("4k3/7r/8/8/8/8/8/4K2R w K - 0 1"), kEnding}) {
      GameState state(fen, TimeControl{milliseconds(400), milliseconds(50)}, true);
      for (const char* move : {"e1d1", "e8d8"}) {
        EXPECT_TRUE(state.charge(milliseconds(1000)));
        state.play(*board::find_move(state.legal(), move));
      }
      EXPECT_TRUE(state.clock_runs() && state.charge(milliseconds(300)) && *state.time_left(common::WHITE) == milliseconds(150));
      state.play(*board::find_move(state.legal(), "d1e1"));
      state.play(*board::find_move(state.legal(), "d8e8"));
      EXPECT_FALSE(state.charge(milliseconds(151)));
      text += ending_of(state.record()) + "\n";
    }
    EXPECT_EQ(text, "0-1 time forfeit after 4 plies: White ran out of time\n"
                    "1/2-1/2 time forfeit after 4 plies: White ran out of time\n");
  }
  HumanGame game(houdini());
  game.play_human(*game.read_move("Rh7"));
  ASSERT_TRUE(game.personas_turn());
  EXPECT_FALSE(game.reply());
  const std::string end = ending_of(game.view().record);
  EXPECT_TRUE(end.starts_with("* abandoned after 1 plies: HOUD20c could not move: ")) << end;
  EXPECT_EQ(game.pgn("E", "S").tag("Termination"), "abandoned");
}

// "Move now" in the player's own turn came too late for the last reply and
// is not for the next one; in the persona's turn it counts even before the
// reply's thread has begun.
// A draw offer is answered by the persona's score and the game's length, each at its boundary.
TEST(HumanGame, ADrawIsTakenWhenLosingAndInALevelGameFromMoveThirty) {
  std::string text;
  for (const auto& [cp, plies] : {std::pair{-200, 0}, {-199, 0}, {49, 59}, {49, 60}, {50, 200}}) {
    const DrawAnswer a = answer_draw(Score(cp), static_cast<std::size_t>(plies));
    text += fmt::format("{} after {}: {}\n", cp, plies, a.accepted ? "accepted" : a.reason);
  }
  EXPECT_EQ(text, "-200 after 0: accepted\n"
                  "-199 after 0: it is too early; it takes a draw in a level game from move 30 on\n"
                  "49 after 59: it is too early; it takes a draw in a level game from move 30 on\n"
                  "49 after 60: accepted\n"
                  "50 after 200: it thinks it is better\n");
}

TEST(HumanGame, MoveNowCountsOnlyInThePersonasTurn) {
  testing_support::FakeEngine fake("on go\n> info depth 9 score cp 50 pv e8d8\n> bestmove e8d8\n"
                                   "on go\non stop\n> bestmove d8c7\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  HumanGame game(houdini());
  game.move_now();
  game.play_human(*game.read_move("Rh7"));
  const auto searched = game.reply();
  ASSERT_TRUE(searched);
  EXPECT_EQ(std::make_pair(searched->san, searched->cut_short), std::make_pair(std::string("Kd8"), false));
  game.play_human(*game.read_move("Rh8"));
  game.move_now();
  const auto hurried = game.reply();  // the engine searches until told to stop
  ASSERT_TRUE(hurried);
  EXPECT_EQ(std::make_pair(hurried->san, hurried->cut_short), std::make_pair(std::string("Kc7"), true));
}

// A person's pace: quick for a forced move, a recapture and the opening, longer
// with much to see; beginners spread wide; the stream is the seed's own.
TEST(HumanPace, QuickWhenThereIsNothingToThinkAboutAndSpreadOtherwise) {
  const auto play = [](board::Board& b, const std::string& san) {
    const auto m = board::find_move(b.legal_moves(), san);
    b.make_internal_move(*m);
    return m;
  };
  board::Board start;
  const board::Board forced("k7/8/8/8/8/8/1r6/K7 w - - 0 1");  // Kxb2 only
  board::Board game;
  play(game, "e4"), play(game, "d5");
  const auto taken = play(game, "exd5");
  const auto kind = [](const board::Board& b, const std::string& san, const board::Move* last, bool from_start) {
    return HumanPace::kind_of(b, *board::find_move(b.legal_moves(), san), last, from_start);
  };
  EXPECT_EQ(kind(forced, "Kxb2", nullptr, false), "forced");
  EXPECT_EQ(kind(game, "Qxd5", taken.get(), true), "recapture");
  EXPECT_EQ(kind(game, "Nf6", taken.get(), true), "opening");
  EXPECT_EQ(kind(game, "Nf6", taken.get(), false), "thought");

  HumanPace pace(7), same(7), other(8);
  const auto e4 = board::find_move(start.legal_moves(), "e4");
  for (int i = 0; i < 50; ++i) {
    const auto t = pace.time_for(forced, *board::find_move(forced.legal_moves(), "Kxb2"), nullptr, 1500, false);
    EXPECT_TRUE(t >= milliseconds(300) && t <= milliseconds(800)) << t.count();
    const auto o = pace.time_for(start, *e4, nullptr, 1500, true);
    EXPECT_TRUE(o >= milliseconds(500) && o <= milliseconds(2000)) << o.count();
  }
  const auto spread = [&](HumanPace& p, int strength) {
    std::vector<long long> ms;
    for (int i = 0; i < 20; ++i) ms.push_back(p.time_for(start, *e4, nullptr, strength, false).count());
    std::sort(ms.begin(), ms.end());
    return ms;
  };
  const auto beginner = spread(pace, 700), strong = spread(pace, 2000);
  EXPECT_GE(beginner.back() - beginner.front(), 1000);  // over 20 replies, at least a second apart
  EXPECT_GT(strong[10], beginner[10]);
  EXPECT_LE(strong.back(), HumanPace::kLongestThink.count());
  const auto a = spread(same, 700);
  EXPECT_EQ(spread(same = HumanPace(7), 700), a);
  EXPECT_NE(spread(other, 700), a);
}

// At a person's pace the reply waits for its time, and "move now" ends the wait.
TEST(HumanGame, APersonsPaceHoldsTheReplyBackUntilMoveNow) {
  testing_support::FakeEngine fake("on go\n> info depth 9 score cp 50 pv e8d8\n> bestmove e8d8\n"
                                   "on go\n> info depth 9 score cp 40 pv d8c7\n> bestmove d8c7\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  HumanGameSetup setup = houdini();
  setup.human_pace = true;
  setup.pace_seed = 3;
  HumanGame game(setup);
  board::Board before(kEnding);
  const auto rh7 = board::find_move(before.legal_moves(), "Rh7");
  game.play_human(*game.read_move("Rh7"));
  before.make_internal_move(*rh7);
  const auto kd8 = board::find_move(before.legal_moves(), "Kd8");
  HumanPace pace(3);
  const milliseconds expected = pace.time_for(before, *kd8, rh7.get(), game.persona_strength(), false);
  const auto held = game.reply();
  ASSERT_TRUE(held);
  EXPECT_EQ(held->san, "Kd8");  // the persona's own move, only later
  EXPECT_GE(held->thought, expected);
  game.play_human(*game.read_move("Rh8+"));
  before.make_internal_move(*kd8);
  const auto rh8 = board::find_move(before.legal_moves(), "Rh8+");
  before.make_internal_move(*rh8);
  const milliseconds next = pace.time_for(before, *board::find_move(before.legal_moves(), "Kc7"), rh8.get(),
                                          game.persona_strength(), false);
  std::thread hurry([&] {
    std::this_thread::sleep_for(milliseconds(50));
    game.move_now();
  });
  const auto hurried = game.reply();
  hurry.join();
  ASSERT_TRUE(hurried);
  EXPECT_EQ(hurried->san, "Kc7");
  EXPECT_LT(hurried->thought, next) << "the pace's own " << next.count() << " ms";
}

// An engine that had to be replaced once is given another chance; the same
// engine failing again is broken, and the persona gives up instead of waiting
// on it reply after reply. The summary counts the restart.
TEST(PersonaPlayer, AnEngineReplacedTwiceIsBroken) {
  // The first engine dies at once; the second in the second position; the third is well.
  testing_support::TempDir dir;
  const std::string engine = dir.file("engine.sh"), count = dir.file("count");
  for (int i = 0; const char* script : {"on go\ndie\n", "on position fen 4k3/8/8/8/8/8/8/4K2R\ndie\n", ""})
    testing_support::write_file(dir.file(std::to_string(i++)), script);
  testing_support::write_executable(engine, "#!/bin/sh\nn=$(cat " + count + " 2>/dev/null || echo 0)\necho $((n + 1)) >" +
                                               count + "\n[ $n -gt 2 ] && n=2\nFAKE_ENGINE_SCRIPT=" + dir.path() +
                                               "/$n exec " + testing_support::fake_engine_path() + "\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  PersonaSettings settings;
  settings.engine = engine;
  PersonaPlayer player{"Hera", make_persona("Hera", settings)};
  const board::Board middle("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::Board ending(kEnding);
  const SafeReply first = ask_persona(player, {}, middle.legal_moves(), middle.export_FEN(), std::nullopt);
  EXPECT_TRUE(!first.cut_short && first.engine_restarted) << first.note;
  try {
    ask_persona(player, {}, ending.legal_moves(), ending.export_FEN(), std::nullopt);
    ADD_FAILURE() << "a broken engine was waited on again";
  } catch (const PersonaFailure& e) {
    EXPECT_NE(std::string(e.what()).find("Hera (550) could not choose a move: the chess engine " + engine + " failed again ("),
              std::string::npos) << e.what();
  }
  EXPECT_TRUE(player_report(player, 1)
                  .ends_with("Hera: its engine was restarted 2 times\nHera: could not finish 1 game (abandoned, not scored)\n"))
      << player_report(player, 1);
  const PersonaPlayer counted{"Gnome", nullptr, 1, 1, 1};
  EXPECT_EQ(player_report(counted, 2), "Gnome: 1 of 1 reply cut short by the clock\nGnome: 1 fallback move in 2 games\n");
}

// The signs of life a thinking persona shows: searches started in this reply
// and the deepest depth of the running one.
TEST(EngineWatch, CountsSearchesAndTheRunningSearchsDepth) {
  EngineWatch watch;
  const auto reading = [&] { return std::make_pair(watch.read().searches, watch.read().depth); };
  EXPECT_EQ(reading(), std::make_pair(0, 0));  // nothing searched yet
  watch.sent("position startpos\n");
  watch.sent("go depth 9\n");
  // Not deeper: kept at 7; and two lines that give no depth.
  for (const char* info : {"info depth 7 seldepth 9 score cp 20 pv e2e4", "info depth 5 currmove e2e4",
                           "info string depth 30", "info depth x"})
    watch.received(info);
  EXPECT_EQ(reading(), std::make_pair(1, 7));
  watch.sent("go depth 3 searchmoves e2e4\n");
  EXPECT_EQ(reading(), std::make_pair(2, 0));
  watch.received("info depth 12");
  watch.reset();
  EXPECT_EQ(reading(), std::make_pair(0, 0));
}

}  // namespace
}  // namespace ai_players::app
