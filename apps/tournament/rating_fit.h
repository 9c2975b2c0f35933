// Ratings of many players from all their games at once: the Bradley-Terry
// model on the logistic Elo scale, fitted by maximum likelihood.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "game/user_error.h"

namespace ai_players::app {

// One scored game; draws count as half points.
struct GameScore {
  std::string white;
  std::string black;
  double white_points = 0.5;  // 1, 0.5 or 0
};

// The participant whose rating is fixed; the others are measured from it.
struct Anchor {
  std::string name;
  double elo = 0;
};

struct PlayerRating {
  std::string name;
  double rating = 0;
  double margin = 0;  // half-width of the 95 % interval; 0 for the anchor
  int games = 0;
  int wins = 0, draws = 0, losses = 0;
  double points() const { return wins + 0.5 * draws; }
};

struct RatingTable {
  std::vector<PlayerRating> players;  // best first
  Anchor anchor;
  // Pairings where one side won every game and no other results lead back:
  // each got one virtual draw, so that every rating is finite.
  int virtual_draws = 0;
};

// Games that cannot be fitted: no games, an unknown anchor, or players with
// no chain of games to the anchor.
struct RatingError : UserError {
  using UserError::UserError;
};

// The maximum-likelihood ratings, with intervals from the observed
// information (the curvature of the log-likelihood at its maximum).
RatingTable fit_ratings(const std::vector<GameScore>& games, const Anchor& anchor);

// "1-0" -> 1, "0-1" -> 0, "1/2-1/2" -> 0.5; none for "*" and anything else.
std::optional<double> white_points(const std::string& result);

}  // namespace ai_players::app
