// The score of a match and the Elo difference it suggests.
#pragma once

#include <string>
#include <string_view>

namespace ai_players::app {

// Counted from one player's side (the first-named one of a match).
struct Tally {
  int wins = 0;
  int draws = 0;
  int losses = 0;
  int unfinished = 0;  // games stopped before the rules ended them; not scored

  // result: "1-0", "0-1", "1/2-1/2" or "*"; player_was_white: which colour
  // the counted player had in that game.
  void add(std::string_view result, bool player_was_white);
  int scored_games() const { return wins + draws + losses; }
  double points() const { return wins + 0.5 * draws; }
  double score() const;  // points per scored game; 0.5 when none was scored
};

// Elo difference of the counted player over the other, with the half-width
// of its 95 % interval. Either may be infinite (a clean sweep, or too few
// games to bound the interval).
struct EloEstimate {
  double difference = 0;
  double margin = 0;
};

// The logistic Elo difference for an expected score in [0, 1].
double elo_from_score(double score);

// From the per-game score variance: the mean score plus and minus 1.96
// standard errors, each turned into Elo.
EloEstimate estimate_elo(const Tally& tally);

// "+35 +/- 120", "-inf", "+12 +/- inf".
std::string format_elo(const EloEstimate& estimate);

}  // namespace ai_players::app
