#include "tournament/match_stats.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace ai_players::app {

void Tally::add(std::string_view result, bool player_was_white) {
  if (result == "1/2-1/2")
    ++draws;
  else if (result == "1-0")
    ++(player_was_white ? wins : losses);
  else if (result == "0-1")
    ++(player_was_white ? losses : wins);
  else
    ++unfinished;
}

double Tally::score() const { return scored_games() ? points() / scored_games() : 0.5; }

double elo_from_score(double score) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (score <= 0) return -inf;
  if (score >= 1) return inf;
  return -400.0 * std::log10(1.0 / score - 1.0);
}

EloEstimate estimate_elo(const Tally& tally) {
  const int n = tally.scored_games();
  const double s = tally.score();
  EloEstimate e{elo_from_score(s), 0.0};
  if (n == 0) return e;
  const double variance = (tally.wins * (1 - s) * (1 - s) + tally.draws * (0.5 - s) * (0.5 - s) +
                           tally.losses * s * s) /
                          n;
  const double half_width = 1.96 * std::sqrt(variance / n);
  if (half_width == 0) return e;
  e.margin = (elo_from_score(s + half_width) - elo_from_score(s - half_width)) / 2;
  return e;
}

std::string format_elo(const EloEstimate& estimate) {
  auto number = [](double v) {
    if (std::isinf(v)) return std::string(v > 0 ? "+inf" : "-inf");
    return fmt::format("{:+.0f}", std::round(v) + 0.0);  // + 0.0 turns -0 into 0
  };
  if (std::isinf(estimate.difference)) return number(estimate.difference);
  std::string margin = std::isinf(estimate.margin) ? "inf" : fmt::format("{:.0f}", estimate.margin);
  return fmt::format("{} +/- {}", number(estimate.difference), margin);
}

}  // namespace ai_players::app
