// The probe that turns a node budget into a search depth, on scripted engine output.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "support/scripted_channel.h"

using namespace ai_players;
using namespace testing_support;
using Lines = std::vector<std::string>;

namespace {

const long long N = 1000000;

// A script line printing an info line of the given principal variation, with a pv of `pv_moves` moves.
std::string info(int depth, long long nodes, int pv_moves, const std::string& score = "cp 30", long long nps = N,
                 int multipv = 1) {
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
  int run(int multipv) { return p.o_t_get_depth_(multipv, 0, N); }
  ScriptedEngine fake;
  CaptureEcho quiet;
  AI_BASIC p{"Talvo", 100, std::nullopt, fake.config()};
};

}  // namespace

TEST(EngineProbe, EstimatesFromTheLastLineBeforeTheStopRule) {
  struct Case {
    std::string lines, after_stop;
    int multipv, depth;
    bool decided;  // stopped early with a diagnostic
  };
  const Case cases[] = {
      // min(14, max(12, 9)) - 1; other lines and other variations are skipped
      {"> info string warming up\n" + info(5, 10000, 3, "cp 30", N, 2) + info(14, 950000, 9), "", 1, 11, false},
      // depth 18 goes on with 16 pv moves, stops with 15; lines after "stop" count for nothing
      {info(18, 100000, 16) + info(18, 150000, 15) + info(18, 200000, 10), info(30, 2 * N, 30), 3, 14, false},
      // from 11 on an over-budget line stops the probe but keeps the estimate
      {info(13, 1000, 5) + info(20, 2 * N, 30), "", 2, 11, false},
      // below 11 the estimate still follows, and the result is capped at 30
      {info(10, 1000, 5) + info(45, 2 * N, 45), "", 2, 30, false},
      {info(13, 1000, 5) + info(15, N, 14), "", 2, 13, false},
      // a mate stops early; an estimate of 11 is raised to 12
      {info(11, 300000, 7, "mate 4", 100000), "", 1, 11, true},
      // a large cp too, but not below a quarter of the budget, nor for a fast engine at a low depth
      {info(8, 200000, 3, "cp -2701", 100000) + info(9, 300000, 3, "cp 2701", 200000) +
           info(10, 300000, 3, "cp 2701", 100000),
       "", 2, 9, true},
  };
  for (const Case& c : cases) {
    Probe pr(probe_script(c.lines, c.after_stop));
    CaptureBugprint bug;
    EXPECT_EQ(pr.run(c.multipv), c.depth) << c.lines;
    const std::string stop_line = c.lines.substr(c.lines.rfind("> ") + 2);
    EXPECT_EQ(bug.lines, (c.decided ? Lines{"--- THE-LOW-NODE_OR_HIGH-SCORE ---", "1000000", "2", "300.0", "", "", "",
                                            stop_line, "", "", "", "", "", ""}
                                    : Lines{}));
    EXPECT_EQ(pr.p.elines, Lines{""});  // recorded only in debug mode
    const Lines sent = pr.fake.received();
    EXPECT_EQ(Lines(sent.begin() + 4, sent.end()),
              (Lines{"setoption name MultiPV value " + std::to_string(std::max(2, c.multipv)), "go infinite", "stop"}));
  }
}

TEST(EngineProbe, DebugModeRecordsTheFirstVariationAlsoAfterTheStop) {
  Probe pr(probe_script(info(9, 1000, 3, "cp 30", N, 2) + info(9, 1000, 3) + info(14, 950000, 9), info(15, N, 9)));
  pr.p.DEBUG = true;
  EXPECT_EQ(pr.run(2), 11);
  EXPECT_EQ(pr.p.elines,
            (Lines{"", info(9, 1000, 3).substr(2), info(14, 950000, 9).substr(2), info(15, N, 9).substr(2)}));
}

TEST(EngineProbe, GivenDepthSkipsTheProbeEarlyBestmoveGivesMinusOneBrokenOutputFails) {
  Probe pr("on go infinite\n> bestmove e2e4\n");
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, std::nullopt), 7);
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, N), 7);
  EXPECT_THROW(pr.p.o_t_get_depth_(1, 0, std::nullopt), AssertionError);
  EXPECT_EQ(pr.run(1), -1);
  EXPECT_EQ(pr.fake.received()[4], "setoption name MultiPV value 2");  // nothing before the probe
  Probe no_nps("on go infinite\n> info depth 9 multipv 1 score cp 3 nodes 10 pv e2e4\n");
  EXPECT_THROW(no_nps.run(1), Error);
  // The engine dies, or goes quiet after "stop": its output ends, no endless wait.
  for (const std::string& script : Lines{"on go infinite\n" + info(9, 1000, 3) + "die\n",
                                         "on go infinite\n" + info(14, N, 9) + "on stop\nclose\n"}) {
    Probe broken(script);
    EXPECT_THROW(broken.run(1), EngineError) << script;
  }
}
