// The ai-players program run as a child process, its engine the scripted one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <thread>

#include <fmt/format.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "games_db/game_store.h"
#include "players/measured_ratings.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "players/persona_factory.h"
#include "review/review_run.h"
#include "uci/uci_protocol.h"
#include "uci/uci_session.h"

namespace {

using testing_support::CliProcess;
using testing_support::FakeEngine;
using testing_support::run_cli;
using V = std::vector<std::string>;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool has(const V& lines, const std::string& part) { return std::ranges::any_of(lines, [&](auto& l) { return has(l, part); }); }
const std::string kFiles = "    a b c d e f g h";  // the last line of a board in play
// The command, what it wrote to each stream and its exit status; the fake engine as FAKE.
std::string transcript(const V& args, const std::string& input = "") {
  const auto r = run_cli(args, input);
  std::string said = "$ ai-players";
  for (const auto& a : args) said += " " + a;
  said += "\n" + r.out + "\n[standard error]\n" + r.err + "[exit " + std::to_string(r.status) + "]\n";
  return testing_support::replace_all(said, testing_support::fake_engine_path(), "FAKE");
}

TEST(Cli, BadRequestsFailWithAClearMessageAndWithoutACrash) {
  // Whatever a case gets to start, its engine dies at once.
  FakeEngine fake("on go\ndie\n");
  const std::vector<V> cases = {
      {"match", "--white", "Nobody", "--black", "Talvo"},
      {"match", "--white", std::string(150, 'x'), "--black", "Talvo"},
      {"match", "--white", "Talvo", "--black", "disabled.Donar"},
      {"match", "--white", "HOUD20c:1", "--black", "Talvo"},  // the least strength read, not a multiple of 10
      {"match", "--white", "Talvo", "--black", "Talvo", "--fen", "8/8/8 w - - 0 1"},
      {"match", "--white", "Talvo", "--black", "Talvo", "--pgn", "/nonexistent/x.pgn"},
      {"match", "--white", "Talvo", "--black", "Talvo", "--max-plies", "100001"},
      {"match", "--white", "Talvo", "--black", "Talvo", "--movetime", "0"},  // play's 0: no limit
      {"tournament", "Talvo", "Isis", "--movetime", "100"},
      {"tournament", "Talvo", "talvo"},
      {"tournament", "Talvo", "Isis", "--anchor", "Talvo"},
      {"tournament", "Talvo", "Isis", "--sprt", "5"},
      {"match", "--white", "HOUD20c:abc", "--black", "Talvo"},
      {"uci", "--persona", "Talvo", "--log", "/nonexistent/x.log"},
      {"tournament", "Talvo", "Isis", "--anchor", "Gnome=700"},
      {"tournament", "Horus", "Iduna", "--rounds", "1", "--seed", "1"},
      {"play", "--persona", "disabled.Athena"},
      {"play", "--persona", "Talvo", "--color", "green"},
      {"uci", "--persona", "Nobody"},
      {"review", "/dev/null", "--out", "/nonexistent/x.pgn"},
      {"review", "/dev/null", "--games", "1000000"},  // the most games it takes
      {"serve", "--movetime", "0", "--host", "256.1.1.1"},  // serve's 0: no limit
      {"serve", "--idle-timeout", "0"},
      {"ratings", "/nonexistent/x.pgn"},
      // Every command line that cannot be read: one line, status 2, however long what it quotes;
      // the commands with the nearest one for a word that names none.
      {},
      {"plya"},
      {"play", "--persona", "Gnom"},
      {"match", "--white"},
      {"play", "--persona", "Talvo", "--color", std::string(100000, 'x')},
      {"perft", "--fen", "garbage"},
      {"perft", "--fen", " "},
      {"serve", "--host", "300.300.300.300", "--port", "0"},
      // A PGN file that cannot take the games is refused before the first game, by every command.
      {"play", "--persona", "Talvo", "--pgn", "/nonexistent/g.pgn"},
      {"match", "--white", "Talvo", "--black", "Talvo", "--pgn", "/dev/full"},
      {"play", "--persona", "Talvo", "--pgn", "/dev/full"},
      {"tournament", "Talvo", "Isis", "--pgn", "/dev/full", "--resume", "--seed", "1"},
      {"match", "--white", "Talvo", "--black", "Talvo", "--pgn", "x.pgn", "--resume", "--force"},
  };
  // Each message whole, with its exit status; no crash among them.
  std::string said;
  for (const V& args : cases) said += transcript(args, "e4\nuci\n");
  testing_support::TempDir dir;
  // A file that holds something is not overwritten unless asked.
  testing_support::write_file(dir.file("kept.pgn"), "x");
  for (const char* command : {"match", "play", "tournament"}) {
    V args = command == std::string("tournament") ? V{"tournament", "Talvo", "Isis"} : V{command, "--persona", "Talvo"};
    if (command == std::string("match")) args = {"match", "--white", "Talvo", "--black", "Talvo"};
    args.insert(args.end(), {"--pgn", dir.file("kept.pgn")});
    said += transcript(args);
  }
  EXPECT_EQ(testing_support::read_file(dir.file("kept.pgn")), "x");
  // A review goes past a broken game and one its engine cannot judge, and says so.
  testing_support::write_file(dir.file("g.pgn"), "[White x]\n\n1. e4 *\n\n[White \"y\"]\n\n1. d4 *\n");
  said += transcript({"review", dir.file("g.pgn"), "--depth", "1"});
  {
    // A judge that says nothing until told to stop: cut at --engine-timeout, not after a minute.
    FakeEngine silent("on go depth\non stop\n> bestmove d2d4\n");
    said += transcript({"review", dir.file("g.pgn"), "--depth", "1", "--engine-timeout", "0.05"});
  }
  {  // and, with a judge that answers, the game it could review: its summary, no moves unless asked
    FakeEngine judge("default-score 0\n");
    said += transcript({"review", dir.file("g.pgn"), "--depth", "1"});
  }
  const std::regex timing(R"(in [\d.]+ s \([\d.]+ s per move\))");
  said = std::regex_replace(testing_support::replace_all(said, dir.path() + "/", ""), timing, "in - s (- s per move)");
  testing_support::expect_as_in_file("bad_requests.txt", said);
}

// Every option, its range and its default as a user is told them (the
// tournament's own game-worker command is not listed).
TEST(Cli, HelpOfEveryCommand) {
  std::string all;
  for (const std::string command :
       {"", "perft", "analyse", "list", "match", "play", "uci", "review", "serve", "games", "tournament", "ratings"})
    all += transcript(command.empty() ? V{"--help"} : V{command, "--help"});
  all += transcript({"help"}) + transcript({"--version"});
  all = testing_support::replace_all(all, fmt::format("(default {}, the number of cores)", ai_players::app::default_review_jobs()),
                                     "(default N, the number of cores)");
  testing_support::expect_as_in_file("help.txt", testing_support::replace_all(all, testing_support::cli_path(), "ai-players"));
}

TEST(CliList, RosterStrengthMeasuredRatingAndTheEngineAtTheLimitItAllows) {
  std::string said;
  {
    // UCI_Elo from 1341: the engine plays at 1350, the lowest multiple of 10 it takes (and the anchor).
    FakeEngine fake("on uci\n> option name UCI_Elo type spin default 1341 min 1341 max 3190\n> uciok\n");
    // The strength-limited engine is asked, not the one at full strength.
    const testing_support::ScopedEnv limited("AI_PLAYERS_ELO_ENGINE", testing_support::fake_engine_path());
    const testing_support::ScopedEnv full("AI_PLAYERS_ENGINE", "/nonexistent/full");
    said = transcript({"list"});
  }
  // An engine that cannot say its range: HOUD20c is shown at the strength it asks for, and why.
  FakeEngine dead("on uci\ndie\n");
  // Each persona's row, with the measured ratings of data/calibration/ratings.tsv (re-read after a new calibration).
  testing_support::expect_as_in_file("list.txt", said + transcript({"list"}));
}

TEST(CliAnalyse, CandidatesBestFirstAfterTheMovesGivenAndANodeBudgetProbedIntoADepth) {
  FakeEngine fake("score g1f3 35 d7d5\nscore b1c3 -20\ndefault-score -50\n");
  const testing_support::ScopedEnv limited("AI_PLAYERS_ELO_ENGINE", "/nonexistent/limited");  // analyse wants full strength
  std::string said = transcript({"analyse", "--moves", "e4 e7e5", "--depth", "3", "--multipv", "2"});
  // The engine is told the position after the moves; its second search goes without the first's best move.
  for (const auto& line : fake.received()) said += "> " + line + "\n";
  for (const V& args : {V{"analyse", "--fen", "4k3/8/8/8/8/8/8/4K2R w K - 0 1", "--nodes", "50000"},
                        V{"analyse", "--moves", "e4 e9", "--depth", "2"}, V{"analyse"}})
    said += transcript(args);
  testing_support::expect_as_in_file("analyse.txt", said);
}

TEST(CliMatch, AFailingPersonaCostsItsGameNotTheMatch) {
  // Whatever a case gets to start, its engine dies at once, every time; after
  // two such games the match stops short of the third and fails.
  FakeEngine fake("on go\ndie\non go\ndie\non go\ndie\non go\ndie\n");
  testing_support::TempDir dir;
  std::string said = transcript({"match", "--white", "Horus", "--black", "Talvo", "--games", "3", "--seed", "1", "--pgn",
                                 dir.file("a.pgn")});
  // Both games in the PGN, abandoned (its comments wrap the engine's path, so not compared whole).
  const std::string abandoned = "[Result \"*\"]\n[Termination \"abandoned\"]";
  EXPECT_EQ(testing_support::count_of(testing_support::read_file(dir.file("a.pgn")), abandoned), 2);
  {
    // A search that says nothing until told to stop is cut at --engine-timeout, not after a minute.
    FakeEngine silent("on go depth\non stop\n> bestmove e2e4\n");
    said += transcript({"match", "--white", "Horus", "--black", "Talvo", "--seed", "1", "--max-plies", "3",
                        "--engine-timeout", "0.05"});
  }
  testing_support::expect_as_in_file("match_failing.txt", testing_support::replace_all(said, dir.path(), "DIR"));
}

TEST(CliMatch, RepeatableGamesWithAReadablePgn) {
  FakeEngine fake;
  testing_support::TempDir dir;
  V args = {"match", "--white",     "Horus", "--black", "talvo",          "--games", "2",
            "--seed", "31", "--max-plies", "140",   "--pgn",   dir.file("a.pgn")};  // a mate, then a game cut
  const auto r = run_cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  args.back() = dir.file("b.pgn");  // the same seed plays the same games
  ASSERT_EQ(run_cli(args).status, 0);
  const std::string games = testing_support::dateless(testing_support::read_file(dir.file("a.pgn")));
  EXPECT_EQ(testing_support::dateless(testing_support::read_file(dir.file("b.pgn"))), games);
  // A fallback is noted on its move, in the move list (wrapped at 80 columns) and
  // in the PGN: in a set-up position Horus has no previous move to answer.
  const auto set_up = run_cli({"match", "--white", "Horus", "--black", "Talvo", "--seed", "1", "--max-plies", "30",
                               "--fen", "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", "--pgn", dir.file("c.pgn")});
  ASSERT_EQ(set_up.status, 0) << set_up.err;
  // Summaries counted from Horus's side, the fallback in the move list, and no library chatter on standard output.
  testing_support::expect_as_in_file("match.txt", testing_support::replace_all(r.out + "\n" + set_up.out, dir.path(), "DIR"));
  // Colours alternating, results and endings as the positions say.
  testing_support::expect_as_in_file("match_games.pgn",
                                     games + testing_support::dateless(testing_support::read_file(dir.file("c.pgn"))));
}

TEST(CliPlay, PreviewsHintsUndoAndBadInputThatLosesNothing) {
  // The preview persona's engine ranks e5 first and Nf6 second; every other move lower.
  FakeEngine fake("default-score -50\nscore e7e5 25\nscore g8f6 -12\n");
  testing_support::TempDir dir;
  const auto played = transcript({"play", "--persona", "Talvo", "--color", "black", "--seed", "1", "--pgn", dir.file("g.pgn")},
                                 "hint\nundo\nNf6\nundo\nzz\ne7e4\n\nd7d5\nmoves\nflip\nreview\ndraw\nresign\nundo\nquit\n");
  // After the bad lines the same game goes on; the last move is judged, the
  // game reviewed, drawn and saved; no library chatter on standard output.
  const std::string pgn = testing_support::dateless(testing_support::read_file(dir.file("g.pgn")));
  testing_support::expect_as_in_file("play_as_black.txt", testing_support::replace_all(played, dir.path(), "DIR") + pgn);
  // Without the adviser a hint says what it needs and the game goes on; a
  // review runs on engines of its own, as the review command does.
  std::string said = transcript({"play", "--persona", "Talvo", "--no-preview", "--seed", "1", "--movetime", "0"},
                                 "e4\nreview\nhint\nquit\n");
  for (const std::string score : {"199", "200"}) {
    FakeEngine level("default-score " + score + "\n");  // the human's score: Talvo is that much worse
    said += transcript({"play", "--persona", "Talvo"}, "draw\nquit\n");
  }
  testing_support::expect_as_in_file("play_without_adviser_and_draw_offers.txt", said);
  // Failures name the engine's path, which moves where the lines wrap: checked in part.
  // A preview that fails is said, and the move is played all the same.
  FakeEngine dying("on go\ndie\n");
  const auto failed = run_cli({"play", "--persona", "Talvo"}, "e4\nhint\nquit\n");
  EXPECT_TRUE(has(failed.out, "No preview (engine failure while the adviser was judging your move: ")) << failed.out;
  EXPECT_TRUE(has(failed.out, "Talvo plays ")) << failed.out;
  EXPECT_TRUE(has(failed.out, "engine failure while the adviser was looking at your game: ")) << failed.out;
  const auto stuck = run_cli({"play", "--persona", "Horus", "--color", "black", "--no-preview"}, "e5\nquit\n");
  EXPECT_TRUE(has(stuck.out, "Game over: * (abandoned). Horus could not move: ")) << stuck.out;
  EXPECT_EQ(testing_support::count_of(stuck.out, "Horus plays"), 1) << stuck.out;  // e4, and no move after
}

TEST(CliPlay, GameAfterGameWithCommandsAndEveryGameInThePgn) {
  FakeEngine fake("default-score 0\n");  // every position level: a draw offer is accepted
  testing_support::TempDir dir;
  const auto played = transcript({"play", "--persona", "diana", "--seed", "2", "--pgn", dir.file("g.pgn")},
                                 "moves\nnew green\nreview\nd4\nflip\nresign\nundo\nnew black\nnf6\ndraw\nquit\n");
  const std::string pgn = testing_support::dateless(testing_support::read_file(dir.file("g.pgn")));
  testing_support::expect_as_in_file("play_two_games.txt", testing_support::replace_all(played, dir.path(), "DIR") + pgn);
}

TEST(CliPlay, TermSavesTheGameAndCaseGoesWhereItIsClear) {
  FakeEngine fake;
  testing_support::TempDir dir;
  CliProcess p({"play", "--persona", "Talvo", "--tc", "5+5", "--pgn", dir.file("g.pgn"), "--fen",
                "4k3/8/8/8/8/2n5/1P1B4/4K3 w - - 0 1"});
  EXPECT_TRUE(has(p.read_until(kFiles), "Talvo (100); each side has a clock of 5 min + 5 s."));
  p.send("bxc3\nBXC3\nBxc3");  // the pawn or the bishop, then the bishop
  const V seen = p.read_until(kFiles);
  // Talvo's first move is free; yours runs from its reply.
  for (const std::string line : {"'bxc3' could be bxc3 or Bxc3", "'BXC3' could be", "Talvo plays", "Clocks: you ", ", Talvo 5:00"})
    EXPECT_TRUE(has(seen, line)) << line;
  ::kill(p.pid(), SIGTERM);
  p.read_until("Interrupted.");  // before the end of its input, which would end the game too
  EXPECT_EQ(p.wait(), 128 + SIGTERM);
  EXPECT_TRUE(has(p.out, "The game is saved in")) << p.out;
  const auto g = testing_support::read_pgn(testing_support::read_file(dir.file("g.pgn")));
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ((V{g[0].result, g[0].tag("Termination"), g[0].tag("PlyCount"), g[0].san.at(0), g[0].tag("TimeControl")}),
            (V{"*", "unterminated", "2", "Bxc3", "300+5"}));
}

// At a terminal, as a person plays: the ticker shows the search, and Enter makes the persona move now.
TEST(CliPlay, EnterWhileThePersonaThinksMakesItMoveNow) {
  FakeEngine fake("on go\n> info depth 1 score cp 10 pv e8d8\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  CliProcess p({"play", "--persona", "HOUD20c", "--no-preview", "--fen", "4k3/8/8/8/8/8/8/4K2R w K - 0 1"},
               CliProcess::kTerminal);
  p.read_until(kFiles);
  p.send("Rh7");
  // Enter twice: a line typed before the reply began waits for the next prompt.
  for (int i = 0; i < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    p.send("");
  }
  const V seen = p.read_until(kFiles);
  EXPECT_TRUE(has(seen, "HOUD20c plays Kd8 (") && has(seen, " s, cut short)")) << p.out;
  EXPECT_TRUE(has(seen, "depth 1 (Enter: move now)"));
  EXPECT_FALSE(has(seen, "is not a move") || has(seen, "is not legal"));  // the empty line was taken as "move now", not as a move
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_GT(std::ranges::count(fake.received(), std::string("stop")), 0);
}

// The page shipped beside the program is found without --web-root, and
// SIGTERM ends the server cleanly.
TEST(CliServe, FindsItsPageAndStopsOnSigterm) {
  FakeEngine fake;
  CliProcess p({"serve", "--port", "0", "--tc", "5+5"});
  const std::string serving = p.read_until("Serving the personas on http://127.0.0.1:").back();
  EXPECT_TRUE(has(serving, "(this machine only)"));
  // The page starts from the clock given here.
  const auto defaults = httplib::Client("127.0.0.1", std::stoi(serving.substr(serving.rfind(':') + 1))).Get("/api/defaults");
  EXPECT_EQ(defaults ? defaults->body : "no answer", R"({"tc":"300+5","think_limit_ms":10000})");
  ::kill(p.pid(), SIGTERM);
  EXPECT_EQ(p.wait(), 0);
  EXPECT_FALSE(has(p.out, "No page found")) << p.out;
  EXPECT_TRUE(has(p.err, "Stopping: ending every game.")) << p.err;
}

// kill -9 in the middle of a game loses no move that was played: play's move
// is kept while the persona still thinks, serve's game with its reply.
TEST(CliGames, KilledMidGameThePlayedMovesAreKept) {
  FakeEngine fake("on go\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  testing_support::TempDir dir;
  const std::string db = dir.file("g.db");
  const auto kept = [&db] { return ai_players::app::GameStore(db).games(); };
  {
    CliProcess play({"play", "--persona", "HOUD20c", "--no-preview", "--db", db, "--fen", "4k3/8/8/8/8/8/8/4K2R w K - 0 1"});
    play.read_until(kFiles);
    play.send("Rh7");
    EXPECT_TRUE(testing_support::eventually([&] { return !kept().empty() && kept()[0].record.san == V{"Rh7"}; }));
    ::kill(play.pid(), SIGKILL);
  }
  CliProcess serve({"serve", "--port", "0", "--no-preview", "--db", db});
  const std::string serving = serve.read_until("Serving the personas on http://127.0.0.1:").back();
  httplib::Client client("127.0.0.1", std::stoi(serving.substr(serving.rfind(':') + 1)));
  const auto created = client.Post("/api/games", R"({"persona": "Talvo"})", "application/json");
  ASSERT_TRUE(created);
  const std::string id = nlohmann::json::parse(created->body)["id"];
  const auto moved = client.Post(("/api/games/" + id + "/moves").c_str(), R"({"move": "e4"})", "application/json");
  ASSERT_TRUE(moved && moved->status == 200);
  ::kill(serve.pid(), SIGKILL);
  const auto games = kept();
  ASSERT_EQ(games.size(), 2u);
  EXPECT_EQ(games[0].record.san.size(), 2u);  // e4 and Talvo's reply
  EXPECT_EQ(games[1].record.san, V{"Rh7"});
  for (const auto& g : games) EXPECT_FALSE(g.ended);  // in progress: either can be continued
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
}

TEST(CliUci, HandshakeGamesAndBadInputThatLeavesTheGameAsItWas) {
  // The engine persona passes the GUI's limits on (depth 30 when there are none) and its engine's ponder move.
  FakeEngine fake("on go wtime 60000 btime 60000 winc 0 binc 0\n> info depth 30 score cp 20 pv g1f3\n"
                  "> bestmove g1f3 ponder b8c6\non go depth 30\n> bestmove e1d2\non go depth 5\n> bestmove b1c3\n");
  testing_support::TempDir dir;  // another engine, named during the session
  testing_support::write_file(dir.file("other.txt"), "on go depth 5\n> bestmove b1a3\n");
  testing_support::write_file(dir.file("other"), "#!/bin/sh\nFAKE_ENGINE_SCRIPT=" + dir.file("other.txt") +
                                                     " FAKE_ENGINE_LOG=" + dir.file("other.log") + " exec " +
                                                     testing_support::fake_engine_path() + "\n");
  std::filesystem::permissions(dir.file("other"), std::filesystem::perms::owner_all);
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

TEST(CliUci, PonderOptionsAndStrengthLimitFollowTheProtocol) {
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
  // The strength limit picks the offered persona whose measured rating is
  // nearest to UCI_Elo, never one the calibration has not measured (the
  // disabled Fortuna's roster 950 is nearer 950 than any measured rating), and says which.
  const auto measured = [](const char* name) { return ai_players::app::measured_rating(name).value(); };
  const auto at = [&](const char* name) { return std::to_string(std::lround(measured(name).rating)); };
  p.send("setoption name UCI_Elo value " + at("Diana"));  // not limited yet: nothing to say
  EXPECT_EQ(ask(p, "setoption name UCI_LimitStrength value true", "info string").back(),
            "info string UCI_Elo " + at("Diana") + ": playing as Diana, measured at " +
                ai_players::app::measured_text(measured("Diana")));
  EXPECT_TRUE(has(ask(p, "setoption name UCI_Elo value " + at("Gremlin"), "info string").back(), "playing as Gremlin,"));
  EXPECT_FALSE(has(ask(p, "setoption name UCI_Elo value 950", "info string").back(), "disabled."));
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
// analysis its engine gave for it, a random one with none.
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
  // No analysis: a random move shows its move alone.
  p.send("setoption name Persona value Talvo");
  const V random = ask(p, "go movetime 1000", "bestmove");
  ASSERT_GE(random.size(), 2u);
  EXPECT_EQ(random[random.size() - 2], "info pv " + random.back().substr(9));
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

// The line before each bestmove, as a GUI reads it: depth, score (mates in moves) and the legal
// part of the line; the move alone when the persona's analysis has nothing for it.
TEST(CliUci, ResultLinesShowTheAnalysisOfTheMovePlayed) {
  using ai_players::Analysis;
  using ai_players::app::result_info;
  const auto position = ai_players::app::parse_position("startpos moves e2e4").position;
  EXPECT_EQ(result_info(position, "e7e5", Analysis(-35, 7, {"e7e5", "g1f3", "b8c6"})),
            "info depth 7 score cp -35 pv e7e5 g1f3 b8c6");
  EXPECT_EQ(result_info(position, "e7e5", Analysis(ai_players::MATE_IN(3), 12, {"e7e5", "e1e8", "g1f3"})),
            "info depth 12 score mate 3 pv e7e5");
  EXPECT_EQ(result_info(position, "g7g5", Analysis(-ai_players::MATE_IN(1), 2, {"g7g5", "d1h5"})),
            "info depth 2 score mate -1 pv g7g5 d1h5");
  EXPECT_EQ(result_info(position, "d7d5", Analysis(10, 3, {"e7e5"})), "info pv d7d5");
  EXPECT_EQ(result_info(position, "d7d5", std::nullopt), "info pv d7d5");
  EXPECT_EQ(ai_players::app::with_movetime("wtime 100 movetime 980 depth 5", std::chrono::milliseconds(705)),
            "wtime 100 movetime 705 depth 5");
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
  testing_support::write_file(dir.file("no-readyok.txt"), "on isready\nhang\n");
  testing_support::write_file(dir.file("no-readyok"), "#!/bin/sh\nFAKE_ENGINE_SCRIPT=" + dir.file("no-readyok.txt") +
                                                        " exec " + testing_support::fake_engine_path() + "\n");
  std::filesystem::permissions(dir.file("no-readyok"), std::filesystem::perms::owner_all);
  for (const std::string& engine : V{"/bin/cat", "/usr/bin/yes", dir.file("no-readyok")}) {
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

// The games command end to end: PGN files imported (a broken game said),
// listed with the rating and the next opponent, filtered, shown, exported
// for pgn-extract, deleted; `play` without --persona plays the suggested one.
TEST(CliGames, ImportListShowExportDeleteAndTheSuggestedOpponent) {
  FakeEngine fake;
  testing_support::TempDir dir;
  const std::string db = dir.file("g.db");
  const auto game = [](const std::string& date, const std::string& white, const std::string& black,
                       const std::string& result, const std::string& extra, const std::string& moves) {
    return fmt::format("[Event \"old\"]\n[Site \"?\"]\n[Date \"{}\"]\n[Round \"1\"]\n[White \"{}\"]\n[Black \"{}\"]\n"
                       "[Result \"{}\"]\n{}\n{} {}\n\n",
                       date, white, black, result, extra, moves, result);
  };
  testing_support::write_file(
      dir.file("old.pgn"),
      game("2025.01.02", "Human", "Gnome", "1-0", "", "1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7#") +
          game("2025.01.03", "Diana", "Human", "1-0", "[TimeControl \"300+5\"]", "1. d4 d5 {a comment} 2. c4") +
          game("2025.01.04", "Human", "Diana", "1/2-1/2", "", "1. e4 c5") +
          game("2025.01.05", "Human", "Gnome", "0-1", "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K2R w K - 0 1\"]",
               "1. Rh7 Kd8") +
          game("2025.01.06", "Human", "Gnome", "*", "", "1. e4") +
          game("2025.01.07", "Human", "Gnome", "1-0", "", "1. e4 e4"));
  std::string said = transcript({"games", "--db", db, "--import", dir.file("old.pgn")});
  said += transcript({"games", "--db", db});
  said += transcript({"games", "--db", db, "--persona", "gnome", "--result", "won", "--since", "2025-01-02",
                      "--until", "2025-01-02"});
  said += transcript({"games", "--db", db, "--show", "2"});
  said += transcript({"games", "--db", db, "--export", dir.file("all.pgn")});
  said += transcript({"games", "--db", db, "--delete", "2"});
  said += transcript({"games", "--db", db, "--result", "drawn", "--target", "30"});
  said += transcript({"games", "--db", db, "--show", "2"});
  said += transcript({"games", "--no-db"});
  said += transcript({"games", "--db", db, "--since", "January"});
  said += transcript({"play", "--db", db, "--no-preview"}, "quit\n");
  testing_support::expect_as_in_file("games_command.txt", testing_support::replace_all(said, dir.path(), "DIR"));
  // pgn-extract replays every exported game.
  if (::access("/usr/games/pgn-extract", X_OK) != 0) return;
  const std::string command = "/usr/games/pgn-extract -s -o " + dir.file("out.pgn") + " " + dir.file("all.pgn") +
                              " 2>" + dir.file("err");
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(testing_support::read_file(dir.file("err")), "");
  EXPECT_EQ(testing_support::read_pgn(testing_support::read_file(dir.file("out.pgn"))).size(), 5u);
}
