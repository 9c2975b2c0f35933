// An engine of the program's own, apart from the personas': it analyses
// positions for `analyse` and scores them for adjudication. Every word with
// it goes through the library's engine dialogue, with its watchdog.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/core/score.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/host/board.h"

namespace ai_players::app {

class Analyst {
 public:
  // Starts the engine (nothing is awaited yet); throws EngineError when it
  // cannot be started.
  Analyst(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout);

  // The best `multipv` lines of the position after `moves` from `start_fen`,
  // best first, at `depth` or at the depth a probe gives a node budget.
  // Throws board::Error for a position without moves, EngineError for an engine that fails.
  std::vector<Analysis> analyse(const std::string& start_fen, const board::MoveList& moves, int multipv, int depth,
                                std::optional<long long> nodes = std::nullopt);
  // The score of that position at `depth`, from the side to move.
  PovScore evaluate(const std::string& start_fen, const board::MoveList& moves, int depth);
  // Forgets earlier positions (the engine's tables too), so that a search
  // gives what a fresh analyst's would. Throws EngineError.
  void new_game() { player_->new_game(); }
  // The depth the last search ran at (a node budget's probe chooses it).
  int last_depth() const { return player_->last_search_depth; }

 private:
  std::unique_ptr<AI_BASIC> player_;
};

}  // namespace ai_players::app
