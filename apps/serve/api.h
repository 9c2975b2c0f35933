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

#include "games_db/game_store.h"
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

  // The player's stored games, newest first; `filter` as `games` takes it
  // ("persona", "result"). Each says whether it is being played here now.
  json saved_games(const GameFilter& filter);
  std::string saved_pgn(std::int64_t stored_id);
  // A stored game left unfinished (a restart, a closed page) played on here:
  // the persona rebuilt, the moves replayed. The game already played on
  // here when there is one. The persona's move, when it is its turn, is
  // asked for with reply().
  json continue_saved(std::int64_t stored_id);
  // The review of a stored game, as review() gives a game's: from the
  // database when it was reviewed before at this depth.
  json review_saved(std::int64_t stored_id);
  // The player's rating, its history and whom to play next (`target` 0 to 1).
  json rating(double target);

  GameTable& games() { return games_; }

 private:
  const ServeOptions& options_;
  // Declared before the games: their recorders write to it until they end.
  std::mutex store_mutex_;  // guards the store, every game's recorder and what follows
  std::optional<GameStore> store_;
  std::string store_trouble_;  // why games are no longer kept, once that happened
  std::map<std::int64_t, std::string> live_;  // stored id -> id of the game played here
  std::mutex continue_mutex_;  // one continuation at a time: never two games from one row
  GameTable games_;
  std::vector<StoredGame> read_saved(const GameFilter& filter);
  // A game set up as this server plays (its preview, engines and pace) in a
  // place of the table; its id.
  std::string start_game(HumanGameSetup setup);
  // The game played here from that row, if any.
  std::string live_id(std::int64_t stored_id);
  // Keeps the game as it stands; `leaving`: the player ended it unfinished.
  void keep(ServedGame& served, bool leaving = false);
  // The game's state as every call answers it, after keeping it.
  json shown(ServedGame& served);
  // Runs f on the store; a failure is said from then on and nothing more is kept.
  template <class F>
  void stored(F f);
  // One review per game, for the moves it was started with; dropped with its game.
  struct Review {
    std::weak_ptr<ServedGame> game;
    std::vector<std::string> moves;
    std::shared_ptr<ReviewJob> job;
    bool saved = false;  // a stored game's, with no game played here: kept until it is done
  };
  json review_of(const std::string& key, PgnGame pgn, std::weak_ptr<ServedGame> game,
                 std::optional<std::int64_t> stored_id);
  std::mutex reviews_mutex_;
  std::map<std::string, Review> reviews_;
};

// The request body as a JSON object; UserError for anything else.
json parse_body(const std::string& body);

// A preview as the page gets it; the move's score is null when it was not judged.
json judgement_json(const MoveJudgement& j);

}  // namespace ai_players::app
