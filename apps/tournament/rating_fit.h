// Ratings of many players from all their games at once: the Bradley-Terry
// model on the logistic Elo scale, fitted by maximum likelihood with fixed
// anchors and one small symmetric prior, each pairing's games weighed by how
// much their results actually spread.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "game/user_error.h"

namespace ai_players::app {

// One scored game; draws count as half points.
struct GameScore {
  GameScore(std::string w, std::string b, double points, std::string p = {})
      : white(std::move(w)), black(std::move(b)), white_points(points), pair(std::move(p)) {}
  std::string white;
  std::string black;
  double white_points = 0.5;  // 1, 0.5 or 0
  // Games of the same two players with the same key were played together
  // (one opening, colours swapped): their results are counted as one.
  // Empty: a game on its own.
  std::string pair;
};

// A participant whose rating is fixed; the others are measured from the anchors.
struct Anchor {
  std::string name;
  double elo = 0;
};

struct PlayerRating {
  std::string name;
  double rating = 0;      // for a bound, the bound
  double low = 0, high = 0;  // the 95 % profile-likelihood interval (equal to rating for an anchor or a bound)
  double margin = 0;      // the interval's larger half-width; 0 for an anchor and a bound
  int bound = 0;          // +1: at least `rating` (won every game against the rated players), -1: at most
  bool anchor = false;
  double prior_shift = 0;  // how far the rating moves when the prior's weight is halved or doubled
  int games = 0;
  int wins = 0, draws = 0, losses = 0;
  double points() const { return wins + 0.5 * draws; }
  // A prior moves it by more than a quarter of its margin.
  bool rests_on_prior() const { return !bound && !anchor && prior_shift > margin / 4; }
};

struct RatingTable {
  std::vector<PlayerRating> players;  // best first
  std::vector<Anchor> anchors;
  double prior_draws = 0;  // virtual draws on each pairing that played, among the rated players
  double pair_spread = 1;  // how much the pairs of games on one opening spread, over their games' sum
};

// The prior, when one is asked for: w virtual draws on every pairing that
// met, between players whose results lead both ways to the anchors, pulling
// each measured gap towards even alike for every player. None by default:
// among those players the games alone fix every rating, and over a gap of
// many hundred points a virtual draw weighs more than the games that spanned it.
inline constexpr double kPriorDraws = 0;

// Games that cannot be fitted: no games, an anchor that played none, or
// players with no chain of games to any anchor.
struct RatingError : UserError {
  using UserError::UserError;
};

// The model's spread of a game's score, p(1-p), holds for independent games
// without draws. A draw rate d makes it p(1-p) - d/4, and games on one opening
// with colours swapped spread together by their own factor, so each pairing's
// log-likelihood is divided by its dispersion: (1 - d / 4p(1-p)) times that
// factor, pooled over every pairing. A pairing's draw rate is counted as if
// it had kSpreadPrior more games without a draw, so that a few draws cannot
// make its games weigh much more.
inline constexpr double kSpreadPrior = 16;

// Players whose results lead to the anchors and back (each scored against
// someone who scored against... an anchor, and the reverse) get the
// maximum-likelihood rating with the prior and its profile-likelihood
// interval, both with the pairings' dispersions. The others won (or lost) every game against those, and get a
// one-sided 95 % bound from those games alone, never a number from the prior.
RatingTable fit_ratings(const std::vector<GameScore>& games, const std::vector<Anchor>& anchors,
                        double prior_draws = kPriorDraws);

// "1-0" -> 1, "0-1" -> 0, "1/2-1/2" -> 0.5; none for "*" and anything else.
std::optional<double> white_points(const std::string& result);

}  // namespace ai_players::app
