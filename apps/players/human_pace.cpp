#include "players/human_pace.h"

#include <algorithm>
#include <cmath>

namespace ai_players::app {

std::string HumanPace::kind_of(const board::Board& position, const board::Move& reply, const board::Move* last,
                               bool from_start) {
  if (position.legal_moves().size() == 1) return "forced";
  if (last && last->Captured != 0 && reply.Captured != 0 && reply.ToSQ == last->ToSQ) return "recapture";
  if (from_start && position.MoveNumber <= kOpeningMoves) return "opening";
  return "thought";
}

milliseconds HumanPace::time_for(const board::Board& position, const board::Move& reply, const board::Move* last,
                                 int strength, bool from_start) {
  const auto between = [this](double lo, double hi) {
    return milliseconds(std::lround(1000 * std::uniform_real_distribution<double>(lo, hi)(gen_)));
  };
  const std::string kind = kind_of(position, reply, last, from_start);
  if (kind == "forced") return between(0.3, 0.8);
  if (kind == "recapture") return between(0.5, 1.5);
  if (kind == "opening") return between(0.5, 2.0);
  const board::MoveList legal = position.legal_moves();
  const bool tension = std::any_of(legal.begin(), legal.end(), [](const auto& m) { return m->Captured != 0; });
  double median = 1.5 + 0.05 * static_cast<double>(legal.size()) + (tension ? 1.0 : 0.0);
  median *= strength < 1000 ? 0.8 : strength >= 1800 ? 1.3 : 1.0;
  const double sigma = strength < 1000 ? 0.6 : 0.45;
  const double seconds = median * std::exp(sigma * std::normal_distribution<double>(0, 1)(gen_));
  return std::min(kLongestThink, milliseconds(std::lround(1000 * seconds)));
}

}  // namespace ai_players::app
