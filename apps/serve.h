// ai-players serve: games against the personas over HTTP, with a JSON API
// and a page for the browser.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "persona_factory.h"

namespace ai_players::app {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  int max_games = 8;
  std::chrono::milliseconds idle_timeout{std::chrono::minutes(30)};
  bool preview = true;     // judge the player's moves with Verevovera (a second engine per game)
  int preview_depth = 7;   // of the preview, the hint and the review
  std::string web_root;    // the page's files; empty: no page, the API only
  bool verbose = false;    // the personas' own messages on standard error
  PersonaSettings persona;
};

// An API failure: the HTTP status and a message for people.
struct ApiError : std::runtime_error {
  ApiError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
  int status;
};

class GameServer {
 public:
  explicit GameServer(ServeOptions options);
  ~GameServer();  // ends every game and its engines
  GameServer(const GameServer&) = delete;
  GameServer& operator=(const GameServer&) = delete;

  // Binds the listening socket; returns the port (a free one for port 0).
  // Throws std::runtime_error when the address cannot be bound.
  int bind();
  // Serves until stop(); bind() first.
  void run();
  // Ends every game (their searches are interrupted) and makes run() return.
  // Callable from any thread.
  void stop();

  std::size_t game_count() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where the page's files are when --web-root is not given: a web/ folder
// beside the program or one level up (the source tree of a build directory);
// empty when there is none.
std::string default_web_root();

}  // namespace ai_players::app
