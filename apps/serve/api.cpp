#include "serve/api.h"

#include <random>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/start_position.h"
#include "games_db/player_rating.h"
#include "players/measured_ratings.h"
#include "review/review.h"
#include "review/review_engine.h"
#include "review/review_run.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

std::string side_name(int side) { return side == common::WHITE ? "white" : "black"; }

GameFilter one_game(std::int64_t id) {
  GameFilter f;
  f.id = id;
  return f;
}

std::string string_field(const json& body, const char* name, const std::string& fallback = {}) {
  const auto it = body.find(name);
  if (it == body.end() || it->is_null()) return fallback;
  if (!it->is_string()) throw UserError(fmt::format("\"{}\" must be a string", name));
  return it->get<std::string>();
}

json coords_of(const board::MoveList& moves) {
  json out = json::array();
  for (const auto& m : moves) out.push_back(m->to_coord());
  return out;
}

// The FEN before the first move and after every move, for stepping through the game.
json positions_of(const PlayedGame& record) {
  json out = json::array();
  board::Board position(record.start_fen);
  out.push_back(position.export_FEN());
  for (const auto& m : record.moves) {
    position.make_internal_move(*m);
    out.push_back(position.export_FEN());
  }
  return out;
}

json time_of(const HumanGame& game, const HumanGame::View& v) {
  json out{{"think_limit_ms", nullptr}, {"tc", nullptr}};
  if (const auto limit = game.think_limit()) out["think_limit_ms"] = limit->count();
  if (game.clock()) out["tc"] = game.clock()->pgn();
  if (v.white_left)
    out["clock"] = {{"white_ms", v.white_left->count()}, {"black_ms", v.black_left->count()}, {"runs", v.clock_runs}};
  if (v.thinking)
    out["thinking"] = {{"ms", v.thinking_for.count()}, {"search", v.engine.searches}, {"depth", v.engine.depth}};
  return out;
}

json state_of(const ServedGame& served) {
  HumanGame& game = *served.game;
  game.flag_check();
  const HumanGame::View v = game.view();
  json out{{"id", served.id},
           {"persona", game.persona_name()},
           {"strength", game.persona_strength()},
           {"color", side_name(game.human_side())},
           {"start_fen", v.record.start_fen},
           {"fen", v.fen},
           {"turn", side_name(v.side_to_move)},
           {"moves", v.record.san},
           {"moves_coord", coords_of(v.record.moves)},
           {"positions", positions_of(v.record)},
           {"legal", coords_of(v.legal)},
           {"thinking", v.thinking},
           {"time", time_of(game, v)},
           {"result", nullptr}};
  if (v.record.outcome)
    out["result"] = {{"result", v.record.outcome->result},
                     {"termination", termination_text(v.record.outcome->why)},
                     {"comment", v.record.final_comment}};
  return out;
}

// The time a game is played at: "tc" (both clocks, "300+5"), or "movetime_ms"
// (the persona's time per move; 0: no limit), or the server's default.
void read_time(const json& body, const ServeOptions& options, HumanGameSetup& setup) {
  const std::string tc = string_field(body, "tc");
  const auto movetime = body.find("movetime_ms");
  const bool has_movetime = movetime != body.end() && !movetime->is_null();
  if (!tc.empty() && has_movetime) throw UserError("give either \"tc\" or \"movetime_ms\", not both");
  setup.clock = options.clock;
  setup.think_limit = options.think_limit;
  if (!tc.empty()) {
    setup.clock = parse_time_control(tc);
  } else if (has_movetime) {
    if (!movetime->is_number_integer() || *movetime < 0 || *movetime > 86400000)
      throw UserError("\"movetime_ms\" must be a whole number of milliseconds from 0 (no limit) to 86400000");
    setup.clock.reset();
    setup.think_limit = *movetime == 0 ? std::nullopt : std::optional(milliseconds(movetime->get<long long>()));
  }
}


json reply_json(const std::optional<PersonaMove>& reply) {
  if (!reply) return nullptr;
  json out{{"move", reply->coord}, {"san", reply->san}, {"think_ms", reply->thought.count()}};
  if (!reply->note.empty()) out["note"] = reply->note;
  if (reply->cut_short) out["cut_short"] = true;
  return out;
}

long long ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The position after the move: the review's board shows it, the move marked.
std::string fen_after(const MoveReview& m) {
  board::Board position(m.fen);
  for (const auto& legal : position.legal_moves())
    if (legal->to_coord() == m.coord) {
      position.make_internal_move(*legal);
      break;
    }
  return position.export_FEN();
}

json move_json(const MoveReview& m) {
  return {{"number", m.number},
          {"side", side_name(m.side)},
          {"san", m.san},
          {"coord", m.coord},
          {"fen", m.fen},
          {"fen_after", fen_after(m)},
          {"best", m.best_san},
          {"best_coord", m.best_coord},
          {"best_line", m.best_line},
          {"loss", m.loss},
          {"white_score", m.white_score()},
          {"eval", white_eval(m).eval_text()},
          {"judgement", judgement_name(m.judgement)}};
}

// A running review's progress, or the finished review.
json review_json(const ReviewJob::Status& status) {
  if (!status.review) {
    json judged = json::array();  // every move, each with its mark as soon as it is judged
    for (std::size_t i = 0; i < status.moves.size(); ++i) {
      const MoveReview& m = status.moves[i];
      judged.push_back(status.judged[i] ? move_json(m)
                                        : json{{"number", m.number}, {"side", side_name(m.side)}, {"san", m.san},
                                               {"coord", m.coord}, {"judgement", nullptr}});
    }
    return {{"status", "running"},
            {"done", status.done},
            {"total", status.total},
            {"seconds", status.seconds},
            {"seconds_left", status.seconds_left ? json(*status.seconds_left) : json(nullptr)},
            {"moves", judged}};
  }
  const GameReview& r = *status.review;
  json moves = json::array();
  for (const auto& m : r.moves) moves.push_back(move_json(m));
  return {{"status", "done"},       {"depth", r.depth},           {"seconds", status.seconds},
          {"summary", summary_text(r)}, {"svg", evaluation_svg(r)}, {"pgn", annotated_pgn(r)},
          {"moves", moves}};
}

}  // namespace

json judgement_json(const MoveJudgement& j) {
  return {{"text", j.text},
          {"move", j.played_san},
          {"score", j.judged ? json(j.played.value()) : json()},  // null: no time to judge it
          {"score_text", j.judged ? json(j.played.text()) : json()},
          {"best", j.best_san},
          {"best_score", j.best.value()},
          {"best_score_text", j.best.text()},
          {"best_line", j.best_line}};
}

json parse_body(const std::string& body) {
  if (body.empty()) return json::object();
  json parsed;
  try {
    parsed = json::parse(body);
  } catch (const json::parse_error& e) {
    throw UserError(std::string("the request body is not JSON: ") + e.what());
  }
  if (!parsed.is_object()) throw UserError("the request body must be a JSON object");
  return parsed;
}

// Said in every answer once the games database failed; the games go on.
constexpr const char* kNotKept = "Play goes on, but games are not kept from here on.";

GameApi::GameApi(const ServeOptions& options)
    : options_(options), games_(options.max_games, options.idle_timeout, options.verbose) {
  if (!options.db) return;
  try {
    store_.emplace(*options.db);
  } catch (const StoreError& e) {
    store_trouble_ = std::string(e.what()) + " " + kNotKept;
  }
}

template <class F>
void GameApi::stored(F f) {
  if (!store_ || !store_trouble_.empty()) return;
  try {
    f();
  } catch (const StoreError& e) {
    store_trouble_ = std::string(e.what()) + " " + kNotKept;
  }
}

void GameApi::keep(ServedGame& served, bool leaving) {
  const PlayedGame record = served.game->view().record;
  const std::lock_guard lock(store_mutex_);
  if (!served.recorder) return;
  stored([&] {
    served.recorder->keep(record, served.undos, served.hints);
    if (leaving) served.recorder->leave();
    if (const auto id = served.recorder->id()) live_[*id] = served.id;
  });
}

json GameApi::shown(ServedGame& served) {
  served.game->flag_check();
  keep(served);
  json out = state_of(served);
  const std::lock_guard lock(store_mutex_);
  if (!options_.db) {
    out["stored"] = nullptr;
  } else {
    const auto id = served.recorder ? served.recorder->id() : std::nullopt;
    out["stored"] = {{"id", id ? json(*id) : json(nullptr)},
                     {"error", store_trouble_.empty() ? json(nullptr) : json(store_trouble_)}};
  }
  return out;
}

json GameApi::personas() const {
  json out = json::array();
  for (const auto& e : offered_entries()) {
    const int strength = playing_strength(e, options_.persona);
    json entry{{"name", e.name}, {"strength", strength}, {"gang", gang_name(e.gang)}, {"rate", e.rate}, {"measured", nullptr}};
    if (const auto m = measured_rating(rated_name(e, strength)))
      entry["measured"] = {{"rating", std::lround(m->rating)}, {"margin", std::lround(m->margin)}, {"bound", m->bound},
                           {"text", measured_text(*m)}};
    out.push_back(entry);
  }
  return out;
}

json GameApi::defaults() const {
  return {{"think_limit_ms", options_.think_limit ? json(options_.think_limit->count()) : json(nullptr)},
          {"tc", options_.clock ? json(options_.clock->pgn()) : json(nullptr)}};
}

json GameApi::position(const json& body) const {
  const std::string fen = checked_start_fen(string_field(body, "fen"));
  const GameState start(fen);
  json out{{"fen", fen}, {"turn", side_name(start.side_to_move())}, {"result", nullptr}};
  if (start.over()) out["result"] = {{"result", start.record().outcome->result},
                                     {"termination", termination_text(start.record().outcome->why)}};
  return out;
}

std::string GameApi::start_game(HumanGameSetup setup) {
  setup.preview = options_.preview;
  setup.preview_depth = options_.preview_depth;
  setup.settings = options_.persona;
  setup.human_pace = options_.human_pace;
  setup.pace_seed = std::random_device{}();
  games_.reserve();
  std::unique_ptr<HumanGame> game;
  try {
    game = std::make_unique<HumanGame>(std::move(setup));
  } catch (...) {
    games_.add(nullptr);
    throw;
  }
  return games_.add(std::move(game));
}

json GameApi::create(const json& body, const std::function<bool()>& client_gone) {
  HumanGameSetup setup;
  setup.persona = playable_persona_name(string_field(body, "persona"));
  const std::string color = string_field(body, "color", "white");
  if (color != "white" && color != "black") throw UserError("\"color\" must be \"white\" or \"black\"");
  setup.human_side = color == "white" ? common::WHITE : common::BLACK;
  setup.start_fen = checked_start_fen(string_field(body, "fen"));
  read_time(body, options_, setup);
  const auto await_reply = body.find("await_reply");
  if (await_reply != body.end() && !await_reply->is_boolean()) throw UserError("\"await_reply\" must be true or false");
  // A game whose client has gone would hold its place until it is idle for long: none is kept.
  const auto check_client = [&client_gone] {
    if (client_gone && client_gone()) throw ApiError(400, "the client closed its connection before the game was set up");
  };
  check_client();
  const std::string id = start_game(std::move(setup));
  try {
    const auto served = games_.find(id);
    {
      const std::lock_guard lock(store_mutex_);
      stored([&] { served->recorder.emplace(*store_, person_game_header(*served->game, "serve")); });
    }
    check_client();
    json reply = nullptr;
    if (served->game->personas_turn() && (await_reply == body.end() || await_reply->get<bool>()))
      reply = reply_json(served->game->reply());
    check_client();
    json out = shown(*served);
    out["reply"] = reply;
    return out;
  } catch (...) {
    // The client learns no id from a failure: the game goes with it.
    try {
      games_.end(id);
    } catch (const ApiError&) {
      // ended meanwhile (the server stops)
    }
    throw;
  }
}

json GameApi::reply(const std::string& id) {
  const auto served = games_.find(id);
  if (!served->game->personas_turn()) throw NotNowError("it is not " + served->game->persona_name() + "'s turn");
  json reply = reply_json(served->game->reply());
  json out = shown(*served);
  out["reply"] = reply;
  return out;
}

json GameApi::state(const std::string& id) { return shown(*games_.find(id)); }

json GameApi::move(const std::string& id, const json& body) {
  const auto served = games_.find(id);
  HumanGame& game = *served->game;
  const std::string text = string_field(body, "move");
  if (text.empty()) throw UserError("\"move\" is missing (coordinates like e2e4, or SAN like Nf3)");
  const board::MovePtr move = game.read_move(text);
  const auto started = std::chrono::steady_clock::now();
  json preview = nullptr;
  try {
    if (const auto j = game.judge(*move)) preview = judgement_json(*j);
  } catch (const std::exception& e) {
    preview = {{"text", "No preview: " + failure_text(e)}};
  }
  const long long preview_ms = game.has_adviser() ? ms_since(started) : 0;
  const std::string san = move->to_SAN(game.view().legal);
  const auto await_reply = body.find("await_reply");
  if (await_reply != body.end() && !await_reply->is_boolean()) throw UserError("\"await_reply\" must be true or false");
  game.play_human(*move);
  keep(*served);  // the player's move is kept before the persona thinks
  const bool answer = await_reply == body.end() || await_reply->get<bool>();
  json reply = answer && game.personas_turn() ? reply_json(game.reply()) : json(nullptr);
  json out = shown(*served);
  out["move"] = {{"move", move->to_coord()}, {"san", san}};
  out["preview"] = preview;
  out["reply"] = reply;
  out["preview_ms"] = preview_ms;
  return out;
}

json GameApi::move_now(const std::string& id) {
  const auto served = games_.find(id);
  served->game->move_now();
  return shown(*served);
}

json GameApi::undo(const std::string& id) {
  const auto served = games_.find(id);
  served->game->undo();
  {
    const std::lock_guard lock(store_mutex_);
    ++served->undos;
  }
  return shown(*served);
}

json GameApi::resign(const std::string& id) {
  const auto served = games_.find(id);
  served->game->resign();
  return shown(*served);
}

json GameApi::draw(const std::string& id) {
  const auto served = games_.find(id);
  const DrawAnswer answer = served->game->offer_draw();
  json out = shown(*served);
  out["draw"] = {{"accepted", answer.accepted}, {"reason", answer.reason}};
  return out;
}

json GameApi::hint(const std::string& id) {
  const auto served = games_.find(id);
  const MoveJudgement j = served->game->hint();
  {
    const std::lock_guard lock(store_mutex_);
    ++served->hints;
  }
  keep(*served);
  return {{"move", j.best_coord},
          {"san", j.best_san},
          {"score", j.best.value()},
          {"score_text", j.best.text()},
          {"line", j.best_line},
          {"text", j.text}};
}

json GameApi::review(const std::string& id) {
  const auto served = games_.find(id);
  HumanGame& game = *served->game;
  if (game.view().thinking) throw NotNowError(game.persona_name() + " is still choosing its move");
  std::optional<std::int64_t> stored_id;
  {
    const std::lock_guard lock(store_mutex_);
    if (served->recorder) stored_id = served->recorder->id();
  }
  return review_of(id, game.pgn("ai-players serve", "localhost"), served, stored_id);
}

json GameApi::review_saved(std::int64_t stored_id) {
  const auto found = read_saved(one_game(stored_id));
  if (found.empty()) throw ApiError(404, fmt::format("there is no stored game {}", stored_id));
  return review_of(fmt::format("saved {}", stored_id), pgn_of(found.front()), {}, stored_id);
}

json GameApi::review_of(const std::string& key, PgnGame pgn, std::weak_ptr<ServedGame> game,
                        std::optional<std::int64_t> stored_id) {
  if (pgn.san.empty()) throw UserError("there are no moves to review");
  const std::vector<std::string> san = pgn.san;
  // Reviewed before: shown again without the engine.
  if (stored_id) {
    std::optional<std::string> kept;
    {
      const std::lock_guard lock(store_mutex_);
      stored([&] { kept = store_->review(*stored_id, options_.review_depth, san); });
    }
    if (kept) return json::parse(*kept);
  }
  std::shared_ptr<ReviewJob> job;
  std::vector<std::shared_ptr<ReviewJob>> dropped;  // stopped after the lock is let go
  {
    const std::lock_guard lock(reviews_mutex_);
    for (auto it = reviews_.begin(); it != reviews_.end();)
      if (!it->second.saved && it->second.game.expired()) dropped.push_back(std::move(it->second.job)), it = reviews_.erase(it);
      else ++it;
    Review& r = reviews_[key];
    if (!r.job || r.moves != san) {
      dropped.push_back(std::move(r.job));
      r = {game, san, nullptr, game.expired()};
      r.job = std::make_shared<ReviewJob>(std::move(pgn), engine_judges(engine_config(options_.persona, false),
                                                                        options_.persona.engine_timeout, options_.review_depth),
                                          default_review_jobs(), options_.review_depth);
    }
    job = r.job;
  }
  const auto forget = [&] {
    const std::lock_guard lock(reviews_mutex_);
    if (const auto it = reviews_.find(key); it != reviews_.end() && it->second.job == job) reviews_.erase(it);
  };
  json out;
  try {
    out = review_json(job->status());
  } catch (...) {
    forget();
    throw;  // the next call starts afresh
  }
  if (out["status"] == "done" && stored_id) {
    const std::lock_guard lock(store_mutex_);
    stored([&] { store_->keep_review(*stored_id, options_.review_depth, san, out.dump()); });
  }
  if (out["status"] == "done" && game.expired()) forget();  // a stored game's: kept in the database from now
  return out;
}

std::string GameApi::pgn(const std::string& id) {
  return to_pgn(games_.find(id)->game->pgn("ai-players serve", "localhost"));
}

json GameApi::end(const std::string& id) {
  keep(*games_.find(id), true);  // the player left it: kept, and never continued
  games_.end(id);
  return {{"deleted", id}};
}

namespace {

json saved_json(const StoredGame& g, const std::string& live) {
  const GameHeader& h = g.header;
  const auto points = g.player_points();
  return {{"id", g.id},
          {"started", h.started},
          {"white", h.white},
          {"black", h.black},
          {"persona", h.persona},
          {"strength", h.persona_elo ? json(*h.persona_elo) : json(nullptr)},
          {"color", h.human_side ? json(side_name(*h.human_side)) : json(nullptr)},
          {"tc", h.clock ? json(h.clock->pgn()) : json(nullptr)},
          {"result", g.record.outcome ? json(g.record.outcome->result) : json(nullptr)},
          {"termination", g.record.outcome ? json(termination_text(g.record.outcome->why)) : json(nullptr)},
          {"points", points ? json(*points) : json(nullptr)},
          {"plies", g.record.san.size()},
          {"ended", g.ended},
          {"live", live.empty() ? json(nullptr) : json(live)}};
}

}  // namespace

std::vector<StoredGame> GameApi::read_saved(const GameFilter& filter) {
  const std::lock_guard lock(store_mutex_);
  if (!options_.db) throw NotAvailableError("games are not kept: the server was started with --no-db");
  if (!store_trouble_.empty()) throw NotAvailableError(store_trouble_);
  try {
    return store_->games(filter);
  } catch (const StoreError& e) {
    throw NotAvailableError(e.what());
  }
}

std::string GameApi::live_id(std::int64_t stored_id) {
  std::string live;
  {
    const std::lock_guard lock(store_mutex_);
    if (const auto it = live_.find(stored_id); it != live_.end()) live = it->second;
  }
  if (live.empty() || games_.contains(live)) return live;
  const std::lock_guard lock(store_mutex_);
  live_.erase(stored_id);
  return {};
}

json GameApi::saved_games(const GameFilter& filter) {
  json out = json::array();
  for (const StoredGame& g : read_saved(filter)) out.push_back(saved_json(g, live_id(g.id)));
  return {{"games", out}};
}

std::string GameApi::saved_pgn(std::int64_t stored_id) {
  const auto found = read_saved(one_game(stored_id));
  if (found.empty()) throw ApiError(404, fmt::format("there is no stored game {}", stored_id));
  return to_pgn(pgn_of(found.front()));
}

json GameApi::continue_saved(std::int64_t stored_id) {
  const std::lock_guard one_at_a_time(continue_mutex_);
  if (const std::string live = live_id(stored_id); !live.empty()) return shown(*games_.find(live));
  const auto found = read_saved(one_game(stored_id));
  if (found.empty()) throw ApiError(404, fmt::format("there is no stored game {}", stored_id));
  const StoredGame& g = found.front();
  if (g.ended) throw NotNowError(fmt::format("game {} is over", stored_id));
  if (!g.header.human_side || g.header.persona.empty())
    throw UserError(fmt::format("game {} was not played by a person against a persona", stored_id));
  HumanGameSetup setup;
  setup.persona = g.header.persona;
  setup.human_side = *g.header.human_side;
  setup.start_fen = g.header.start_fen;
  setup.clock = g.header.clock;  // a fresh clock: the time left was not kept
  setup.think_limit = options_.think_limit;
  setup.moves = g.record.san;
  const auto served = games_.find(start_game(std::move(setup)));
  {
    const std::lock_guard lock(store_mutex_);
    served->undos = g.undos, served->hints = g.hints;
    stored([&] { served->recorder.emplace(*store_, g); });
    live_[stored_id] = served->id;
  }
  return shown(*served);
}

json GameApi::rating(double target) {
  const auto games = read_saved({});
  const auto& measured = measured_ratings();
  const PlayerStanding standing = rate_player(games, measured);
  const auto rating_json = [](const PlayerRating& r) {
    return json{{"rating", std::lround(r.rating)}, {"low", std::lround(r.low)}, {"high", std::lround(r.high)},
                {"bound", r.bound}, {"games", r.games}, {"points", r.points()}};
  };
  json history = json::array();
  for (const RatingPoint& p : rating_history(games, measured))
  {
    json point = rating_json(p.rating);
    point["game"] = p.game_id;
    point["date"] = p.date;
    history.push_back(point);
  }
  json skipped = json::array();
  for (const SkippedGame& g : standing.skipped) skipped.push_back({{"game", g.id}, {"reason", g.reason}});
  json out{{"rating", standing.rating ? rating_json(*standing.rating) : json(nullptr)},
           {"text", standing_text(standing)},
           {"history", history},
           {"skipped", skipped},
           {"suggestion", nullptr}};
  const double player = standing.rating ? standing.rating->rating : kNewPlayerRating;
  if (const auto next = suggest_opponent(player, target, measured))
    out["suggestion"] = {{"persona", next->name}, {"rating", std::lround(next->rating)},
                         {"expected", next->expected}, {"text", suggestion_text(*next, standing)}};
  return out;
}

}  // namespace ai_players::app
