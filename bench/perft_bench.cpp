// Move-generator speed: perft nodes per second on the initial position and Kiwipete.
#include <benchmark/benchmark.h>

#include "ai_players/host/board.h"

namespace {

void run_perft(benchmark::State& state, const char* fen) {
  const ai_players::board::Board board(fen);
  const int depth = static_cast<int>(state.range(0));
  std::uint64_t nodes = 0;
  for (auto _ : state) {
    const std::uint64_t n = board.perft(depth);
    benchmark::DoNotOptimize(n);
    nodes += n;
  }
  state.counters["nps"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}

void BM_PerftInitial(benchmark::State& state) {
  run_perft(state, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
}
void BM_PerftKiwipete(benchmark::State& state) {
  run_perft(state, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
}

}  // namespace

BENCHMARK(BM_PerftInitial)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerftKiwipete)->Arg(4)->Unit(benchmark::kMillisecond);
