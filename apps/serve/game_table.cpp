#include "serve/game_table.h"

#include <algorithm>
#include <iostream>
#include <random>

#include <fmt/format.h>

#include "game/numbers.h"
#include "ai_players/core/text.h"
#include "serve/serve_options.h"

namespace ai_players::app {
namespace {

std::string new_id() {
  static std::mutex mutex;
  static std::mt19937_64 gen{std::random_device{}()};
  const std::lock_guard lock(mutex);
  return fmt::format("{:012x}", gen() & 0xffffffffffffULL);
}

}  // namespace

GameTable::GameTable(int max_games, std::chrono::milliseconds idle_timeout, bool verbose)
    : max_games_(max_games), idle_timeout_(idle_timeout), verbose_(verbose), reaper_([this] { reap(); }) {}

GameTable::~GameTable() {
  close();
  reaper_.join();
}

void GameTable::reserve() {
  const std::lock_guard lock(mutex_);
  if (closing_) throw ApiError(503, "the server is shutting down");
  if (static_cast<int>(games_.size()) + reserved_ >= max_games_)
    throw ApiError(503, fmt::format("{} running, the most this server allows; end one first",
                                    counted(max_games_, "game is", "games are")));
  ++reserved_;
}

std::string GameTable::add(std::unique_ptr<HumanGame> game) {
  const std::lock_guard lock(mutex_);
  --reserved_;
  if (!game) return {};
  auto served = std::make_shared<ServedGame>(ServedGame{new_id(), std::move(game), std::chrono::steady_clock::now(), std::nullopt, 0, 0});
  games_[served->id] = served;
  return served->id;
}

std::shared_ptr<ServedGame> GameTable::find(const std::string& id) {
  const std::lock_guard lock(mutex_);
  const auto it = games_.find(id);
  if (it == games_.end()) throw ApiError(404, fmt::format("no game {}", quoted_excerpt(id, 40)));
  it->second->last_active = std::chrono::steady_clock::now();
  return it->second;
}

bool GameTable::contains(const std::string& id) const {
  const std::lock_guard lock(mutex_);
  return games_.count(id) > 0;
}

void GameTable::end(const std::string& id) {
  std::shared_ptr<ServedGame> game;
  {
    const std::lock_guard lock(mutex_);
    const auto it = games_.find(id);
    if (it == games_.end()) throw ApiError(404, fmt::format("no game {}", quoted_excerpt(id, 40)));
    game = std::move(it->second);
    games_.erase(it);
  }
  game->game->abandon();  // a reply still running fails at once; its request ends the game's life
}

void GameTable::close() {
  std::map<std::string, std::shared_ptr<ServedGame>> ending;
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    ending.swap(games_);
  }
  wake_.notify_all();
  for (const auto& [id, g] : ending) g->game->abandon();
}

std::size_t GameTable::size() const {
  const std::lock_guard lock(mutex_);
  return games_.size();
}

void GameTable::reap() {
  std::unique_lock lock(mutex_);
  const auto period = std::clamp<std::chrono::milliseconds>(idle_timeout_ / 4, std::chrono::milliseconds(50),
                                                            std::chrono::milliseconds(5000));
  while (!closing_) {
    wake_.wait_for(lock, period);
    std::vector<std::shared_ptr<ServedGame>> idle;
    for (auto it = games_.begin(); it != games_.end();) {
      const bool stale = !it->second->game->view().thinking &&
                         std::chrono::steady_clock::now() - it->second->last_active > idle_timeout_;
      if (stale) {
        idle.push_back(std::move(it->second));
        it = games_.erase(it);
      } else {
        ++it;
      }
    }
    if (idle.empty()) continue;
    lock.unlock();
    for (const auto& g : idle) {
      if (verbose_) std::cerr << "serve: game " << g->id << " was idle and has ended\n";
      g->game->abandon();
    }
    idle.clear();  // the engines end here, outside the table's lock
    lock.lock();
  }
}

}  // namespace ai_players::app
