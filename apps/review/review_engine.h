// The engine a review judges with: the best move of a position, then the
// move played searched alone to the same depth. Half the searches of the
// preview persona's judgement (which also ranks a second-best move), so a
// review can afford to look deeper.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/personas/verevovera.h"
#include "review/review.h"

namespace ai_players::app {

// Transposition table of every review engine (MB): deep searches of
// neighbouring positions find their own earlier work there.
inline constexpr int kReviewHashMb = 64;

class ReviewEngine {
 public:
  // Starts the engine; throws EngineError when it cannot be started.
  ReviewEngine(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout);

  // best_score and actual_score from the mover's side, best_line from the engine.
  Preview judge(const board::MoveList& history, const board::Move& move, const board::MoveList& legal,
                const std::string& start_fen, int depth);

 private:
  std::unique_ptr<AI_BASIC> engine_;
};

// A JudgeMaker whose judges each start a ReviewEngine and search at `depth`.
JudgeMaker engine_judges(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout, int depth);

}  // namespace ai_players::app
