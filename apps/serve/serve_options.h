// How `ai-players serve` runs.
#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

#include "game/time_control.h"
#include "players/human_game.h"
#include "players/persona_factory.h"
#include "review/review.h"

namespace ai_players::app {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  int max_games = 8;
  std::chrono::milliseconds idle_timeout{std::chrono::minutes(30)};
  bool preview = true;    // judge the player's moves with Verevovera (a second engine per game)
  int preview_depth = 7;  // of the preview and the hint
  int review_depth = kReviewDepth;
  std::string web_root;   // the page's files; empty: no page, the API only
  bool verbose = false;   // the personas' own messages on standard error
  PersonaSettings persona;
  // A game's time when its request names none: both clocks, or else the
  // persona's time per move (none: no limit).
  std::optional<TimeControl> clock;
  std::optional<std::chrono::milliseconds> think_limit = kDefaultThinkLimit;
  // The personas play at a person's pace (serve turns it on unless --instant).
  bool human_pace = false;
  // The games database every game is kept in; none: nothing is kept.
  std::optional<std::string> db;
};

// An API answer other than success: the HTTP status and a message for people.
struct ApiError : std::runtime_error {
  ApiError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
  int status;
};

}  // namespace ai_players::app
