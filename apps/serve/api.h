// The JSON API of `serve`: each call as a function from the request's body
// to the answer's. Failures are thrown (UserError, NotNowError, ApiError,
// PersonaError, EngineError); the server turns them into HTTP statuses in one place.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "review/review_job.h"

#include "serve/game_table.h"
#include "serve/serve_options.h"

namespace ai_players::app {

using json = nlohmann::json;

class GameApi {
 public:
  explicit GameApi(const ServeOptions& options);

  json personas() const;
  // The time a game is played at when its request names none.
  json defaults() const;
  // Checks a start position without touching any game.
  json position(const json& body) const;
  // client_gone: whether the client has left; a game it would never learn of is not kept.
  json create(const json& body, const std::function<bool()>& client_gone = {});
  json state(const std::string& id);
  json move(const std::string& id, const json& body);
  json move_now(const std::string& id);
  // The persona's move when it is its turn (a game created with "await_reply": false).
  json reply(const std::string& id);
  json undo(const std::string& id);
  json resign(const std::string& id);
  json draw(const std::string& id);
  json hint(const std::string& id);
  // Starts the review of the game as it stands, or says how the one
  // started is going; once it is done, the review itself.
  json review(const std::string& id);
  std::string pgn(const std::string& id);
  json end(const std::string& id);

  GameTable& games() { return games_; }

 private:
  const ServeOptions& options_;
  GameTable games_;
  // One review per game, for the moves it was started with; dropped with its game.
  struct Review {
    std::weak_ptr<ServedGame> game;
    std::vector<std::string> moves;
    std::shared_ptr<ReviewJob> job;
  };
  std::mutex reviews_mutex_;
  std::map<std::string, Review> reviews_;
};

// The request body as a JSON object; UserError for anything else.
json parse_body(const std::string& body);

// A preview as the page gets it; the move's score is null when it was not judged.
json judgement_json(const MoveJudgement& j);

}  // namespace ai_players::app
