#include "serve/api.h"

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/start_position.h"
#include "players/measured_ratings.h"
#include "review/review.h"
#include "review/review_engine.h"
#include "review/review_run.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

std::string side_name(int side) { return side == common::WHITE ? "white" : "black"; }

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

json state_of(const ServedGame& served) {
  const HumanGame& game = *served.game;
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
           {"legal", coords_of(v.legal)},
           {"thinking", v.thinking},
           {"result", nullptr}};
  if (v.white_left) out["clock"] = {{"white_ms", v.white_left->count()}, {"black_ms", v.black_left->count()}};
  if (v.record.outcome)
    out["result"] = {{"result", v.record.outcome->result},
                     {"termination", termination_text(v.record.outcome->why)},
                     {"comment", v.record.final_comment}};
  return out;
}

json judgement_json(const MoveJudgement& j) {
  return {{"text", j.text},
          {"move", j.played_san},
          {"score", j.played.value()},
          {"score_text", j.played.text()},
          {"best", j.best_san},
          {"best_score", j.best.value()},
          {"best_score_text", j.best.text()},
          {"best_line", j.best_line}};
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

json move_json(const MoveReview& m) {
  return {{"number", m.number},
          {"side", side_name(m.side)},
          {"san", m.san},
          {"coord", m.coord},
          {"fen", m.fen},
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
  if (!status.review)
    return {{"status", "running"},
            {"done", status.done},
            {"total", status.total},
            {"seconds", status.seconds},
            {"seconds_left", status.seconds_left ? json(*status.seconds_left) : json(nullptr)}};
  const GameReview& r = *status.review;
  json moves = json::array();
  for (const auto& m : r.moves) moves.push_back(move_json(m));
  return {{"status", "done"},       {"depth", r.depth},           {"seconds", status.seconds},
          {"summary", summary_text(r)}, {"svg", evaluation_svg(r)}, {"pgn", annotated_pgn(r)},
          {"moves", moves}};
}

}  // namespace

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

GameApi::GameApi(const ServeOptions& options)
    : options_(options), games_(options.max_games, options.idle_timeout, options.verbose) {}

json GameApi::personas() const {
  json out = json::array();
  for (const auto& e : playable_entries()) {
    json entry{{"name", e.name}, {"strength", e.strength}, {"gang", gang_name(e.gang)}, {"rate", e.rate}, {"measured", nullptr}};
    if (const auto m = measured_rating(e.name))
      entry["measured"] = {{"rating", std::lround(m->rating)}, {"margin", std::lround(m->margin)}, {"bound", m->bound},
                           {"text", measured_text(*m)}};
    out.push_back(entry);
  }
  return out;
}

json GameApi::create(const json& body) {
  HumanGameSetup setup;
  setup.persona = playable_persona_name(string_field(body, "persona"));
  const std::string color = string_field(body, "color", "white");
  if (color != "white" && color != "black") throw UserError("\"color\" must be \"white\" or \"black\"");
  setup.human_side = color == "white" ? common::WHITE : common::BLACK;
  setup.start_fen = checked_start_fen(string_field(body, "fen"));
  setup.preview = options_.preview;
  setup.preview_depth = options_.preview_depth;
  setup.settings = options_.persona;
  games_.reserve();
  std::unique_ptr<HumanGame> game;
  try {
    game = std::make_unique<HumanGame>(std::move(setup));
  } catch (...) {
    games_.add(nullptr);
    throw;
  }
  const auto served = games_.find(games_.add(std::move(game)));
  json reply = nullptr;
  if (served->game->personas_turn()) reply = reply_json(served->game->reply());
  json out = state_of(*served);
  out["reply"] = reply;
  return out;
}

json GameApi::state(const std::string& id) { return state_of(*games_.find(id)); }

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
  game.play_human(*move);
  json reply = game.personas_turn() ? reply_json(game.reply()) : json(nullptr);
  json out = state_of(*served);
  out["move"] = {{"move", move->to_coord()}, {"san", san}};
  out["preview"] = preview;
  out["reply"] = reply;
  out["preview_ms"] = preview_ms;
  return out;
}

json GameApi::move_now(const std::string& id) {
  const auto served = games_.find(id);
  served->game->move_now();
  return state_of(*served);
}

json GameApi::undo(const std::string& id) {
  const auto served = games_.find(id);
  served->game->undo();
  return state_of(*served);
}

json GameApi::resign(const std::string& id) {
  const auto served = games_.find(id);
  served->game->resign();
  return state_of(*served);
}

json GameApi::hint(const std::string& id) {
  const auto served = games_.find(id);
  const MoveJudgement j = served->game->hint();
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
  PgnGame pgn = game.pgn("ai-players serve", "localhost");
  if (pgn.san.empty()) throw UserError("there are no moves to review");
  std::shared_ptr<ReviewJob> job;
  std::vector<std::shared_ptr<ReviewJob>> dropped;  // stopped after the lock is let go
  {
    const std::lock_guard lock(reviews_mutex_);
    for (auto it = reviews_.begin(); it != reviews_.end();)
      if (it->second.game.expired()) dropped.push_back(std::move(it->second.job)), it = reviews_.erase(it);
      else ++it;
    Review& r = reviews_[id];
    if (!r.job || r.moves != pgn.san) {
      dropped.push_back(std::move(r.job));
      r = {served, pgn.san, nullptr};
      r.job = std::make_shared<ReviewJob>(std::move(pgn), engine_judges(engine_config(options_.persona, false),
                                                                        options_.persona.engine_timeout, kReviewDepth),
                                          default_review_jobs(), kReviewDepth);
    }
    job = r.job;
  }
  try {
    return review_json(job->status());
  } catch (...) {
    const std::lock_guard lock(reviews_mutex_);
    if (const auto it = reviews_.find(id); it != reviews_.end() && it->second.job == job) reviews_.erase(it);
    throw;  // the next call starts afresh
  }
}

std::string GameApi::pgn(const std::string& id) {
  return to_pgn(games_.find(id)->game->pgn("ai-players serve", "localhost"));
}

json GameApi::end(const std::string& id) {
  games_.end(id);
  return {{"deleted", id}};
}

}  // namespace ai_players::app
