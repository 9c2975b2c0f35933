#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "ai_players/host/board.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"

namespace {

using testing_support::CliProcess;
using testing_support::FakeEngine;

// The persona that hands the move choice to its engine: with the scripted
// engine its replies are exactly the script's bestmove lines.
const std::vector<std::string> kUciHoudini = {"uci", "--persona", "HOUD20c"};

bool starts_with(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool is_uci_output(const std::string& line) {
  for (const char* p : {"id name ", "id author ", "option name ", "uciok", "readyok", "bestmove ", "info "})
    if (starts_with(line, p)) return true;
  return false;
}

// Sends one command and reads up to the line starting with `until`; every
// line on the way must be UCI.
std::vector<std::string> ask(CliProcess& p, const std::string& command, const std::string& until) {
  p.send(command);
  std::vector<std::string> seen;
  EXPECT_TRUE(p.read_until(until, seen)) << "no '" << until << "' after " << command;
  for (const auto& line : seen) EXPECT_TRUE(is_uci_output(line)) << line;
  return seen;
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

std::vector<pid_t> descendants(pid_t root) {
  std::vector<pid_t> found{root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    const std::string p = std::to_string(found[i]);
    std::ifstream children("/proc/" + p + "/task/" + p + "/children");
    for (pid_t child; children >> child;) found.push_back(child);
  }
  found.erase(found.begin());
  return found;
}

// Running or sleeping; a zombie has ended.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const auto close = text.rfind(')');
  return close != std::string::npos && text.at(close + 2) != 'Z';
}

TEST(CliUci, HandshakeAndGamesFromStartposAndFen) {
  FakeEngine fake("on go depth 30\n> info depth 30 score cp 20 pv g1f3\n> bestmove g1f3\n"
                  "on go depth 30\n> bestmove f1b5\n"
                  "on go depth 30\n> bestmove e1d2\n");
  CliProcess p(kUciHoudini);
  std::vector<std::string> out = ask(p, "uci", "uciok");
  ASSERT_GE(out.size(), 5u);
  EXPECT_EQ(out[0], "id name HOUD20c");
  EXPECT_EQ(out[1], "id author ai_players");
  const std::string persona_option = out[2];
  EXPECT_TRUE(starts_with(persona_option, "option name Persona type combo default HOUD20c var Talvo var "))
      << persona_option;
  EXPECT_NE(persona_option.find(" var Diana "), std::string::npos);
  EXPECT_EQ(persona_option.find("disabled.Donar"), std::string::npos);  // cannot be built: not offered
  EXPECT_EQ(out[3], std::string("option name Engine type string default ") + testing_support::fake_engine_path());
  EXPECT_EQ(ask(p, "isready", "readyok").size(), 1u);

  p.send("ucinewgame");
  p.send("position startpos moves e2e4 e7e5");
  auto reply = ask(p, "go wtime 60000 btime 60000 winc 0 binc 0", "bestmove");
  EXPECT_EQ(reply.back(), "bestmove g1f3");

  p.send("position startpos moves e2e4 e7e5 g1f3 b8c6");
  reply = ask(p, "go movetime 100", "bestmove");
  EXPECT_EQ(reply.back(), "bestmove f1b5");

  p.send("position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e4 e8d7");
  reply = ask(p, "go infinite", "bestmove");
  EXPECT_EQ(reply.back(), "bestmove e1d2");

  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_EQ(p.read_all(), "");
  // The game went to the engine from its own start position.
  EXPECT_TRUE(contains(fake.received(), "position fen 4k3/8/8/8/8/8/4P3/4K3 w - - 0 1 moves e2e4 e8d7"));
}

TEST(CliUci, BadInputIsReportedAndLeavesTheGameAsItWas) {
  FakeEngine fake("on go depth 30\n> bestmove g1f3\n");
  CliProcess p(kUciHoudini);
  p.send("position startpos moves e2e4 e7e5");
  auto said = ask(p, "position startpos moves e2e4 e7e5 g1g5", "info string");
  EXPECT_NE(said.back().find("illegal move g1g5"), std::string::npos) << said.back();
  said = ask(p, "position fen not/a/fen w - - 0 1", "info string");
  EXPECT_NE(said.back().find("not/a/fen"), std::string::npos) << said.back();
  said = ask(p, "position", "info string");
  said = ask(p, "frobnicate 1 2", "info string");
  EXPECT_EQ(said.back(), "info string unknown command: frobnicate 1 2");
  said = ask(p, "setoption name Persona value Nobody", "info string");
  EXPECT_NE(said.back().find("unknown persona 'Nobody'"), std::string::npos) << said.back();
  EXPECT_NE(said.back().find("keeping HOUD20c"), std::string::npos) << said.back();
  said = ask(p, "setoption name Persona value disabled.Donar", "info string");
  EXPECT_NE(said.back().find("cannot be built; keeping HOUD20c"), std::string::npos) << said.back();
  said = ask(p, "setoption name Engine value /nonexistent/engine", "info string");
  EXPECT_NE(said.back().find("/nonexistent/engine"), std::string::npos);
  p.send("stop");  // nothing to stop: no answer

  // Still the game after 1. e4 e5, with the same persona and engine.
  said = ask(p, "go depth 5", "bestmove");
  EXPECT_EQ(said.back(), "bestmove g1f3");
  EXPECT_TRUE(contains(fake.received(), " moves e2e4 e7e5"));
  EXPECT_FALSE(contains(fake.received(), "g1g5"));

  // A finished game has no move to give.
  p.send("position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
  EXPECT_EQ(ask(p, "go", "bestmove").back(), "bestmove 0000");

  // Switching persona takes effect at the next go.
  p.send("setoption name Persona value talvo");
  p.send("position startpos moves d2d4");
  said = ask(p, "go", "bestmove");
  EXPECT_TRUE(contains(said, "info string Talvo 100")) << "the new persona was not built";
  const ai_players::board::Board after_d4("rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1");
  EXPECT_NO_THROW(after_d4.parse_move(said.back().substr(9))) << said.back();
  said = ask(p, "uci", "uciok");
  EXPECT_EQ(said.front(), "id name Talvo");
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

TEST(CliUci, StopStillGivesExactlyOneBestmove) {
  FakeEngine fake("on go depth 30\nsleep 200\n> bestmove g1f3\n");
  CliProcess p(kUciHoudini);
  p.send("position startpos moves e2e4 e7e5");
  p.send("go infinite");
  p.send("stop");
  auto said = ask(p, "isready", "bestmove");
  EXPECT_EQ(said.back(), "bestmove g1f3");
  // Whatever came before, nothing but readyok follows the one bestmove.
  said = ask(p, "isready", "readyok");
  for (const auto& line : said) EXPECT_FALSE(starts_with(line, "bestmove")) << line;
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
}

TEST(CliUci, ReadyDuringAReplyAndQuitLeavesNoEngineBehind) {
  FakeEngine fake("on go depth 30\nhang\nlinger\n");
  CliProcess p(kUciHoudini);
  p.send("position startpos moves e2e4 e7e5");
  p.send("go");
  for (int i = 0; i < 1000 && !contains(fake.received(), "go depth 30"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(contains(fake.received(), "go depth 30")) << "the reply never reached the engine";
  const auto said = ask(p, "isready", "readyok");
  for (const auto& line : said) EXPECT_FALSE(starts_with(line, "bestmove")) << line;

  const std::vector<pid_t> engines = descendants(p.pid());
  ASSERT_FALSE(engines.empty());
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_EQ(p.read_all().find("bestmove"), std::string::npos);  // nothing after quit
  // Reparented zombies may wait a moment for their reaper; a live engine never goes away.
  for (int i = 0; i < 500 && std::any_of(engines.begin(), engines.end(), alive); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (pid_t pid : engines) EXPECT_FALSE(alive(pid)) << "engine process " << pid << " left behind";
}

TEST(CliUci, AnUnusablePersonaAtStartIsAnError) {
  FakeEngine fake;
  const auto unknown = testing_support::run_cli({"uci", "--persona", "Nobody"}, "uci\n");
  EXPECT_NE(unknown.status, 0);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("unknown persona 'Nobody'"), std::string::npos) << unknown.err;
  const auto disabled = testing_support::run_cli({"uci", "--persona", "disabled.Xylon"}, "uci\n");
  EXPECT_NE(disabled.status, 0);
  EXPECT_NE(disabled.err.find("cannot be built"), std::string::npos) << disabled.err;
}

}  // namespace
