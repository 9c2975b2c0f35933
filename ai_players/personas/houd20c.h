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

  // The limits of its one search, as "go" takes them: depth 30 unless a host
  // (a GUI speaking UCI) passes its own, "depth 5", "nodes 20000", "movetime 500".
  static constexpr const char* kDefaultSearchLimits = "depth 30";
  std::string search_limits = kDefaultSearchLimits;
  // The engine's expected reply to its last move ("ponder" on its bestmove
  // line); empty when none, or when that move was not the engine's.
  std::string ponder_move;

 protected:
  void engine_started_() override;
  void reset_game_() override { ponder_move.clear(); }
  void reply_asked_() override { ponder_move.clear(); }

 private:
  void send_strength_options_();
  // Runs "go <search_limits>" on the position already sent; the engine's bestmove.
  std::string engine_bestmove_();
};

}  // namespace ai_players
