// The candidate searches against the real engine: wall time per call, and the
// share of it spent in this process (parsing, sorting, board work) rather
// than waiting for the engine.
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/host/common.h"

using namespace ai_players;

namespace {

const char* kPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
};

struct Cpu {
  double user, sys;
};

Cpu cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {secs(u.ru_utime), secs(u.ru_stime)};
}

double wall_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<AI_BASIC> make_player(const char* fen) {
  engine::EngineConfig config;
  config.path = "/usr/games/stockfish";
  auto p = [&] {
    const common::ScopedEchoSink quiet([](std::string_view) {});
    return std::make_unique<AI_BASIC>("bench", 0, std::nullopt, config);
  }();
  p->start_fen = fen;
  p->legalmoves = board::Board(fen).legal_moves();
  return p;
}

void run(benchmark::State& state, int multipv, int depth, std::optional<long long> nodes) {
  const char* fen = kPositions[state.range(0)];
  auto player = make_player(fen);
  player->obtain_engine_thoughts(1, 1);  // let the engine finish starting up
  double wall = 0, user = 0, sys = 0;
  for (auto _ : state) {
    const double w0 = wall_seconds();
    const Cpu c0 = cpu_seconds();
    auto analyses = player->obtain_engine_thoughts(multipv, depth, nodes);
    benchmark::DoNotOptimize(analyses);
    const Cpu c1 = cpu_seconds();
    wall += wall_seconds() - w0;
    user += c1.user - c0.user;
    sys += c1.sys - c0.sys;
  }
  // Our process's CPU time against the wall time: user is the library's own
  // work, sys mostly the pipe I/O on the engine's behalf.
  state.counters["cpu_%"] = 100.0 * (user + sys) / wall;
  state.counters["user_%"] = 100.0 * user / wall;
  state.counters["depth"] = player->last_search_depth;
  state.counters["lines"] = std::min<double>(multipv, static_cast<double>(player->legalmoves.size()));
}

void BM_Lines16_Depth2(benchmark::State& state) { run(state, 16, 2, std::nullopt); }
void BM_Lines99_Depth3(benchmark::State& state) { run(state, 99, 3, std::nullopt); }
void BM_Lines5_Nodes1048576(benchmark::State& state) { run(state, 5, 0, 1048576); }

// How long a persona's end takes with a well-behaved engine: its input is
// closed and it exits on its own (the target is well under 100 ms).
void BM_EngineEndsWithItsPersona(benchmark::State& state) {
  for (auto _ : state) {
    auto player = make_player(kPositions[0]);
    player->obtain_engine_thoughts(1, 1);  // up and answering
    const double w0 = wall_seconds();
    player.reset();
    state.SetIterationTime(wall_seconds() - w0);
  }
}

// A new game on a warm engine (ucinewgame, then isready answered) against a fresh persona.
void BM_NewGameAgainstFreshPersona(benchmark::State& state) {
  auto player = make_player(kPositions[0]);
  player->obtain_engine_thoughts(1, 1);
  for (auto _ : state) {
    const double w0 = wall_seconds();
    if (state.range(0) == 0) {
      player->new_game();
    } else {
      player = make_player(kPositions[0]);
      player->obtain_engine_thoughts(1, 1);  // a fresh engine must start up before it answers
    }
    state.SetIterationTime(wall_seconds() - w0);
  }
}

}  // namespace

BENCHMARK(BM_EngineEndsWithItsPersona)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(BM_NewGameAgainstFreshPersona)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(BM_Lines16_Depth2)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lines99_Depth3)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lines5_Nodes1048576)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
