// The persona that lets the engine play on its own at a UCI-limited strength.
#pragma once

#include <optional>

#include "ai_players/engine/ai_basic.h"

namespace ai_players {

class HOUD20c : public AI_BASIC {
 public:
  explicit HOUD20c(Number elo = 1200, engine::EngineConfig config = {});

  void change_elo(Number elo);
  MovePtr GetReply_(std::optional<double> error_margin = std::nullopt) override;
  MovePtr FallbackReply_() override;
  std::string FallbackWords_() const override { return "plays the engine's own move at its strength limit"; }

 protected:
  void engine_started_() override;

 private:
  void send_strength_options_();
  // Runs "go depth 30" on the position already sent; the engine's bestmove.
  std::string engine_bestmove_();
};

}  // namespace ai_players
