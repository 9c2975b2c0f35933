// The probe that turns a node budget into a search depth, on scripted engine output.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace testing_support;
using Lines = std::vector<std::string>;

namespace {

// An info line of principal variation 1 with the given values and a pv of `pv_moves` moves.
std::string info(int depth, long long nodes, int pv_moves, const std::string& score = "cp 30",
                 long long nps = 1000000, int multipv = 1) {
  std::string line = "> info depth " + std::to_string(depth) + " seldepth 40 multipv " + std::to_string(multipv) +
                     " score " + score + " nodes " + std::to_string(nodes) + " nps " + std::to_string(nps) +
                     " time 10 pv";
  for (int i = 0; i < pv_moves; ++i) line += i % 2 ? " e7e5" : " e2e4";
  return line + "\n";
}

// The engine answers "go infinite" with `lines`, and "stop" with `after_stop` and a bestmove.
std::string probe_script(const std::string& lines, const std::string& after_stop = "") {
  return "on go infinite\n" + lines + "on stop\n" + after_stop + "> bestmove e2e4\n";
}

struct Probe {
  explicit Probe(const std::string& script) : fake(script) {}
  int run(int multipv, long long nodes) { return p.o_t_get_depth_(multipv, 0, nodes); }
  // What was sent after the start-up lines (the player must be gone or the probe done).
  Lines sent() const {
    auto lines = fake.received();
    return {lines.begin() + 4, lines.end()};
  }
  FakeEngine fake;
  CaptureEcho quiet;
  AI_BASIC p{"Talvo", 100};
};

const long long N = 1000000;

}  // namespace

TEST(EngineProbe, StopsAtTheBudgetAndEstimatesFromTheLastLine) {
  Probe pr(probe_script("> info string warming up\n" + info(5, 10000, 3, "cp 30", 1000000, 2) +
                        info(14, 950000, 9)));
  CaptureBugprint bug;
  EXPECT_EQ(pr.run(1, N), 11);  // min(14, max(12, 9)) - 1
  EXPECT_EQ(pr.sent(), (Lines{"setoption name MultiPV value 2", "go infinite", "stop"}));
  EXPECT_TRUE(bug.lines.empty());
  EXPECT_EQ(pr.p.elines, Lines{""});
}

TEST(EngineProbe, DeepLinesStopOnlyWhenThePvIsShort) {
  // depth 18 with 16 moves goes on; depth 18 with 10 moves stops.
  Probe pr(probe_script(info(18, 100000, 16) + info(18, 200000, 10), info(30, 2 * N, 30)));
  // The first line alone would give 15; the line after "stop" counts for nothing.
  EXPECT_EQ(pr.run(3, N), 11);
  EXPECT_EQ(pr.sent(), (Lines{"setoption name MultiPV value 3", "go infinite", "stop"}));
}

TEST(EngineProbe, DecidedPositionsStopEarlyWithADiagnostic) {
  Probe pr(probe_script(info(11, 300000, 7, "mate 4", 100000)));
  CaptureBugprint bug;
  EXPECT_EQ(pr.run(1, N), 11);  // the estimate 11 is raised to 12
  EXPECT_EQ(bug.lines.size(), 14u);
  EXPECT_EQ(Lines(bug.lines.begin(), bug.lines.begin() + 4),
            (Lines{"--- THE-LOW-NODE_OR_HIGH-SCORE ---", "1000000", "2", "300.0"}));
  EXPECT_EQ(bug.lines[7], info(11, 300000, 7, "mate 4", 100000).substr(2));

  // A large cp score counts too, but not below a quarter of the budget, nor with a
  // fast engine at a low depth.
  Probe slow(probe_script(info(8, 200000, 3, "cp -2701", 100000) + info(9, 300000, 3, "cp 2701", 200000) +
                          info(10, 300000, 3, "cp 2701", 100000)));
  CaptureBugprint bug2;
  EXPECT_EQ(slow.run(2, N), 9);
  EXPECT_EQ(bug2.lines[0], "--- THE-LOW-NODE_OR_HIGH-SCORE ---");
}

TEST(EngineProbe, EstimateIsHeldOnceDeepAndOverBudget) {
  {  // already 11 or more: an over-budget line stops the probe but keeps the estimate
    Probe pr(probe_script(info(13, 1000, 5) + info(20, 2 * N, 30)));
    EXPECT_EQ(pr.run(2, N), 11);
  }
  {  // below 11 the estimate still follows, and the result is capped at 30
    Probe pr(probe_script(info(8, 1000, 5) + info(45, 2 * N, 45)));
    EXPECT_EQ(pr.run(2, N), 30);
  }
  {  // between the lower and the upper bound the estimate follows
    Probe pr(probe_script(info(13, 1000, 5) + info(15, N, 14)));
    EXPECT_EQ(pr.run(2, N), 13);
  }
}

TEST(EngineProbe, RecordsPrincipalLinesOnlyInDebugMode) {
  Probe pr(probe_script(info(9, 1000, 3, "cp 30", 1000000, 2) + info(9, 1000, 3) + info(14, 950000, 9),
                        info(15, N, 9)));
  pr.p.DEBUG = true;
  EXPECT_EQ(pr.run(2, N), 11);
  // Drained lines after "stop" are recorded too.
  EXPECT_EQ(pr.p.elines, (Lines{"", info(9, 1000, 3).substr(2), info(14, 950000, 9).substr(2),
                                info(15, N, 9).substr(2)}));
}

TEST(EngineProbe, GivenDepthSkipsTheProbeAndEarlyBestmoveGivesMinusOne) {
  Probe pr("on go infinite\n> bestmove e2e4\n");
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, std::nullopt), 7);
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, N), 7);
  EXPECT_THROW(pr.p.o_t_get_depth_(1, 0, std::nullopt), AssertionError);
  EXPECT_EQ(pr.run(1, N), -1);
  EXPECT_EQ(pr.sent(), (Lines{"setoption name MultiPV value 2", "go infinite"}));  // nothing before
}

TEST(EngineProbe, BrokenLinesAndADyingEngineAreErrors) {
  {
    Probe pr("on go infinite\n> info depth 9 multipv 1 score cp 3 nodes 10 pv e2e4\n");  // no nps
    EXPECT_THROW(pr.run(1, N), Error);
  }
  {
    Probe pr("on go infinite\n" + info(9, 1000, 3) + "die\n");
    EXPECT_THROW(pr.run(1, N), EngineError);
  }
  {  // the engine goes quiet after "stop": its output ends, no endless wait
    Probe pr("on go infinite\n" + info(14, N, 9) + "on stop\nclose\n");
    EXPECT_THROW(pr.run(1, N), EngineError);
  }
}
