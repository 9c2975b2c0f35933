// The personas' strengths as measured by the calibration tournament, read
// from the one file it writes (data/calibration/ratings.tsv).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace ai_players::app {

struct MeasuredRating {
  double rating = 0;
  double margin = 0;  // half-width of the 95 % interval; 0 for the anchor
  int games = 0;
  int bound = 0;  // +1: won every game (a lower bound), -1: lost every game (an upper bound)
};

// name -> rating; empty when the file is missing or unreadable.
const std::map<std::string, MeasuredRating>& measured_ratings();
std::optional<MeasuredRating> measured_rating(const std::string& name);

// "1078 ±151", "1350 anchor", "≥1636" or "≤388" for a bound.
std::string measured_text(const MeasuredRating& m);
// A persona's strength as a person is told it: the measured rating, or the
// roster's figure said to be one.
std::string strength_label(const std::string& name, int roster);

// Reads the file format: a header line, then "name<TAB>rating<TAB>margin<TAB>games<TAB>bound" lines
// (columns after these, the W-D-L counts, are for people).
std::map<std::string, MeasuredRating> read_measured_ratings(std::istream& in);

// Where the file is.
std::string measured_ratings_path();

}  // namespace ai_players::app
