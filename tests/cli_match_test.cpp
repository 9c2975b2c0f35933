#include <gtest/gtest.h>

#include <regex>

#include "game.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_reader.h"

namespace {

using testing_support::read_file;
using testing_support::ReadGame;
using testing_support::run_cli;

void expect_clean_failure(const testing_support::CliResult& r, const std::string& message) {
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  for (const char* crash : {"terminate called", "what():", "Aborted", "Segmentation"})
    EXPECT_EQ(r.err.find(crash), std::string::npos) << r.err;
}

// Every game of a PGN file replays with our own SAN parser and ends as its tags say.
std::vector<ReadGame> check_pgn(const std::string& path) {
  const auto games = testing_support::read_pgn(read_file(path));
  for (const auto& g : games) {
    SCOPED_TRACE("round " + g.tag("Round"));
    std::vector<std::string> first_seven;
    for (std::size_t i = 0; i < 7 && i < g.tags.size(); ++i) first_seven.push_back(g.tags[i].first);
    EXPECT_EQ(first_seven, (std::vector<std::string>{"Event", "Site", "Date", "Round", "White", "Black", "Result"}));
    EXPECT_EQ(g.tag("Result"), g.result);
    EXPECT_EQ(g.tag("PlyCount"), std::to_string(g.san.size()));
    const auto end = ai_players::app::outcome_of(testing_support::replay(g));
    EXPECT_EQ(end ? end->result : "*", g.result);
    EXPECT_EQ(end ? end->termination : "unterminated", g.tag("Termination"));
    for (const auto& line : g.movetext_lines) EXPECT_LE(line.size(), 80u);
  }
  return games;
}

TEST(CliMatch, FastPersonasPlayRepeatableGamesWithAReadablePgn) {
  testing_support::FakeEngine fake;
  testing_support::TempDir dir;
  const std::vector<std::string> args = {"match", "--white", "Horus", "--black", "talvo", "--games", "2",
                                         "--seed", "5", "--pgn", dir.file("a.pgn")};
  const auto r = run_cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto games = check_pgn(dir.file("a.pgn"));
  ASSERT_EQ(games.size(), 2u);
  EXPECT_EQ(games[0].tag("White"), "Horus");  // colours alternate
  EXPECT_EQ(games[0].tag("Black"), "Talvo");
  EXPECT_EQ(games[1].tag("White"), "Talvo");
  EXPECT_EQ(games[1].tag("Round"), "2");
  EXPECT_EQ(games[0].tag("FEN"), "");

  // The summary counts the results from Horus's side, whichever colour it had.
  int wins = 0;
  for (const auto& g : games) wins += g.result == (g.tag("White") == "Horus" ? "1-0" : "0-1");
  EXPECT_NE(r.out.find("Horus: " + std::to_string(wins) + " win"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Elo difference"), std::string::npos);
  EXPECT_EQ(r.out.find("gang:BEGINNER"), std::string::npos) << "library chatter on standard output";

  // The same seed plays the same games.
  std::vector<std::string> again = args;
  again.back() = dir.file("b.pgn");
  ASSERT_EQ(run_cli(again).status, 0);
  const auto replayed = check_pgn(dir.file("b.pgn"));
  ASSERT_EQ(replayed.size(), 2u);
  EXPECT_EQ(replayed[0].san, games[0].san);
  EXPECT_EQ(replayed[1].san, games[1].san);
}

TEST(CliMatch, OneGameShowsItsMovesAsPlayedFromAnotherStart) {
  testing_support::FakeEngine fake;
  testing_support::TempDir dir;
  const std::string fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 3 12";
  const auto r = run_cli({"match", "--white", "Talvo", "--black", "Talvo", "--fen", fen, "--max-plies", "5",
                          "--seed", "2", "--pgn", dir.file("g.pgn")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto games = check_pgn(dir.file("g.pgn"));
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].tag("SetUp"), "1");
  EXPECT_EQ(games[0].tag("FEN"), fen);
  EXPECT_EQ(games[0].result, "*");
  ASSERT_EQ(games[0].san.size(), 5u);
  EXPECT_EQ(games[0].movetext_lines[0].rfind("12... ", 0), 0u) << games[0].movetext_lines[0];
  // The moves printed while playing are the game's moves.
  const std::string printed = "12... " + games[0].san[0] + " 13. " + games[0].san[1] + " " + games[0].san[2];
  EXPECT_NE(r.out.find(printed), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("* (unterminated)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 unfinished"), std::string::npos) << r.out;
}

TEST(CliMatch, BadRequestsGetAClearMessageAndAFailingExit) {
  testing_support::FakeEngine fake;
  expect_clean_failure(run_cli({"match", "--white", "Nobody", "--black", "Talvo"}), "unknown persona 'Nobody'");
  expect_clean_failure(run_cli({"match", "--white", "Talvo", "--black", "disabled.Donar"}), "cannot be built");
  expect_clean_failure(run_cli({"match", "--white", "HOUD20c:1505", "--black", "Talvo"}), "multiple of 10");
  expect_clean_failure(run_cli({"match", "--white", "Talvo", "--black", "Talvo", "--fen", "8/8/8 w - - 0 1"}),
                       "invalid --fen");
  expect_clean_failure(run_cli({"match", "--white", "Talvo"}), "--black");
  expect_clean_failure(run_cli({"match", "--white", "Talvo", "--black", "Talvo", "--pgn", "/nonexistent/x.pgn"}),
                       "cannot write");
}

TEST(CliMatch, AnEngineThatDiesIsReportedWithoutACrash) {
  // Horus's first move is the fixed e2e4; its second one needs the engine, which dies.
  testing_support::FakeEngine fake("on go\ndie\n");
  const auto r = run_cli({"match", "--white", "Horus", "--black", "Talvo", "--seed", "1"});
  expect_clean_failure(r, "engine failure while Horus (450) was choosing a move");
  EXPECT_NE(r.err.find(testing_support::fake_engine_path()), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("output ended"), std::string::npos) << r.err;
}

TEST(CliList, ShowsEveryPersonaAndWhichRowsCannotBeBuilt) {
  const auto r = run_cli({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::string> rows;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) rows[line.substr(0, line.find(' '))] = line;
  EXPECT_EQ(rows.size(), 23u);  // a heading and 22 personas
  EXPECT_TRUE(std::regex_search(rows["Diana"], std::regex("1350 +0\\.06 +strong$"))) << rows["Diana"];
  EXPECT_TRUE(std::regex_search(rows["Talvo"], std::regex("100 +random +beginner$"))) << rows["Talvo"];
  EXPECT_NE(rows["disabled.Donar"].find("cannot be built"), std::string::npos);
  EXPECT_EQ(rows["disabled.Freya"].find("cannot be built"), std::string::npos);  // beginners take rate 1
  EXPECT_NE(rows["Verevovera"].find("2500"), std::string::npos);
  EXPECT_NE(rows["HOUD20c"].find("1200"), std::string::npos);
}

TEST(CliMatch, ShortMatchWithStockfish) {
  testing_support::ScopedEnv engine("AI_PLAYERS_ENGINE", std::nullopt);
  testing_support::ScopedEnv elo_engine("AI_PLAYERS_ELO_ENGINE", std::nullopt);
  testing_support::TempDir dir;
  const auto r = run_cli({"match", "--white", "Gnome", "--black", "Horus", "--seed", "1", "--max-plies", "30",
                          "--pgn", dir.file("s.pgn")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto games = check_pgn(dir.file("s.pgn"));
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].san.size() == 30u, games[0].result == "*");
  EXPECT_EQ(games[0].san.at(0), "e4");  // the fixed opening reply
}

}  // namespace
