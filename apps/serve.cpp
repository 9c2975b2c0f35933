#include "serve.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <type_traits>

#include <fmt/format.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "ai_players/core/analysis.h"
#include "ai_players/personas/safe_reply.h"
#include "ai_players/personas/verevovera.h"
#include "game.h"
#include "pgn.h"
#include "review.h"
#include "score_text.h"
#include "start_position.h"

namespace ai_players::app {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string side_name(int side) { return side == common::WHITE ? "white" : "black"; }

board::MovePtr same_move(const board::MoveList& legal, const std::string& coord) {
  for (const auto& m : legal)
    if (m->to_coord() == coord) return m;
  return nullptr;
}

json coords_of(const board::MoveList& legal) {
  json out = json::array();
  for (const auto& m : legal) out.push_back(m->to_coord());
  return out;
}

// An engine line (coordinates) in SAN from fen, as far as its moves are legal.
std::vector<std::string> san_line(const std::string& fen, const std::vector<std::string>& line) {
  std::vector<std::string> out;
  board::Board position(fen);
  for (const auto& coord : line) {
    const board::MoveList legal = position.legal_moves();
    const auto m = same_move(legal, coord);
    if (!m) break;
    out.push_back(m->to_SAN(legal));
    position.make_internal_move(*m);
  }
  return out;
}

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// One game against one persona. The persona and its adviser live on the
// game's own worker thread: the engines they start are bound to that thread,
// and a persona answers one request at a time.
class Game {
 public:
  Game(std::string id, std::string persona_name, int human_side, std::string start_fen,
       const ServeOptions& options)
      : id(std::move(id)),
        persona_name(std::move(persona_name)),
        human_side(human_side),
        start_fen(std::move(start_fen)),
        board(this->start_fen),
        last_active(Clock::now()),
        options_(options) {
    std::future<void> ready = ready_.get_future();
    worker_ = std::thread([this] { work(); });
    try {
      ready.get();
    } catch (...) {
      worker_.join();
      throw;
    }
  }

  ~Game() {
    end();
    worker_.join();
  }
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  // Cuts the running search short and lets the worker finish; later requests
  // to the game fail.
  void end() {
    {
      const std::lock_guard lock(jobs_mutex_);
      stopping_ = true;
    }
    jobs_cv_.notify_all();
    const std::lock_guard lock(engines_mutex_);
    if (persona_) persona_->interrupt();
    if (adviser_) adviser_->interrupt();
  }

  // Runs f on the worker (f may use persona() and adviser()) and waits for it.
  template <class F>
  std::invoke_result_t<F> on_worker(F f) {
    using R = std::invoke_result_t<F>;
    auto task = std::make_shared<std::packaged_task<R()>>(std::move(f));
    std::future<R> result = task->get_future();
    {
      const std::lock_guard lock(jobs_mutex_);
      if (stopping_) throw ApiError(410, "the game has ended");
      jobs_.push_back([task] { (*task)(); });
    }
    jobs_cv_.notify_one();
    try {
      return result.get();
    } catch (const std::future_error&) {
      throw ApiError(410, "the game has ended");
    }
  }

  // Only on the worker.
  AI_BASIC& persona() { return *persona_; }
  Verevovera* adviser() { return dynamic_cast<Verevovera*>(adviser_.get()); }

  const std::string id;
  const std::string persona_name;
  const int human_side;
  const std::string start_fen;

  std::mutex mutex;  // guards what follows
  board::Board board;
  board::MoveList history;
  std::vector<std::string> san;
  std::optional<Outcome> outcome;
  std::string final_comment;
  bool busy = false;  // the persona is choosing its reply
  Clock::time_point last_active;

  bool humans_turn() const { return board.side_to_move == human_side; }

 private:
  void work() {
    try {
      auto persona = make_persona(persona_name, options_.persona);
      std::unique_ptr<AI_BASIC> adviser;
      if (options_.preview) adviser = make_persona("Verevovera", options_.persona);
      const std::lock_guard lock(engines_mutex_);
      persona_ = std::move(persona);
      adviser_ = std::move(adviser);
    } catch (...) {
      ready_.set_exception(std::current_exception());
      return;
    }
    ready_.set_value();
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(jobs_mutex_);
        jobs_cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) break;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
    {
      const std::lock_guard lock(jobs_mutex_);
      jobs_.clear();  // their waiters learn that the game has ended
    }
    const std::lock_guard lock(engines_mutex_);
    persona_.reset();
    adviser_.reset();
  }

  const ServeOptions& options_;
  std::promise<void> ready_;
  std::thread worker_;
  std::mutex jobs_mutex_;
  std::condition_variable jobs_cv_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::mutex engines_mutex_;
  std::unique_ptr<AI_BASIC> persona_;
  std::unique_ptr<AI_BASIC> adviser_;
};

std::string preview_sentence(const Preview& p, const std::string& played_san, const std::string& best_san) {
  if (played_san == best_san)
    return fmt::format("Your move {} is the engine's best ({})", played_san, score_text(p.best_score));
  return fmt::format("Your move {} scored {} against the engine's best {} ({})", played_san,
                     score_text(p.actual_score), best_san, score_text(p.best_score));
}

std::string persona_strength(const std::string& name) {
  for (const auto& e : persona_entries())
    if (e.name == name) return e.strength;
  const auto colon = name.find(':');
  return colon == std::string::npos ? std::string() : name.substr(colon + 1);
}

// The game's state as every answer carries it; the caller holds game.mutex.
json state_of(const Game& game) {
  json out;
  out["id"] = game.id;
  out["persona"] = game.persona_name;
  out["strength"] = persona_strength(game.persona_name);
  out["color"] = side_name(game.human_side);
  out["start_fen"] = game.start_fen;
  out["fen"] = game.board.export_FEN();
  out["turn"] = side_name(game.board.side_to_move);
  out["moves"] = game.san;
  json coords = json::array();
  for (const auto& m : game.history) coords.push_back(m->to_coord());
  out["moves_coord"] = coords;
  const bool can_move = !game.outcome && !game.busy && game.humans_turn();
  out["legal"] = can_move ? coords_of(game.board.legal_moves()) : json::array();
  out["thinking"] = game.busy;
  if (game.outcome)
    out["result"] = {{"result", game.outcome->result},
                     {"termination", game.outcome->termination},
                     {"comment", game.final_comment}};
  else
    out["result"] = nullptr;
  return out;
}

// Plays the persona's reply on the worker and records it; the game is busy
// (so nobody else changes it) until then.
json persona_reply(Game& game) {
  board::MoveList history, legal;
  {
    const std::lock_guard lock(game.mutex);
    history = game.history;
    legal = game.board.legal_moves();
  }
  const auto started = Clock::now();
  std::optional<SafeReply> reply;
  std::string failure;
  try {
    reply = reply_safely(game.persona(), history, legal, game.start_fen);
  } catch (const std::exception& e) {
    failure = failure_text(e);
  }
  const long long think_ms = elapsed_ms(started);
  const std::lock_guard lock(game.mutex);
  game.busy = false;
  game.last_active = Clock::now();
  if (!reply) {
    game.outcome = Outcome{"*", "abandoned"};
    game.final_comment = game.persona_name + " could not move: " + failure;
    return nullptr;
  }
  const auto move = same_move(legal, reply->move->to_coord());
  json out{{"move", move->to_coord()}, {"san", move->to_SAN(legal)}, {"think_ms", think_ms}};
  if (!reply->note.empty()) out["note"] = reply->note;
  game.board.make_internal_move(*move);
  game.history.push_back(move);
  game.san.push_back(out["san"]);
  game.outcome = outcome_of(game.board);
  return out;
}

std::string new_id() {
  static std::mutex mutex;
  static std::mt19937_64 gen{std::random_device{}()};
  const std::lock_guard lock(mutex);
  return fmt::format("{:012x}", gen() & 0xffffffffffffULL);
}

json parse_body(const httplib::Request& req) {
  if (req.body.empty()) return json::object();
  try {
    json body = json::parse(req.body);
    if (!body.is_object()) throw ApiError(400, "the request body must be a JSON object");
    return body;
  } catch (const json::parse_error& e) {
    throw ApiError(400, std::string("bad JSON: ") + e.what());
  }
}

std::string string_field(const json& body, const char* name, const std::string& fallback = {}) {
  const auto it = body.find(name);
  if (it == body.end() || it->is_null()) return fallback;
  if (!it->is_string()) throw ApiError(400, fmt::format("\"{}\" must be a string", name));
  return it->get<std::string>();
}

}  // namespace

struct GameServer::Impl {
  explicit Impl(ServeOptions o) : options(std::move(o)) {}

  ServeOptions options;
  httplib::Server http;
  mutable std::mutex games_mutex;
  std::map<std::string, std::shared_ptr<Game>> games;
  int starting = 0;  // games being set up, counted against max_games
  bool closing = false;
  std::condition_variable reaper_cv;
  std::thread reaper;

  std::shared_ptr<Game> find(const std::string& id) {
    const std::lock_guard lock(games_mutex);
    const auto it = games.find(id);
    if (it == games.end()) throw ApiError(404, fmt::format("no game {}", id));
    return it->second;
  }

  // Takes the game out of the table and stops it; the last holder joins its worker.
  void end_game(const std::string& id) {
    std::shared_ptr<Game> game;
    {
      const std::lock_guard lock(games_mutex);
      const auto it = games.find(id);
      if (it == games.end()) throw ApiError(404, fmt::format("no game {}", id));
      game = std::move(it->second);
      games.erase(it);
    }
    game->end();
  }

  json create(const json& body) {
    const std::string name = [&] {
      try {
        return canonical_persona_name(string_field(body, "persona"));
      } catch (const PersonaError& e) {
        throw ApiError(400, e.what());
      }
    }();
    const std::string color = string_field(body, "color", "white");
    if (color != "white" && color != "black") throw ApiError(400, "\"color\" must be \"white\" or \"black\"");
    const std::string start_fen = [&] {
      try {
        return checked_start_fen(string_field(body, "fen"));
      } catch (const std::exception& e) {
        throw ApiError(400, e.what());
      }
    }();
    {
      const std::lock_guard lock(games_mutex);
      if (closing) throw ApiError(503, "the server is shutting down");
      if (static_cast<int>(games.size()) + starting >= options.max_games)
        throw ApiError(503, fmt::format("{} games are running, the most this server allows; end one first",
                                        options.max_games));
      ++starting;
    }
    std::shared_ptr<Game> game;
    try {
      game = std::make_shared<Game>(new_id(), name, color == "white" ? common::WHITE : common::BLACK,
                                    start_fen, options);
    } catch (const PersonaError& e) {
      const std::lock_guard lock(games_mutex);
      --starting;
      throw ApiError(400, e.what());
    } catch (const std::exception& e) {
      const std::lock_guard lock(games_mutex);
      --starting;
      throw ApiError(503, name + " could not start its engine: " + failure_text(e));
    }
    {
      const std::lock_guard lock(games_mutex);
      --starting;
      games[game->id] = game;
    }
    json reply = nullptr;
    {
      const std::lock_guard lock(game->mutex);
      game->outcome = outcome_of(game->board);
      game->busy = !game->outcome && !game->humans_turn();
    }
    if (game->busy) reply = game->on_worker([&] { return persona_reply(*game); });
    const std::lock_guard lock(game->mutex);
    json out = state_of(*game);
    out["reply"] = reply;
    return out;
  }

  json move(const std::string& id, const json& body) {
    const auto game = find(id);
    const std::string text = string_field(body, "move");
    if (text.empty()) throw ApiError(400, "\"move\" is missing (coordinates like e2e4, or SAN like Nf3)");
    board::MoveList before, legal;
    board::MovePtr move;
    std::string played_san, fen_before;
    {
      const std::lock_guard lock(game->mutex);
      game->last_active = Clock::now();
      if (game->outcome) throw ApiError(409, "the game is over");
      if (game->busy) throw ApiError(409, game->persona_name + " is still choosing its move");
      if (!game->humans_turn()) throw ApiError(409, "it is not your turn");
      legal = game->board.legal_moves();
      try {
        move = same_move(legal, game->board.parse_move(text)->to_coord());
      } catch (const board::IllegalMoveError& e) {
        throw ApiError(400, fmt::format("'{}' is not a legal move here: {}", text, e.what()));
      }
      before = game->history;
      fen_before = game->board.export_FEN();
      played_san = move->to_SAN(legal);
      game->board.make_internal_move(*move);
      game->history.push_back(move);
      game->san.push_back(played_san);
      game->outcome = outcome_of(game->board);
      game->busy = !game->outcome;
    }
    struct Answer {
      json preview = nullptr;
      json reply = nullptr;
      long long preview_ms = 0;
    };
    const Answer answer = game->on_worker([&] {
      Answer a;
      if (Verevovera* adviser = game->adviser()) {
        const auto started = Clock::now();
        try {
          const Preview p = adviser->Ask_For_Preview(before, *move, legal, game->start_fen, options.preview_depth);
          const auto best_line = san_line(fen_before, p.best_line);
          const std::string best_san = best_line.empty() ? "?" : best_line.front();
          a.preview = {{"text", preview_sentence(p, played_san, best_san)},
                       {"move", played_san},
                       {"score", p.actual_score},
                       {"score_text", score_text(p.actual_score)},
                       {"best", best_san},
                       {"best_score", p.best_score},
                       {"best_score_text", score_text(p.best_score)},
                       {"best_line", best_line}};
        } catch (const std::exception& e) {
          a.preview = {{"text", "No preview: " + failure_text(e)}};
        }
        a.preview_ms = elapsed_ms(started);
      }
      bool reply_due;
      {
        const std::lock_guard lock(game->mutex);
        reply_due = game->busy;
      }
      if (reply_due) a.reply = persona_reply(*game);
      return a;
    });
    const std::lock_guard lock(game->mutex);
    json out = state_of(*game);
    out["move"] = {{"move", move->to_coord()}, {"san", played_san}};
    out["preview"] = answer.preview;
    out["reply"] = answer.reply;
    out["preview_ms"] = answer.preview_ms;
    return out;
  }

  json undo(const std::string& id) {
    const auto game = find(id);
    const std::lock_guard lock(game->mutex);
    game->last_active = Clock::now();
    if (game->busy) throw ApiError(409, game->persona_name + " is still choosing its move");
    const int first_mover = board::Board(game->start_fen).side_to_move;
    std::optional<std::size_t> last_own;
    for (std::size_t i = 0; i < game->history.size(); ++i) {
      const int mover = i % 2 == 0 ? first_mover : -first_mover;
      if (mover == game->human_side) last_own = i;
    }
    if (!last_own) throw ApiError(400, "there is no move of yours to take back");
    game->history.resize(*last_own);
    game->san.resize(*last_own);
    // Replayed from the start so that the repetition count stays right.
    game->board = board::Board(game->start_fen);
    for (const auto& m : game->history) game->board.make_internal_move(*m);
    game->outcome.reset();
    game->final_comment.clear();
    return state_of(*game);
  }

  json resign(const std::string& id) {
    const auto game = find(id);
    const std::lock_guard lock(game->mutex);
    game->last_active = Clock::now();
    if (game->outcome) throw ApiError(409, "the game is over");
    if (game->busy) throw ApiError(409, game->persona_name + " is still choosing its move");
    game->outcome = Outcome{game->human_side == common::WHITE ? "0-1" : "1-0", "resignation"};
    game->final_comment = (game->human_side == common::WHITE ? "White" : "Black") + std::string(" resigns");
    return state_of(*game);
  }

  json hint(const std::string& id) {
    const auto game = find(id);
    board::MoveList history, legal;
    std::string fen;
    {
      const std::lock_guard lock(game->mutex);
      game->last_active = Clock::now();
      if (game->outcome) throw ApiError(409, "the game is over");
      if (game->busy || !game->humans_turn()) throw ApiError(409, "it is not your turn");
      history = game->history;
      legal = game->board.legal_moves();
      fen = game->board.export_FEN();
    }
    return game->on_worker([&]() -> json {
      Verevovera* adviser = game->adviser();
      if (!adviser) throw ApiError(503, "hints need the preview engine, which this server runs without");
      // Judging any move tells the engine's best one too.
      const Preview p = adviser->Ask_For_Preview(history, *legal.front(), legal, game->start_fen,
                                                 options.preview_depth);
      const auto line = san_line(fen, p.best_line);
      if (p.best_line.empty() || line.empty()) throw ApiError(500, "the engine gave no best move");
      return {{"move", p.best_line.front()},
              {"san", line.front()},
              {"score", p.best_score},
              {"score_text", score_text(p.best_score)},
              {"line", line},
              {"text", fmt::format("The engine's best: {} ({})", line.front(), score_text(p.best_score))}};
    });
  }

  PgnGame pgn_of(const Game& game) const {
    PgnGame pgn;
    pgn.event = "ai-players serve";
    pgn.site = "localhost";
    pgn.date = pgn_date_today();
    const std::string player = "You";
    const bool white = game.human_side == common::WHITE;
    pgn.white = white ? player : game.persona_name;
    pgn.black = white ? game.persona_name : player;
    pgn.result = game.outcome ? game.outcome->result : "*";
    if (game.start_fen != common::FEN_New_Game) pgn.fen = game.start_fen;
    if (game.outcome)
      pgn.termination = game.outcome->termination == "resignation" ? "normal" : pgn_termination(game.outcome->termination);
    const std::string strength = persona_strength(game.persona_name);
    if (!strength.empty()) pgn.more_tags.emplace_back(white ? "BlackElo" : "WhiteElo", strength);
    pgn.san = game.san;
    pgn.final_comment = game.final_comment;
    return pgn;
  }

  std::string pgn(const std::string& id) {
    const auto game = find(id);
    const std::lock_guard lock(game->mutex);
    return to_pgn(pgn_of(*game));
  }

  json review(const std::string& id) {
    const auto game = find(id);
    PgnRecord record;
    {
      const std::lock_guard lock(game->mutex);
      game->last_active = Clock::now();
      if (game->busy) throw ApiError(409, game->persona_name + " is still choosing its move");
      if (game->san.empty()) throw ApiError(400, "there are no moves to review");
      const PgnGame pgn = pgn_of(*game);
      record.tags = {{"Event", pgn.event}, {"Site", pgn.site},   {"Date", pgn.date},
                     {"Round", pgn.round}, {"White", pgn.white}, {"Black", pgn.black},
                     {"Result", pgn.result}};
      if (!pgn.fen.empty()) {
        record.tags.emplace_back("SetUp", "1");
        record.tags.emplace_back("FEN", pgn.fen);
      }
      record.san = game->san;
      record.result = pgn.result;
    }
    return game->on_worker([&]() -> json {
      Verevovera* adviser = game->adviser();
      if (!adviser) throw ApiError(503, "the review needs the preview engine, which this server runs without");
      const int depth = options.preview_depth;
      const GameReview r = review_game(
          1, record,
          [&](const board::MoveList& history, const board::Move& move, const board::MoveList& legal,
              const std::string& fen) { return adviser->Ask_For_Preview(history, move, legal, fen, depth); },
          depth);
      json moves = json::array();
      for (const auto& m : r.moves)
        moves.push_back({{"number", m.number},
                         {"side", side_name(m.side)},
                         {"san", m.san},
                         {"best", m.best_san},
                         {"loss", m.loss},
                         {"white_score", m.white_score()},
                         {"judgement", judgement_name(m.judgement)}});
      return {{"summary", summary_text(r)}, {"svg", evaluation_svg(r)}, {"pgn", annotated_pgn(r)},
              {"moves", moves}};
    });
  }

  json personas() const {
    json out = json::array();
    for (const auto& e : persona_entries())
      out.push_back({{"name", e.name},
                     {"strength", e.strength},
                     {"gang", e.gang},
                     {"rate", e.rate},
                     {"buildable", e.buildable}});
    return out;
  }

  void reap_idle() {
    std::unique_lock lock(games_mutex);
    const auto period = std::clamp<std::chrono::milliseconds>(options.idle_timeout / 4, std::chrono::milliseconds(50),
                                                              std::chrono::milliseconds(5000));
    while (!closing) {
      reaper_cv.wait_for(lock, period);
      std::vector<std::shared_ptr<Game>> idle;
      for (auto it = games.begin(); it != games.end();) {
        bool stale;
        {
          const std::lock_guard game_lock(it->second->mutex);
          stale = !it->second->busy && Clock::now() - it->second->last_active > options.idle_timeout;
        }
        if (stale) {
          idle.push_back(std::move(it->second));
          it = games.erase(it);
        } else {
          ++it;
        }
      }
      if (idle.empty()) continue;
      lock.unlock();
      for (const auto& g : idle) {
        if (options.verbose) std::cerr << "serve: game " << g->id << " was idle and has ended\n";
        g->end();
      }
      idle.clear();  // joins their workers, outside the table's lock
      lock.lock();
    }
  }

  void close() {
    std::map<std::string, std::shared_ptr<Game>> ending;
    {
      const std::lock_guard lock(games_mutex);
      closing = true;
      ending.swap(games);
    }
    reaper_cv.notify_all();
    for (const auto& [id, game] : ending) game->end();
    http.stop();
  }

  void routes();
};

namespace {

// Runs a handler; its ApiError (or any failure) becomes a JSON error answer.
void answer(httplib::Response& res, const std::function<json()>& handler) {
  try {
    res.set_content(handler().dump(), "application/json");
    return;
  } catch (const ApiError& e) {
    res.status = e.status;
    res.set_content(json{{"error", e.what()}}.dump(), "application/json");
  } catch (const std::exception& e) {
    res.status = 500;
    res.set_content(json{{"error", failure_text(e)}}.dump(), "application/json");
  }
}

}  // namespace

void GameServer::Impl::routes() {
  const std::string game_path = R"(/api/games/([^/]+))";
  http.Get("/api/personas", [this](const httplib::Request&, httplib::Response& res) {
    answer(res, [&] { return personas(); });
  });
  http.Post("/api/games", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return create(parse_body(req)); });
    if (res.status == 200) res.status = 201;
  });
  http.Get(game_path, [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] {
      const auto game = find(req.matches[1]);
      const std::lock_guard lock(game->mutex);
      return state_of(*game);
    });
  });
  http.Delete(game_path, [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] {
      end_game(req.matches[1]);
      return json{{"deleted", req.matches[1]}};
    });
  });
  http.Post(game_path + "/moves", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return move(req.matches[1], parse_body(req)); });
  });
  http.Post(game_path + "/undo", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return undo(req.matches[1]); });
  });
  http.Post(game_path + "/resign", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return resign(req.matches[1]); });
  });
  http.Get(game_path + "/hint", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return hint(req.matches[1]); });
  });
  http.Post(game_path + "/review", [this](const httplib::Request& req, httplib::Response& res) {
    answer(res, [&] { return review(req.matches[1]); });
  });
  http.Get(game_path + "/pgn", [this](const httplib::Request& req, httplib::Response& res) {
    try {
      res.set_content(pgn(req.matches[1]), "application/x-chess-pgn");
      res.set_header("Content-Disposition", fmt::format("attachment; filename=\"game-{}.pgn\"", req.matches[1].str()));
    } catch (const ApiError& e) {
      res.status = e.status;
      res.set_content(json{{"error", e.what()}}.dump(), "application/json");
    }
  });
  // Anything else under /api is an unknown call, not a missing file.
  http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path.rfind("/api/", 0) != 0 || !res.body.empty()) return;
    const std::string message = res.status == 404 ? fmt::format("no such call: {} {}", req.method, req.path)
                                                  : fmt::format("HTTP status {} for {} {}", res.status,
                                                                req.method, req.path);
    res.set_content(json{{"error", message}}.dump(), "application/json");
  });
  if (!options.web_root.empty() && !http.set_mount_point("/", options.web_root))
    throw std::runtime_error("the page's folder " + options.web_root + " does not exist");
}

GameServer::GameServer(ServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  if (impl_->options.max_games < 1) throw std::invalid_argument("--max-games must be at least 1");
  // A reply keeps its request's thread waiting; every game may have one
  // waiting while the page and the other calls are still answered.
  const std::size_t threads = 2 * static_cast<std::size_t>(impl_->options.max_games) + 8;
  impl_->http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  impl_->http.set_keep_alive_timeout(2);
  // Headers and body go out in separate writes; without this, Nagle and the
  // client's delayed ACK add 40 ms to every answer.
  impl_->http.set_tcp_nodelay(true);
  impl_->routes();
}

GameServer::~GameServer() {
  impl_->close();
  if (impl_->reaper.joinable()) impl_->reaper.join();
}

int GameServer::bind() {
  const int port = impl_->options.port == 0 ? impl_->http.bind_to_any_port(impl_->options.host)
                                            : (impl_->http.bind_to_port(impl_->options.host, impl_->options.port)
                                                   ? impl_->options.port
                                                   : -1);
  if (port < 0)
    throw std::runtime_error(
        fmt::format("cannot listen on {}:{} (in use, or not an address of this machine)", impl_->options.host,
                    impl_->options.port));
  return port;
}

void GameServer::run() {
  impl_->reaper = std::thread([this] { impl_->reap_idle(); });
  impl_->http.listen_after_bind();
}

void GameServer::stop() { impl_->close(); }

std::size_t GameServer::game_count() const {
  const std::lock_guard lock(impl_->games_mutex);
  return impl_->games.size();
}

std::string default_web_root() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec)
    for (const auto& candidate : {exe.parent_path() / "web", exe.parent_path().parent_path() / "web"})
      if (std::filesystem::is_regular_file(candidate / "index.html")) return candidate.string();
  return {};
}

}  // namespace ai_players::app
