#include "players/measured_ratings.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "game/data_files.h"

namespace ai_players::app {

std::string measured_ratings_path() { return data_file("calibration/ratings.tsv"); }

std::map<std::string, MeasuredRating> read_measured_ratings(std::istream& in) {
  std::map<std::string, MeasuredRating> out;
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    MeasuredRating m;
    if (std::getline(fields, name, '\t') && fields >> m.rating >> m.margin >> m.games >> m.bound &&
        std::isfinite(m.rating) && std::isfinite(m.margin))
      out[name] = m;
  }
  return out;
}

const std::map<std::string, MeasuredRating>& measured_ratings() {
  static const std::map<std::string, MeasuredRating> ratings = [] {
    std::ifstream in(measured_ratings_path());
    return in ? read_measured_ratings(in) : std::map<std::string, MeasuredRating>{};
  }();
  return ratings;
}

std::optional<MeasuredRating> measured_rating(const std::string& name) {
  const auto& all = measured_ratings();
  const auto it = all.find(name);
  if (it == all.end()) return std::nullopt;
  return it->second;
}

std::string measured_text(const MeasuredRating& m) {
  if (m.bound) return fmt::format("{}{:.0f}", m.bound > 0 ? "\u2265" : "\u2264", m.rating);
  if (m.margin == 0) return fmt::format("{:.0f} anchor", m.rating);
  return fmt::format("{:.0f} ±{:.0f}", m.rating, m.margin);
}

std::string strength_label(const std::string& name, int roster) {
  if (const auto m = measured_rating(name)) return measured_text(*m);
  return fmt::format("{} on its roster, not measured", roster);
}

}  // namespace ai_players::app
