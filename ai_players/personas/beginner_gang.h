// The weakest personas: random movers, capture maniacs, and near-best
// choosers that fall back on non-silly moves.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "ai_players/engine/ai_basic.h"

namespace ai_players {

// The rate "random": the persona plays uniformly random legal moves.
struct RandomRate {
  friend bool operator==(RandomRate, RandomRate) { return true; }
};
// A beginner's rate: a number from -1.0 to 1.0, or "random".
using BeginnerRate = std::variant<Number, RandomRate>;
std::string to_text(const BeginnerRate& rate);

class BEGINNER_GANG : public AI_BASIC {
 public:
  BEGINNER_GANG(const std::string& name, BeginnerRate d2_rate = Number(-1000), Number elo = -1,
                engine::EngineConfig config = {});
  // Whether the constructor takes these settings; starts nothing.
  static bool accepts(const std::string& name, const BeginnerRate& d2_rate, Number elo = -1);

  BeginnerRate D2_RATE;

  MovePtr GetReply_(std::optional<double> error_margin = std::nullopt) override;
  MovePtr FallbackReply_() override;
  std::string FallbackWords_() const override;
  MovePtr get_random_reply_();
  MovePtr get_capture_mania_reply_();

 protected:
  void reset_game_() override { D2_RATE = constructed_rate_; }

 private:
  BeginnerRate constructed_rate_;  // what a reply above 800 overwrites
};

}  // namespace ai_players
