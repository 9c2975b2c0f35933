// The games a server holds: at most so many, each ended when it has been
// idle too long or the server stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "games_db/game_store.h"
#include "players/human_game.h"

namespace ai_players::app {

struct ServedGame {
  std::string id;
  std::unique_ptr<HumanGame> game;
  std::chrono::steady_clock::time_point last_active;  // guarded by the table's lock
  // Its row in the games database, while that works; guarded by the API's store lock.
  std::optional<GameRecorder> recorder;
  int undos = 0, hints = 0;
};

class GameTable {
 public:
  GameTable(int max_games, std::chrono::milliseconds idle_timeout, bool verbose);
  ~GameTable();  // ends every game

  // Takes a place for a game about to be set up; ApiError 503 when full or closing.
  void reserve();
  // Adds the game set up in a reserved place (a null game gives the place back); returns its id.
  std::string add(std::unique_ptr<HumanGame> game);
  // The game, its idle time reset; ApiError 404 when there is none.
  std::shared_ptr<ServedGame> find(const std::string& id);
  // Whether the game is here (its idle time untouched).
  bool contains(const std::string& id) const;
  // Ends the game now; ApiError 404 when there is none.
  void end(const std::string& id);
  // Ends every game and refuses new ones.
  void close();
  std::size_t size() const;

 private:
  void reap();
  int max_games_;
  std::chrono::milliseconds idle_timeout_;
  bool verbose_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, std::shared_ptr<ServedGame>> games_;
  int reserved_ = 0;
  bool closing_ = false;
  std::thread reaper_;
};

}  // namespace ai_players::app
