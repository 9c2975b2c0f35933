// ai-players serve: games against the personas over HTTP, with a JSON API
// and a page for the browser.
#pragma once

#include <memory>
#include <string>

#include "serve/serve_options.h"

namespace ai_players::app {

class GameServer {
 public:
  // Throws UserError for options that cannot serve (an empty host, say).
  explicit GameServer(ServeOptions options);
  ~GameServer();  // ends every game and its engines
  GameServer(const GameServer&) = delete;
  GameServer& operator=(const GameServer&) = delete;

  // Binds the listening socket; returns the port (a free one for port 0).
  // Throws std::runtime_error when the address cannot be bound.
  int bind();
  // Serves until stop(); bind() first.
  void run();
  // Ends every game (their searches are cut) and makes run() return. Any thread.
  void stop();

  std::size_t game_count() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Where the page's files are when --web-root is not given: a web/ folder
// beside the program or one level up (the source tree of a build directory),
// else the source tree it was built from; empty when there is none.
std::string default_web_root();

}  // namespace ai_players::app
