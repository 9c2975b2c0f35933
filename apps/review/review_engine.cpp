#include "review/review_engine.h"

#include <fmt/format.h>

#include "ai_players/core/errors.h"

namespace ai_players::app {

ReviewEngine::ReviewEngine(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout)
    : engine_(std::make_unique<AI_BASIC>("review", 0, std::nullopt, std::move(config))) {
  engine_->engine_timeout = timeout;
  engine_->writeIntoEngine(fmt::format("setoption name Hash value {}", kReviewHashMb));
}

Preview ReviewEngine::judge(const board::MoveList& history, const board::Move& move, const board::MoveList& legal,
                            const std::string& start_fen, int depth) {
  engine_->begin_request();
  engine_->start_fen = start_fen;
  engine_->game_history = history;
  engine_->legalmoves = legal;
  const std::vector<Analysis> best = engine_->obtain_engine_thoughts(1, depth);
  if (best.empty() || best.front().pv_list.empty())
    throw EngineError(fmt::format("The chess engine {} found no move", engine_->engine_name()));
  const Analysis& b = best.front();
  const std::string played = move.to_coord();
  if (b.pv_list.front() == played) return {b.score, b.score, b.pv_list};
  const std::vector<Analysis> own = engine_->obtain_engine_thoughts(1, depth, std::nullopt, played);
  if (own.empty()) throw EngineError(fmt::format("The chess engine {} did not score {}", engine_->engine_name(), played));
  return {b.score, own.front().score, b.pv_list};
}

JudgeMaker engine_judges(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout, int depth) {
  return [config = std::move(config), timeout, depth] {
    auto engine = std::make_shared<ReviewEngine>(config, timeout);
    return PreviewFn([engine, depth](const board::MoveList& history, const board::Move& move,
                                     const board::MoveList& legal, const std::string& fen) {
      return engine->judge(history, move, legal, fen, depth);
    });
  };
}

}  // namespace ai_players::app
