#include "tournament/rating_fit.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

namespace ai_players::app {
namespace {

constexpr double kLog10Over400 = 2.302585092994046 / 400;  // d(expected score)/d(Elo) scale

double expected(double ri, double rj) { return 1 / (1 + std::pow(10.0, (rj - ri) / 400)); }

// Solves a x = b for a symmetric positive definite a (Cholesky); false when it is not.
bool solve_spd(std::vector<std::vector<double>> a, std::vector<double>& x) {
  const std::size_t n = a.size();
  for (std::size_t j = 0; j < n; ++j) {
    double d = a[j][j];
    for (std::size_t k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
    if (!(d > 1e-300)) return false;
    a[j][j] = std::sqrt(d);
    for (std::size_t i = j + 1; i < n; ++i) {
      double s = a[i][j];
      for (std::size_t k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s / a[j][j];
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < i; ++k) x[i] -= a[i][k] * x[k];
    x[i] /= a[i][i];
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t k = i + 1; k < n; ++k) x[i] -= a[k][i] * x[k];
    x[i] /= a[i][i];
  }
  return true;
}

// Groups the players so that within a group each one scored, directly or
// through others, against each other one. Between two groups one side won
// every game, and there the likelihood has no finite maximum.
std::vector<std::size_t> score_groups(const std::vector<std::vector<double>>& points) {
  const std::size_t n = points.size();
  std::vector<std::vector<bool>> reaches(n, std::vector<bool>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) reaches[i][j] = i == j || points[i][j] > 0;
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t i = 0; i < n; ++i)
      if (reaches[i][k])
        for (std::size_t j = 0; j < n; ++j) reaches[i][j] = reaches[i][j] || reaches[k][j];
  std::vector<std::size_t> group(n);
  for (std::size_t i = 0; i < n; ++i) {
    group[i] = i;
    for (std::size_t j = 0; j < i; ++j)
      if (reaches[i][j] && reaches[j][i]) {
        group[i] = group[j];
        break;
      }
  }
  return group;
}

}  // namespace

std::optional<double> white_points(const std::string& result) {
  if (result == "1-0") return 1.0;
  if (result == "0-1") return 0.0;
  if (result == "1/2-1/2") return 0.5;
  return std::nullopt;
}

namespace {

// The games as matrices over the players, and the maximum-likelihood fit on them.
class Fit {
 public:
  Fit(const std::vector<GameScore>& games, const Anchor& anchor) : anchor_(anchor) {
    for (const GameScore& g : games) {
      id(g.white);
      id(g.black);
    }
    n_ = players_.size();
    count_.assign(n_, std::vector<double>(n_, 0));
    points_ = count_;
    for (const GameScore& g : games) add(g);
    const auto it = index_.find(anchor.name);
    if (it == index_.end()) throw RatingError(fmt::format("the anchor '{}' played none of the games", anchor.name));
    anchor_index_ = it->second;
    for (std::size_t i = 0; i < n_; ++i)
      if (i != anchor_index_) free_.push_back(i);
    ratings_.assign(n_, anchor.elo);
  }

  // Everyone must be linked to the anchor through games.
  void require_chains() const {
    std::vector<bool> seen(n_, false);
    std::vector<std::size_t> stack{anchor_index_};
    seen[anchor_index_] = true;
    while (!stack.empty()) {
      const std::size_t i = stack.back();
      stack.pop_back();
      for (std::size_t j = 0; j < n_; ++j)
        if (!seen[j] && count_[i][j] > 0) seen[j] = true, stack.push_back(j);
    }
    std::string lost;
    for (std::size_t i = 0; i < n_; ++i)
      if (!seen[i]) lost += (lost.empty() ? "" : ", ") + players_[i].name;
    if (!lost.empty())
      throw RatingError(fmt::format("no chain of games links {} to the anchor {}", lost, anchor_.name));
  }

  // A virtual draw on each pairing that met across groups, and only there: the
  // results within a group keep their full weight. Returns how many.
  int add_virtual_draws() {
    int added = 0;
    const std::vector<std::size_t> group = score_groups(points_);
    for (std::size_t i = 0; i < n_; ++i)
      for (std::size_t j = 0; j < n_; ++j)
        if (group[i] != group[j] && count_[i][j] > 0) count_[i][j] += 1, points_[i][j] += 0.5, added += i < j;
    return added;
  }

  // Newton's method on the log-likelihood over every rating but the anchor's.
  void maximise() {
    for (int iteration = 0; iteration < 500; ++iteration) {
      std::vector<double> step = gradient();
      if (!solve_spd(information(), step)) throw RatingError("the games do not determine the ratings");
      double largest = 0;
      for (double s : step) largest = std::max(largest, std::abs(s));
      // Far from the maximum a full step can overshoot; walk there in bounded strides.
      const double scale = largest > 200 ? 200 / largest : 1;
      for (std::size_t x = 0; x < free_.size(); ++x) ratings_[free_[x]] += scale * step[x];
      if (largest < 1e-7) break;
    }
  }

  // The players, rated, with their intervals from the observed information.
  std::vector<PlayerRating> players() const {
    std::vector<PlayerRating> out = players_;
    const auto info = information();
    for (std::size_t x = 0; x < free_.size(); ++x) {
      std::vector<double> unit(free_.size(), 0);
      unit[x] = 1;
      solve_spd(info, unit);
      out[free_[x]].margin = 1.959964 * std::sqrt(unit[x]);
    }
    for (std::size_t i = 0; i < n_; ++i) out[i].rating = ratings_[i];
    std::stable_sort(out.begin(), out.end(), [](const PlayerRating& x, const PlayerRating& y) { return x.rating > y.rating; });
    return out;
  }

 private:
  std::size_t id(const std::string& name) {
    auto [it, added] = index_.emplace(name, players_.size());
    if (added) players_.push_back(PlayerRating{name});
    return it->second;
  }

  void add(const GameScore& g) {
    const std::size_t w = index_[g.white], b = index_[g.black];
    if (w == b) return;  // a player against itself says nothing about its rating
    count_[w][b] += 1;
    count_[b][w] += 1;
    points_[w][b] += g.white_points;
    points_[b][w] += 1 - g.white_points;
    for (auto [p, s] : {std::pair{w, g.white_points}, std::pair{b, 1 - g.white_points}}) {
      ++players_[p].games;
      (s == 1 ? players_[p].wins : s == 0 ? players_[p].losses : players_[p].draws) += 1;
    }
  }

  std::vector<double> gradient() const {
    std::vector<double> step(free_.size(), 0);
    for (std::size_t x = 0; x < free_.size(); ++x) {
      const std::size_t i = free_[x];
      for (std::size_t j = 0; j < n_; ++j)
        if (count_[i][j] > 0) step[x] += kLog10Over400 * (points_[i][j] - count_[i][j] * expected(ratings_[i], ratings_[j]));
    }
    return step;
  }

  std::vector<std::vector<double>> information() const {
    std::vector<std::vector<double>> info(free_.size(), std::vector<double>(free_.size(), 0));
    for (std::size_t x = 0; x < free_.size(); ++x)
      for (std::size_t j = 0; j < n_; ++j) {
        const std::size_t i = free_[x];
        if (j == i || count_[i][j] == 0) continue;
        const double p = expected(ratings_[i], ratings_[j]);
        const double w = kLog10Over400 * kLog10Over400 * count_[i][j] * p * (1 - p);
        info[x][x] += w;
        const auto y = std::find(free_.begin(), free_.end(), j);
        if (y != free_.end()) info[x][static_cast<std::size_t>(y - free_.begin())] -= w;
      }
    return info;
  }

  Anchor anchor_;
  std::map<std::string, std::size_t> index_;
  std::vector<PlayerRating> players_;
  std::size_t n_ = 0, anchor_index_ = 0;
  // count_[i][j]: games between i and j; points_[i][j]: what i scored in them.
  std::vector<std::vector<double>> count_, points_;
  std::vector<std::size_t> free_;
  std::vector<double> ratings_;
};

}  // namespace

RatingTable fit_ratings(const std::vector<GameScore>& games, const Anchor& anchor) {
  if (games.empty()) throw RatingError("there are no scored games to rate");
  Fit fit(games, anchor);
  fit.require_chains();
  RatingTable table;
  table.anchor = anchor;
  table.virtual_draws = fit.add_virtual_draws();
  fit.maximise();
  table.players = fit.players();
  return table;
}

}  // namespace ai_players::app
