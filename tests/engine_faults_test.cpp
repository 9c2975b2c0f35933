// Engines that misbehave as real ones do: every fault ends a reply within its
// deadline, with a message naming the engine, and leaves no process behind.
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

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
  std::string script;
  const char* message;  // part of the PersonaFailure text
};

std::string lines(const std::string& line, int count, const char* gap = "") {
  std::string out;
  for (int i = 0; i < count; ++i) out += "> " + line + "\n" + gap;
  return out;
}

// Runs f with a deadline of its own: a hang fails the test instead of stalling the suite.
template <class F>
void within(std::chrono::seconds limit, const char* what, F f) {
  auto done = std::async(std::launch::async, f);
  if (done.wait_for(limit) == std::future_status::timeout) {
    ADD_FAILURE() << what << " did not end within " << limit.count() << " s";
    std::_Exit(1);  // the stuck thread cannot be joined
  }
  done.get();
}

}  // namespace

TEST(EngineFaults, EachFaultEndsTheReplyWithAClearMessageAndLeavesNothingRunning) {
  const Fault faults[] = {
      {"silent after go", "on go\nhang\non go\nhang\non go\nhang\n", "did not answer \"stop\""},
      {"ignores stop", "on go\n> info depth 1 score cp 3 pv e2e4\non stop\non go\n> info depth 1\non stop\n"
                       "on go\non stop\n",
       "did not answer \"stop\""},
      {"never-ending line", "on go\n>> " + std::string(1100000, 'x') + "\n", "without ending the line"},
      {"babbles without bestmove", "on go\n" + lines("info string still thinking", 400, "sleep 10\n"),
       "did not answer \"stop\""},
      {"empty bestmove", "on go\n> bestmove\non go\n> bestmove\non go\n> bestmove\n", "bestmove line without a move"},
      {"illegal bestmove", "on go\n> info depth 2 score cp 5 pv a1a1\n> bestmove a1a1\non go\n> bestmove a1a1\n"
                           "on go\n> bestmove a1a1\n",
       "not asked about"},
      {"dies mid-reply", "on go\ndie\n", "output ended"},
  };
  TempDir dir;
  const std::string script = dir.file("script");
  ScopedEnv script_env("FAKE_ENGINE_SCRIPT", script);
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  const board::Board position("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::MoveList legal = position.legal_moves();
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    testing_support::write_file(script, fault.script);
    within(20s, fault.name, [&] {
      engine::EngineConfig config;
      config.path = testing_support::fake_engine_path();
      BEGINNER_GANG hera("Hera", Number(0.05), 550, config);
      hera.engine_timeout = 300ms;
      hera.stop_grace = 200ms;
      try {
        const SafeReply reply = reply_safely(hera, {}, legal, position.export_FEN());
        // Recovering is fine too, but then with a legal move and a note saying what happened.
        EXPECT_FALSE(reply.note.empty());
        EXPECT_NE(std::find(legal.begin(), legal.end(), reply.move), legal.end());
      } catch (const PersonaFailure& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(fault.message), std::string::npos) << text;
        EXPECT_NE(text.find(testing_support::fake_engine_path()), std::string::npos) << text;
        EXPECT_EQ(text.find("exec '"), std::string::npos) << text;  // the path, not the shell command
        EXPECT_LT(text.size(), 2000u) << "an engine's line is quoted, not copied whole";
      }
    });
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
    EXPECT_EQ(errno, ECHILD);
  }
}
