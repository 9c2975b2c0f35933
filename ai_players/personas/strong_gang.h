// The stronger personas: near-best moves at depth 2 to 4, and now and then a
// master move from a node-budget search with a few strong continuations.
#pragma once

#include <optional>
#include <string>

#include "ai_players/engine/ai_basic.h"

namespace ai_players {

class STRONG_GANG : public AI_BASIC {
 public:
  STRONG_GANG(const std::string& name, Number m_rate, Number elo = -1, engine::EngineConfig config = {});
  // Whether the constructor takes these settings; starts nothing.
  static bool accepts(const std::string& name, Number m_rate, Number elo = -1);

  double M_RATE;
  double D2_RATE;
  double NODES_;  // node budget of master searches, fixed at construction

  MovePtr GetReply_(std::optional<double> error_margin = std::nullopt) override;
  MovePtr FallbackReply_() override;

 protected:
  void reset_game_() override { M_RATE = constructed_m_rate_; }

 private:
  double constructed_m_rate_;  // what a reply above 1400 overwrites
};

}  // namespace ai_players
