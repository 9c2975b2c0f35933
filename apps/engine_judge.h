// An engine of its own that scores positions for adjudication, apart from
// the players' engines.
#pragma once

#include <chrono>
#include <string>

#include "ai_players/engine/engine_process.h"
#include "tournament.h"

namespace ai_players::app {

class EngineJudge {
 public:
  // Starts the engine (a path) and waits for its handshake; throws EngineError.
  EngineJudge(const std::string& engine, int depth);
  // The score at the judge's depth from White's side.
  Evaluation evaluate(const std::string& start_fen, const board::MoveList& moves);

 private:
  void wait_for(std::string_view token);
  engine::EngineProcess process_;
  int depth_;
  static constexpr std::chrono::milliseconds kPatience{30000};
};

// The score of an "info ... score cp 25 ..." line, from the mover's side;
// false when the line has none (or only a bound).
bool parse_info_score(const std::string& line, Evaluation& eval);

}  // namespace ai_players::app
