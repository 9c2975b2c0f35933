// The ai-players program run as a child process, its engine the scripted one:
// its refusals, help, and the list, analyse, serve and games commands.
#include <gtest/gtest.h>

#include <regex>

#include <fmt/format.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "games_db/game_store.h"
#include "support/cli_process.h"
#include "review/review_run.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"

namespace {

using testing_support::CliProcess;
using testing_support::FakeEngine;
using testing_support::has;
using testing_support::run_cli;
using testing_support::transcript;
using V = std::vector<std::string>;

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

// kill -9 of serve after a reply loses no move that was played (play keeps a
// move before the persona answers: terminal_test reads it from the database then).
TEST(CliGames, KilledAfterAReplyServeKeepsThePlayedMoves) {
  FakeEngine fake;
  testing_support::TempDir dir;
  const std::string db = dir.file("g.db");
  CliProcess serve({"serve", "--port", "0", "--no-preview", "--instant", "--db", db});
  const std::string serving = serve.read_until("Serving the personas on http://127.0.0.1:").back();
  httplib::Client client("127.0.0.1", std::stoi(serving.substr(serving.rfind(':') + 1)));
  const auto created = client.Post("/api/games", R"({"persona": "Talvo"})", "application/json");
  ASSERT_TRUE(created);
  const std::string id = nlohmann::json::parse(created->body)["id"];
  const auto moved = client.Post(("/api/games/" + id + "/moves").c_str(), R"({"move": "e4"})", "application/json");
  ASSERT_TRUE(moved && moved->status == 200);
  ::kill(serve.pid(), SIGKILL);
  const auto games = ai_players::app::GameStore(db).games();
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].record.san.size(), 2u);  // e4 and Talvo's reply
  EXPECT_FALSE(games[0].ended);  // in progress: it can be continued
}
