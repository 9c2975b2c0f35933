#include "tournament/worker_pool.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/child_process.h"
#include "tournament/game_worker.h"

namespace ai_players::app {
namespace {

// One worker process, fed one game at a time.
class Worker {
 public:
  Worker() : process_("exec " + engine::shell_quote(worker_program()) + " game-worker", "game worker", "The game worker") {}

  // The game's PGN; throws Error when the worker fails or falls silent.
  std::string play(const GameTerms& terms, std::optional<std::chrono::milliseconds> patience) {
    process_.write(terms_to_json(terms) + "\n");
    std::string pgn, error;
    for (;;) {
      std::optional<engine::Clock::time_point> until;
      if (patience) until = engine::Clock::now() + *patience;
      const std::optional<std::string> line = process_.read_line(until);
      if (!line) {
        if (until && engine::Clock::now() >= *until)
          throw Error(fmt::format("the game process showed no sign of life for {} s", patience->count() / 1000));
        continue;
      }
      if (line->empty()) throw Error("the game process ended in the middle of a game");
      const std::string_view text = *line;
      if (text.starts_with(kEndOfGame)) break;
      if (text.starts_with(kMoveMark)) continue;
      if (text.starts_with(kErrorMark)) error = std::string(text.substr(kErrorMark.size()));
      else pgn += text;
    }
    if (!error.empty()) throw Error(strip(error));
    return pgn;
  }

 private:
  engine::ChildProcess process_;
};

}  // namespace

std::string worker_program() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("ai-players") : exe.string();
}

void play_games(const std::vector<GameTerms>& games, int concurrency,
                std::optional<std::chrono::milliseconds> patience,
                const std::function<void(const FinishedGame&)>& finished, const std::atomic<bool>& stop) {
  std::mutex mutex;
  std::size_t next = 0;
  const auto work = [&] {
    std::unique_ptr<Worker> worker;
    for (;;) {
      std::size_t i;
      {
        const std::lock_guard lock(mutex);
        if (stop || next >= games.size()) return;
        i = next++;
      }
      FinishedGame done{i, {}, {}};
      // A game whose worker failed is played once more by a fresh one, with fresh engines.
      for (int attempt = 0; attempt < 2 && done.pgn.empty(); ++attempt) {
        try {
          if (!worker) worker = std::make_unique<Worker>();
          done.pgn = worker->play(games[i], patience);
          done.error.clear();
        } catch (const std::exception& e) {
          done.error = attempt == 0 ? e.what() : done.error + "; played again: " + e.what();
          worker.reset();
        }
        if (stop) break;
      }
      const std::lock_guard lock(mutex);
      finished(done);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < std::max(1, concurrency); ++t) threads.emplace_back(work);
  for (auto& t : threads) t.join();
}

}  // namespace ai_players::app
