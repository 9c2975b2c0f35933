// The UCI session: a GUI's go read, and the program run as a UCI engine
// (handshake, options, games, pondering, clocks and failing engines).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "players/measured_ratings.h"
#include "players/persona_factory.h"
#include "support/cli_process.h"
#include "support/expected_lines.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "uci/uci_protocol.h"
#include "uci/uci_session.h"

namespace ai_players::app {
namespace {

using testing_support::CliProcess;
using testing_support::FakeEngine;
using testing_support::has;
using testing_support::line;
using testing_support::show;
using V = std::vector<std::string>;

// A GUI's go, at its bounds: the mover's own clock; movestogo 0 and a negative time
// mean none and nothing left; the limits passed on in the GUI's order; searchmoves ends the line.
TEST(UciGo, ReadWithinTheirBoundsAsInFile) {
  std::string text;
  const auto go = [](const std::string& args, int side) {
    return line(fmt::format("go '{}' for {}", args, side == common::WHITE ? "white" : "black"), [&] {
      const GoRequest g = parse_go(args, side);
      return fmt::format("time {} inc {} to go {} movetime {}; depth {} nodes {} mate {} ponder {} infinite {}; '{}'",
                         show(g.clock.remaining), show(g.clock.increment), show(g.clock.moves_to_go),
                         show(g.clock.movetime), show(g.depth), show(g.nodes), show(g.mate), g.ponder, g.infinite,
                         g.limits);
    });
  };
  text += go("wtime 1000 btime 2000 winc 10 binc 20 movestogo 5 depth 7", common::BLACK);
  for (const char* s : {"movestogo 0 wtime -5", "movestogo 10000 depth", "depth 100", "depth 0", "mate 100", "mate 0",
                        "ponder movetime 300 nodes 1 mate 99 depth 99 infinite searchmoves e2e4 depth 3", "nodes 0",
                        "movestogo 10001", "wtime x"})
    text += go(s, common::WHITE);
  testing_support::expect_as_in_file("go_read.txt", text);
}

// Sends one command and reads up to the line starting with `until`; every line on the way must be UCI.
V ask(CliProcess& p, const std::string& command, const std::string& until) {
  p.send(command);
  const V seen = p.read_until(until);
  EXPECT_TRUE(!seen.empty() && seen.back().starts_with(until)) << "no '" << until << "' after " << command;
  static const std::regex uci_line("^(id name |id author |option name |uciok|readyok|bestmove |info )");
  for (const auto& line : seen) EXPECT_TRUE(std::regex_search(line, uci_line)) << line;
  return seen;
}

// The persona that hands the move choice to its engine: its replies are the script's bestmoves.
const V kUciHoudini = {"uci", "--persona", "HOUD20c"};

// What each setoption changes, as the next handshake shows it, and what is refused.
TEST(CliUci, EachOptionAsTheNextHandshakeShowsIt) {
  const testing_support::ScopedEnv engine("AI_PLAYERS_ENGINE", testing_support::fake_engine_path());
  const testing_support::ScopedEnv limited("AI_PLAYERS_ELO_ENGINE", "/bin/sh");  // the option names the full-strength one
  std::string said;
  {
    ai_players::app::UciSession session("Gnome", ai_players::app::playable_entries(),
                                        [&](const std::string& line) { said += line + "\n"; });
    // What GUIs and bots send is taken without a word; a malformed value is said.
    for (const char* line :
         {"setoption name Threads value 2", "setoption name Hash value 64", "setoption name Ponder value true",
          "setoption name MultiPV value 1", "setoption name Engine Timeout value 30", "setoption name Engine Timeout value 5",
          "setoption name Move Overhead value 100", "setoption name Seed value 42", "setoption name UCI_Elo value 1200",
          "setoption name UCI_LimitStrength value true", "uci", "setoption name UCI_LimitStrength value false",
          "setoption name Persona value HOUD20c:1500", "setoption name Seed value Random",
          "setoption name Engine Timeout value 0", "setoption name Hash value 0", "setoption name Hash value lots",
          "setoption name Threads value x", "setoption name Ponder value maybe", "setoption name Nope value 1",
          "setoption name Engine value /nonexistent", "setoption name Persona value disabled.Donar",
          "setoption name UCI_Elo value 99999", "setoption name Move Overhead value 5001", "debug on", "frobnicate",
          "register later", "", "uci"}) {
      said += "> " + std::string(line) + "\n";
      session.handle(line);
    }
  }
  testing_support::expect_as_in_file("uci_options.txt",
                                     testing_support::replace_all(said, testing_support::fake_engine_path(), "FAKE"));
  // What the session says goes out as "info string": none of the protocol's words, no line break.
  EXPECT_EQ(ai_players::app::uci_safe_text("depth 7 score cp 30\nbestmove e2e4 (ponder)"),
            "plies 7 eval centipawns 30 best-move e2e4 (pondering)");
  // The strength limit picks the offered persona whose measured rating is nearest to UCI_Elo, never
  // one the calibration has not measured (a disabled persona's roster 950).
  const auto entries = ai_players::app::playable_entries();
  const auto at = [](const char* name) { return int(std::lround(ai_players::app::measured_rating(name)->rating)); };
  EXPECT_EQ(persona_nearest(entries, at("Diana")) + " " + persona_nearest(entries, at("Gremlin")), "Diana Gremlin");
  EXPECT_FALSE(persona_nearest(entries, 950).starts_with("disabled."));
}

TEST(CliUci, HandshakeGamesAndBadInputThatLeavesTheGameAsItWas) {
  // The engine persona passes the GUI's limits on (depth 30 when there are none) and its engine's ponder move.
  FakeEngine fake("on go wtime 60000 btime 60000 winc 0 binc 0\n> info depth 30 score cp 20 pv g1f3\n"
                  "> bestmove g1f3 ponder b8c6\non go depth 30\n> bestmove e1d2\non go depth 5\n> bestmove b1c3\n");
  testing_support::TempDir dir;  // another engine, named during the session
  testing_support::scripted_engine_file(dir, "other", "on go depth 5\n> bestmove b1a3\n", dir.file("other.log"));
  // Each command and the start of the line that ends its answer ("" for none).
  const std::vector<std::pair<std::string, std::string>> session = {
      {"uci", "uciok"},  // every option with its range; only the personas that can be built
      // The persona and its engine are ready before readyok, so the first go has its
      // whole time; its commentary (after debug on) shows it was built then.
      {"debug on", ""}, {"isready", "readyok"}, {"ucinewgame", ""}, {"position startpos moves e2e4 e7e5", ""},
      {"go wtime 60000 btime 60000 winc 0 binc 0", "bestmove"},
      {"position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e4 e8d7", ""},
      {"go infinite", ""}, {"isready", "readyok"}, {"stop", "bestmove"},  // the move waits for stop
      // Bad input leaves the game after 1. d4 d5, with the same persona and engine; stop while idle says nothing.
      {"position startpos moves d2d4 d7d5", ""}, {"position startpos moves d2d4 d7d5 g1g5", "info string"},
      {"position fen not/a/fen w - - 0 1", "info string"}, {"position", "info string"}, {"frobnicate 1 2", "info string"},
      {"setoption name Persona value Nobody", "info string"}, {"setoption name Persona value disabled.Donar", "info string"},
      {"setoption name Engine value /nonexistent/engine", "info string"}, {"stop", ""}, {"go depth 5", "bestmove"},
      {"setoption name Engine value " + dir.file("other"), ""}, {"go depth 5", "bestmove"},  // the other engine's reply
      // Another persona gives the next reply: Talvo's random move, the same again under the same Seed.
      {"setoption name Persona value Talvo", ""}, {"setoption name Seed value 3", ""}, {"go depth 5", "bestmove"},
      {"setoption name Seed value 3", ""}, {"go depth 5", "bestmove"},
      {"position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", ""}, {"go", "bestmove"},  // a finished game has no move to give
      {"ucinewgame", ""}, {"go depth 5", "bestmove"}, {"quit", ""}};  // and a new game starts from the start
  CliProcess p(kUciHoudini);
  std::string talk;
  for (const auto& [command, until] : session) {
    talk += "> " + command + "\n";
    if (until.empty()) p.send(command);
    for (const auto& line : until.empty() ? V{} : ask(p, command, until))
      if (!has(line, "cut short by the clock or a stop")) talk += line + "\n";  // whether the engine answered first: a race
  }
  EXPECT_EQ(p.wait(), 0);
  EXPECT_EQ(p.out, "");
  // What the engine was told: the GUI's new game, the positions given and none refused.
  for (const auto& line : fake.received())
    if (line.starts_with("position") || line == "ucinewgame") talk += "engine< " + line + "\n";
  talk = testing_support::replace_all(talk, testing_support::fake_engine_path(), "FAKE");
  testing_support::expect_as_in_file("uci_handshake.txt", testing_support::replace_all(talk, dir.path(), "DIR"));
  EXPECT_TRUE(has(testing_support::read_file(dir.file("other.log")), "go depth 5"));
}

TEST(CliUci, PonderAndTheEngineTimeoutFollowTheProtocol) {
  FakeEngine fake("on go wtime\n> bestmove g1f3\non go wtime\nsleep 300\n> bestmove b1c3\n");
  CliProcess p({"uci", "--persona", "HOUD20c", "--engine-timeout", "3600"});  // the most it takes, shown in seconds
  EXPECT_TRUE(has(ask(p, "uci", "uciok"), "option name Engine Timeout type spin default 3600 min 0 max 3600"));
  p.send("setoption name Ponder value true");
  // Pondering: the move is held until ponderhit.
  p.send("position startpos moves e2e4 e7e5");
  p.send("go ponder wtime 60000 btime 60000");
  EXPECT_FALSE(has(ask(p, "isready", "readyok"), "bestmove"));
  testing_support::eventually([&] { return has(fake.received(), "go wtime"); }, std::chrono::seconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the search is over and its move held
  EXPECT_EQ(ask(p, "ponderhit", "bestmove").back(), "bestmove g1f3");
  // A ponderhit during the search: the move goes out when the search ends.
  p.send("go ponder wtime 60000 btime 60000");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ask(p, "ponderhit", "bestmove").back(), "bestmove b1c3");
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

TEST(CliUci, AFailedReplyStillMovesAndTheEndOfInputGivesAPonderedMove) {
  FakeEngine fake("on go depth 7\ndie\non go wtime\n> bestmove d2d3\n");
  CliProcess p(kUciHoudini);
  const std::string fen = "position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e3 e8d7";
  p.send(fen);
  const V failed = ask(p, "go depth 7", "bestmove");
  const std::string why = failed.size() >= 3 ? failed[failed.size() - 3] : "";  // then the move with no analysis
  EXPECT_TRUE(has(why, "its output ended") && has(why, "; playing a random legal move")) << why;
  EXPECT_TRUE(std::regex_match(failed.back(), std::regex("bestmove (e1(d1|d2|e2|f1|f2)|e3e4)"))) << failed.back();  // any legal
  EXPECT_EQ(failed[failed.size() - 2], "info pv " + failed.back().substr(9));
  // A new engine for the next reply; a pondered move is held, and given when the input ends.
  p.send(fen + " e1d2 d7e6");
  p.send("go ponder wtime 100000 btime 100000");
  EXPECT_FALSE(has(ask(p, "isready", "readyok"), "bestmove"));
  EXPECT_EQ(p.wait(), 0);
  EXPECT_TRUE(p.out.ends_with("\nbestmove d2d3\n") || p.out == "bestmove d2d3\n") << p.out;  // cut short or not
  // A search that is not pondering runs to its end when the input ends: no stop.
  FakeEngine slow("on go depth 30\n> info depth 1 score cp 5 pv a7a6\nsleep 300\n> bestmove b8c6\n");
  CliProcess q(kUciHoudini);
  q.send("position startpos moves e2e4 e7e5 g1f3");
  q.send("go");
  ASSERT_TRUE(testing_support::eventually([&] { return has(slow.received(), "go depth 30"); }, std::chrono::seconds(5)));
  EXPECT_EQ(q.wait(), 0);
  EXPECT_EQ(q.out, "info pv b8c6\nbestmove b8c6\n");  // its engine's line was for another move
  EXPECT_FALSE(has(slow.received(), "stop"));
}

TEST(CliUci, TheClockCutsASearchANewGoEndsAnInfiniteOneAndAnEngineThatFailsKeepsThePersona) {
  // Verevovera's first depth probe finds little and waits for "stop": only the clock ends it.
  FakeEngine fake("on go infinite\n> info depth 9 seldepth 9 multipv 1 score cp 10 nodes 500 nps 1000 pv e7e5\n"
                  "on stop\n> bestmove e7e5\nscore e7e5 10\n");
  testing_support::TempDir dir;
  CliProcess p({"uci", "--persona", "Verevovera", "--log", dir.file("uci.log")});
  p.send("position startpos moves d2d4");
  EXPECT_EQ(ask(p, "go wtime 30000 btime 30000", "bestmove").back(), "bestmove e7e5");
  EXPECT_TRUE(has(ask(p, "go btime soon", "info string").back(), "; searching without a duration limit"));  // "time" is a UCI word
  EXPECT_EQ(ask(p, "stop", "bestmove").back(), "bestmove e7e5");
  p.send("go infinite");
  EXPECT_EQ(ask(p, "go movetime 1000", "bestmove").back(), "bestmove e7e5");  // the infinite search ends
  EXPECT_EQ(ask(p, "isready", "bestmove").back(), "bestmove e7e5");          // then the one with a limit
  p.send("setoption name Engine value /bin/false");
  const V kept = ask(p, "go movetime 1000", "bestmove");
  EXPECT_TRUE(has(kept, "info string cannot build Verevovera: ") && has(kept, "; keeping Verevovera")) << p.out;
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_TRUE(testing_support::read_file(dir.file("uci.log")).starts_with("Verevovera 2500\n"));  // what it said to itself
}

// Move Overhead holds for the engine persona too: its engine gets the GUI's time per move less the
// session's reserve, and under a clock it is cut before the move's budget. Each move comes with the
// analysis its engine gave for it (a random move with none: see the failed reply above).
TEST(CliUci, TheEnginePersonaKeepsTheMoveOverheadAndEveryMoveComesWithItsAnalysis) {
  FakeEngine fake("on go movetime\n> info depth 12 score cp 31 pv g1f3 b8c6 f1b5 e1e8\n> bestmove g1f3 ponder b8c6\n"
                  "on go wtime\n> info depth 3 score mate -2 pv g1f3 d8h4\non stop\n> bestmove g1f3\n");
  CliProcess p(kUciHoudini);
  p.send("setoption name Move Overhead value 200");
  p.send("position startpos moves e2e4 e7e5");
  // 1000 less 200 is the budget; the session keeps 150 of it and the engine stops half of that before its cut.
  const V timed = ask(p, "go movetime 1000", "bestmove");
  EXPECT_EQ(V(timed.end() - 2, timed.end()), (V{"info depth 12 score cp 31 pv g1f3 b8c6 f1b5", "bestmove g1f3 ponder b8c6"}));
  EXPECT_TRUE(has(fake.received(), "go movetime 575"));
  // The engine keeps the clock itself, and is stopped when it would not: its own move, in time.
  const V clocked = ask(p, "go wtime 2000 btime 2000", "bestmove");
  EXPECT_EQ(V(clocked.end() - 2, clocked.end()), (V{"info depth 3 score mate -2 pv g1f3 d8h4", "bestmove g1f3 ponder d8h4"}));
  EXPECT_TRUE(has(fake.received(), "go wtime 2000 btime 2000"));
  EXPECT_TRUE(has(fake.received(), "stop"));
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

// When a go is answered, Move Overhead 200 kept: the persona's own move, then the session's at the budget.
TEST(CliUci, ReplyTimesKeepTheMoveOverheadAndAReserve) {
  using ai_players::app::parse_go;
  std::string said;
  for (const char* go : {"movetime 1000", "movetime 300", "wtime 2000 btime 1000", "btime 2000 wtime 1000", "infinite movetime 1000",
                         "ponder wtime 9000", "depth 5"})
    for (const bool engine : {false, true}) {
      auto request = parse_go(go, ai_players::common::WHITE);
      request.clock.overhead = std::chrono::milliseconds(200);
      const auto times = ai_players::app::reply_times(request, engine);
      said += fmt::format("{}{}: {}\n", go, engine ? " (engine)" : "",
                          times ? fmt::format("{} {}", times->own.count(), times->answer.count()) : "none");
    }
  EXPECT_EQ(said,
            "movetime 1000: 650 800\nmovetime 1000 (engine): 650 800\nmovetime 300: 75 100\nmovetime 300 (engine): 75 100\n"
            "wtime 2000 btime 1000: 45 60\nwtime 2000 btime 1000 (engine): 750 900\n"
            "btime 2000 wtime 1000: 20 26\nbtime 2000 wtime 1000 (engine): 300 400\n"
            "infinite movetime 1000: none\ninfinite movetime 1000 (engine): none\n"
            "ponder wtime 9000: none\nponder wtime 9000 (engine): none\ndepth 5: none\ndepth 5 (engine): none\n");
}

// The engine's second "isready" (the GUI's new game) finds it dead: a fresh one gives the move.
TEST(CliUci, AnEngineThatFailsAtANewGameIsStartedAfresh) {
  FakeEngine fake("on isready\n> readyok\non isready\ndie\n");
  CliProcess p({"uci", "--persona", "Gnome"});
  ask(p, "isready", "readyok");
  p.send("ucinewgame");
  p.send("position startpos moves e2e4");
  const V said = ask(p, "go depth 5", "bestmove");
  EXPECT_TRUE(has(said, "info string Gnome's engine failed at the new game (") && has(said, "; starting it afresh")) << p.out;
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

TEST(CliUci, StopAndReadyDuringAReplyAndQuitLeavesNoEngineBehind) {
  FakeEngine fake("on go depth 30\nsleep 10\n> bestmove g1f3\non go depth 30\nhang\nlinger\n");
  CliProcess p(kUciHoudini);
  const auto searches = [&] { return std::ranges::count(fake.received(), std::string("go depth 30")); };
  p.send("position startpos moves e2e4 e7e5");
  p.send("go infinite");
  testing_support::eventually([&] { return searches() >= 1; }, std::chrono::seconds(10));
  p.send("stop");  // the engine answers it at once: its move
  EXPECT_EQ(ask(p, "isready", "bestmove").back(), "bestmove g1f3");
  EXPECT_FALSE(has(ask(p, "isready", "readyok"), "bestmove"));  // exactly one bestmove
  p.send("go");
  testing_support::eventually([&] { return searches() >= 2; }, std::chrono::seconds(10));
  ASSERT_EQ(searches(), 2) << "the reply never reached the engine";
  EXPECT_FALSE(has(ask(p, "isready", "readyok"), "bestmove"));
  // An engine that ignores stop: the session answers in its place before it is replaced.
  const V stopped = ask(p, "stop", "bestmove");
  EXPECT_TRUE(has(stopped, "info string HOUD20c has no move ready: its engine has not answered; playing a random legal move"))
      << p.out;
  const std::vector<pid_t> engines = testing_support::descendants(p.pid());
  ASSERT_FALSE(engines.empty());
  p.send("quit");  // while the engine that ignored stop is still waited for
  EXPECT_EQ(p.wait(), 0);
  EXPECT_EQ(p.out, "");  // nothing after quit, not even the abandoned reply's failure
  // Reparented zombies may wait a moment for their reaper; a live engine never goes away.
  for (pid_t pid : engines) EXPECT_TRUE(testing_support::ends_within(pid, std::chrono::seconds(10))) << "engine process " << pid << " left behind";
}

// A stop while the persona is still being built is answered for it, and its search, once it can
// start, is cut at once: the next go finds the persona free and gets the engine's own move.
TEST(CliUci, AStopBeforeThePersonaIsReadyCutsTheSearchItWouldStart) {
  FakeEngine fake("on isready\nsleep 300\n> readyok\non go depth 30\non stop\n> bestmove g1f3\n");
  CliProcess p(kUciHoudini);
  p.send("position startpos moves e2e4 e7e5");
  p.send("go infinite");
  EXPECT_TRUE(has(ask(p, "stop", "bestmove"), "its engine is still starting; playing a random legal move")) << p.out;
  const V next = ask(p, "go movetime 2000", "bestmove");
  EXPECT_FALSE(has(next, "has no move ready")) << p.out;
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

// Engines that never finish their handshake (at the default minute of patience): every go with a
// limit still gets a legal move soon after it, said to be the fallback, and quit ends the program.
TEST(CliUci, AnEngineThatNeverGetsReadyStillGivesEveryGoALegalMoveInTime) {
  using namespace std::chrono;
  const auto legal = ai_players::app::parse_position("startpos moves e2e4").position.legal_moves();
  const auto is_legal = [&](const std::string& line) {
    return line.starts_with("bestmove ") && ai_players::board::find_move(legal, line.substr(9)) != nullptr;
  };
  const testing_support::TempDir dir;
  const std::string no_readyok = testing_support::scripted_engine_file(dir, "no-readyok", "on isready\nhang\n");
  for (const std::string& engine : V{"/bin/cat", "/usr/bin/yes", no_readyok}) {
    const testing_support::ScopedEnv use("AI_PLAYERS_ENGINE", engine);
    CliProcess p({"uci", "--persona", "Diana"});
    ask(p, "uci", "uciok");
    p.send("isready");  // not waited for, as a GUI in a hurry
    p.send("position startpos moves e2e4");
    for (int i = 0; i < 2; ++i) {
      const auto asked = steady_clock::now();
      const V said = ask(p, "go movetime 500", "bestmove");
      // Generous: the session answers at about 0.6 s; the engine's own bound is a minute.
      EXPECT_LT(steady_clock::now() - asked, seconds(3)) << engine;
      EXPECT_TRUE(is_legal(said.back())) << engine << ": " << said.back();
      EXPECT_TRUE(has(said, "info string Diana has no move ready: its engine is still starting; playing a random legal move"))
          << engine << ": " << p.out;
    }
    const auto asked = steady_clock::now();
    p.send("quit");
    EXPECT_EQ(p.wait(), 0) << engine;
    EXPECT_LT(steady_clock::now() - asked, seconds(3)) << engine;
  }
}

}  // namespace
}  // namespace ai_players::app
