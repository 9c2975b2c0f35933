// A 2500 persona that plays a random move among the engine's best, and that
// can tell the host how good the human's move was.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/engine/ai_basic.h"

namespace ai_players {

struct Preview {
  int best_score;
  // None when the head-to-head search was cut short before it ranked the
  // human's move: there is no verdict on the move.
  std::optional<int> actual_score;
  std::vector<std::string> best_line;
};

class Verevovera : public AI_BASIC {
 public:
  explicit Verevovera(engine::EngineConfig config = {});

  // depth: of both searches; a game review may want to look deeper.
  Preview Ask_For_Preview(const MoveList& game_plies, const board::Move& human_move,
                          const MoveList& legalmoves,
                          std::string_view start_fen = common::FEN_New_Game, int depth = 7);
  MovePtr GetReply_(std::optional<double> error_margin = 9) override;
  MovePtr FallbackReply_() override;
};

}  // namespace ai_players
