// Engines that misbehave as real ones do: every fault ends a reply within its
// deadline, with a message naming the engine, and leaves no process behind.
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/safe_reply.h"
#include "support/test_support.h"

using namespace ai_players;
using namespace std::chrono_literals;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

struct Fault {
  const char* name;
  std::string script;  // for the fake engine; "exec:PATH" runs PATH instead
  bool recovers;       // a move all the same, with a note; or a PersonaFailure
  const char* text;    // part of the note, or of the PersonaFailure text
  bool clock = false;  // the host's clock runs out 300 ms into the reply
};

std::string lines(const std::string& line, int count, const char* gap = "") {
  std::string out;
  for (int i = 0; i < count; ++i) out += "> " + line + "\n" + gap;
  return out;
}

}  // namespace

TEST(EngineFaults, EachFaultEndsTheReplyInTimeWithAMoveOrAClearMessageAndLeavesNothingRunning) {
  const std::string random = "was cut short before it found a move, so it plays a random legal move";
  const Fault faults[] = {
      {"silent after go", "on go\nhang\n", true, random.c_str()},
      // What it found is played, or the candidate leads to a rule that needs a last move: either way a note.
      {"ignores stop", "on go\n> info depth 1 score cp 3 pv h2h3\n", true, ""},
      {"ignores stop under a clock", "on go\n> info depth 1 score cp 3 pv h2h3\n", true, "", true},
      {"babbles without bestmove", "on go\n" + lines("info string still thinking", 400, "sleep 10\n"), true,
       random.c_str()},
      {"floods", "exec:/usr/bin/yes", true, random.c_str()},
      {"never-ending line", "on go\n>> " + std::string(1100000, 'x') + "\n", false, "without ending the line"},
      {"empty bestmove", "on go\n> bestmove\non go\n> bestmove\non go\n> bestmove\n", false, "bestmove line without a move"},
      {"illegal bestmove", "on go\n> info depth 2 score cp 5 pv a1a1\n> bestmove a1a1\non go\n> bestmove a1a1\n"
                           "on go\n> bestmove a1a1\n",
       false, "bestmove not found!!"},
      {"dies mid-reply", "on go\ndie\n", false, "output ended"},
      {"garbled output", "on go\n> info depth 1 score cp 3 pv h2h3 \xe9\n", false, "not valid UTF-8"},
  };
  TempDir dir;
  // Side by side, as each fault takes its watchdog and grace; each engine reads
  // its own script, and one sink that keeps nothing serves all (sinks are the process's).
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  const board::Board position("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::MoveList legal = position.legal_moves();
  std::vector<std::future<void>> running;
  for (const Fault& fault : faults) {
    const bool exec = fault.script.starts_with("exec:");
    const std::string path = exec ? fault.script.substr(5) : dir.file(fault.name);
    if (!exec) {
      testing_support::write_file(path + ".script", fault.script);
      testing_support::write_file(path, "#!/bin/sh\nFAKE_ENGINE_SCRIPT='" + path + ".script' exec '" +
                                            testing_support::fake_engine_path() + "'\n");
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    running.push_back(std::async(std::launch::async, [&fault, &legal, &position, path] {
      SCOPED_TRACE(fault.name);
      engine::EngineConfig config;
      config.path = path;
      BEGINNER_GANG hera("Hera", Number(0.05), 550, config);
      // A fault found in what the engine says needs no watchdog; a long one keeps a loaded machine from racing it.
      hera.engine_timeout = fault.recovers ? 300ms : 5s;
      hera.stop_grace = 200ms;
      const auto start = engine::Clock::now();
      if (fault.clock) hera.stop_at = start + 300ms;
      try {
        const SafeReply reply = reply_safely(hera, {}, legal, position.export_FEN());
        EXPECT_TRUE(fault.recovers);
        EXPECT_TRUE(!reply.note.empty() && reply.note.find(fault.text) != std::string::npos) << reply.note;
        EXPECT_NE(std::find(legal.begin(), legal.end(), reply.move), legal.end());
        EXPECT_TRUE(reply.cut_short && reply.engine_restarted) << reply.note;
        EXPECT_NE(reply.detail.find("did not answer \"stop\" within 200 ms"), std::string::npos) << reply.detail;
        // Without a clock: the watchdog and the grace; with one: the budget and the grace (and slack for a loaded machine).
        EXPECT_LT(engine::Clock::now() - start, 1500ms);
      } catch (const PersonaFailure& e) {
        const std::string text = e.what();
        EXPECT_FALSE(fault.recovers) << text;
        EXPECT_NE(text.find(fault.text), std::string::npos) << text;
        EXPECT_EQ(text.find("exec '"), std::string::npos) << text;  // the path, not the shell command
        EXPECT_LT(text.size(), 2000u) << "an engine's line is quoted, not copied whole";
      }
    }));
  }
  for (auto& r : running) r.get();  // a fault that hangs fails the test at its timeout
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
  EXPECT_EQ(errno, ECHILD);
}

// A host shutting down abandons a persona mid-reply: the reply ends at once,
// and neither it nor a later reply starts another engine.
TEST(EngineFaults, AnAbandonedPersonaEndsItsReplyAndStartsNoEngine) {
  TempDir dir;
  const std::string script = dir.file("script"), log = dir.file("log");
  testing_support::write_file(script, "on go\nsleep 10000\n");
  ScopedEnv script_env("FAKE_ENGINE_SCRIPT", script);
  ScopedEnv log_env("FAKE_ENGINE_LOG", log);
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  const board::Board position("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::MoveList legal = position.legal_moves();
  engine::EngineConfig config;
  config.path = testing_support::fake_engine_path();
  BEGINNER_GANG hera("Hera", Number(0.05), 550, config);
  auto reply = std::async(std::launch::async, [&] { return reply_safely(hera, {}, legal, position.export_FEN()); });
  testing_support::eventually([&] { return testing_support::read_file(log).find("go ") != std::string::npos; }, 5s);
  const auto start = engine::Clock::now();
  hera.abandon();
  const SafeReply got = reply.get();  // the safe fallback, at once
  EXPECT_EQ(got.note, "Hera lost its engine, so it plays a random legal move");
  EXPECT_NE(std::find(legal.begin(), legal.end(), got.move), legal.end());
  EXPECT_LT(engine::Clock::now() - start, 1s);
  try {
    reply_safely(hera, {}, legal, position.export_FEN());
    ADD_FAILURE() << "an abandoned persona replied";
  } catch (const PersonaFailure& e) {
    EXPECT_NE(std::string(e.what()).find("was shut down; its engine is not restarted"), std::string::npos) << e.what();
  }
  EXPECT_EQ(testing_support::count_of(testing_support::read_file(log), "\nuci\n"), 0);  // the first line is the only uci
  EXPECT_TRUE(testing_support::read_file(log).starts_with("uci\n"));
}
