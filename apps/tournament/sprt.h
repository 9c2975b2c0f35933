// The sequential probability ratio test of two players: stop as soon as the
// games say which of two Elo differences is the truth.
#pragma once

#include <optional>
#include <string>

namespace ai_players::app {

struct SprtBounds {
  double elo0 = 0, elo1 = 5;     // H0: the difference is elo0; H1: it is elo1 (logistic Elo)
  double alpha = 0.05, beta = 0.05;
};
// "ELO0,ELO1[,ALPHA,BETA]"; UserError otherwise.
SprtBounds parse_sprt(const std::string& text);

// Fed with game pairs (one opening played with both colours), scored from the
// first player's side: the pentanomial model, since the two games of a pair
// share their opening and their results are not independent.
class Sprt {
 public:
  explicit Sprt(SprtBounds bounds) : bounds_(bounds) {}
  // One pair: the first player's points in it, 0, 0.5, 1, 1.5 or 2.
  void add_pair(double points);
  // The log-likelihood ratio of H1 against H0 (0 before any pair).
  double llr() const;
  double lower() const;  // accept H0 at or below
  double upper() const;  // accept H1 at or above
  // "H0 accepted", "H1 accepted", or none while the test goes on.
  std::optional<std::string> verdict() const;
  // "LLR 2.31 (-2.94, 2.94) [0, 100]: H1 accepted after 38 pairs"
  std::string summary() const;

 private:
  SprtBounds bounds_;
  double counts_[5] = {0, 0, 0, 0, 0};
  int pairs_ = 0;
};

}  // namespace ai_players::app
