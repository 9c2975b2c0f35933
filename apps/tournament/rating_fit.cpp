#include "tournament/rating_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

#include <fmt/format.h>

namespace ai_players::app {

std::optional<double> white_points(const std::string& result) {
  if (result == "1-0") return 1.0;
  if (result == "0-1") return 0.0;
  if (result == "1/2-1/2") return 0.5;
  return std::nullopt;
}

namespace {

constexpr double kScale = 2.302585092994046 / 400;  // d(log-odds)/d(Elo)
constexpr double kTwoSided95 = 3.841459;            // chi-square, one degree of freedom
constexpr double kOneSided95 = 2.705543;
constexpr double kFarthest = 4000;                  // no interval reaches past this many points from the fit

using Matrix = std::vector<std::vector<double>>;

double expected(double ri, double rj) { return 1 / (1 + std::pow(10.0, (rj - ri) / 400)); }

// Solves a x = b for a symmetric positive definite a (Cholesky); false when it is not.
bool solve_spd(Matrix a, std::vector<double>& x) {
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

// The smallest x in [lo, hi] with f(x) >= 0 for an f that rises through 0 there.
template <class F>
double rising_root(F f, double lo, double hi) {
  for (int i = 0; i < 60 && hi - lo > 1e-3; ++i) {
    const double mid = (lo + hi) / 2;
    (f(mid) >= 0 ? hi : lo) = mid;
  }
  return (lo + hi) / 2;
}

// One game by player index: what `first` scored against `second`.
struct Scored {
  std::size_t first, second;
  double points;
  const std::string* pair;
};

// The games as matrices over the players.
struct Results {
  std::vector<PlayerRating> players;
  std::map<std::string, std::size_t> index;
  Matrix count, points;  // count[i][j]: games between i and j; points[i][j]: what i scored in them
  std::vector<Scored> games;

  explicit Results(const std::vector<GameScore>& games) {
    for (const GameScore& g : games) id(g.white), id(g.black);
    count.assign(players.size(), std::vector<double>(players.size(), 0));
    points = count;
    for (const GameScore& g : games) add(g);
  }
  std::size_t size() const { return players.size(); }

 private:
  std::size_t id(const std::string& name) {
    auto [it, added] = index.emplace(name, players.size());
    if (added) players.push_back(PlayerRating{name});
    return it->second;
  }
  void add(const GameScore& g) {
    const std::size_t w = index[g.white], b = index[g.black];
    if (w == b) return;  // a player against itself says nothing about its rating
    games.push_back(Scored{w, b, g.white_points, &g.pair});
    count[w][b] += 1, count[b][w] += 1;
    points[w][b] += g.white_points, points[b][w] += 1 - g.white_points;
    for (auto [p, s] : {std::pair{w, g.white_points}, std::pair{b, 1 - g.white_points}}) {
      ++players[p].games;
      (s == 1 ? players[p].wins : s == 0 ? players[p].losses : players[p].draws) += 1;
    }
  }
};

// The penalised likelihood over the rated players: their games, plus the
// prior's virtual draws on each of their pairings.
class Model {
 public:
  // `dispersion[i][j]` divides the weight of the games between i and j; empty: 1.
  Model(const Results& r, const std::vector<std::size_t>& rated, double prior_draws, const Matrix& dispersion = {})
      : r_(r), rated_(rated), w_(prior_draws), count_(r.count), points_(r.points) {
    if (!dispersion.empty())
      for (std::size_t i = 0; i < r.size(); ++i)
        for (std::size_t j = 0; j < r.size(); ++j)
          count_[i][j] /= dispersion[i][j], points_[i][j] /= dispersion[i][j];
  }

  double log_likelihood(const std::vector<double>& x) const {
    double l = 0;
    for (std::size_t a = 0; a < rated_.size(); ++a)
      for (std::size_t b = a + 1; b < rated_.size(); ++b) {
        const std::size_t i = rated_[a], j = rated_[b];
        if (count_[i][j] == 0) continue;
        const double p = expected(x[i], x[j]);
        const double s = points_[i][j] + w_ / 2, n = count_[i][j] + w_;
        l += s * std::log(p) + (n - s) * std::log(1 - p);
      }
    return l;
  }

  // Newton's method over the players not fixed; false when the games do not determine them.
  bool maximise(std::vector<double>& x, const std::vector<bool>& fixed) const {
    const auto free = free_of(fixed);
    if (free.empty()) return true;
    for (int iteration = 0; iteration < 200; ++iteration) {
      std::vector<double> step = gradient(x, free);
      if (!solve_spd(information(x, free), step)) return false;
      double largest = 0;
      for (double s : step) largest = std::max(largest, std::abs(s));
      // Far from the maximum a full step can overshoot; walk there in bounded strides.
      const double scale = largest > 200 ? 200 / largest : 1;
      for (std::size_t k = 0; k < free.size(); ++k) x[free[k]] += scale * step[k];
      if (largest < 1e-7) break;
    }
    return true;
  }

  // The standard error of each free player at x, from the curvature there.
  std::vector<double> standard_errors(const std::vector<double>& x, const std::vector<bool>& fixed) const {
    const auto free = free_of(fixed);
    const Matrix info = information(x, free);
    std::vector<double> se(r_.size(), 0);
    for (std::size_t k = 0; k < free.size(); ++k) {
      std::vector<double> unit(free.size(), 0);
      unit[k] = 1;
      if (solve_spd(info, unit)) se[free[k]] = std::sqrt(unit[k]);
    }
    return se;
  }

 private:
  std::vector<std::size_t> free_of(const std::vector<bool>& fixed) const {
    std::vector<std::size_t> free;
    for (std::size_t i : rated_)
      if (!fixed[i]) free.push_back(i);
    return free;
  }

  std::vector<double> gradient(const std::vector<double>& x, const std::vector<std::size_t>& free) const {
    std::vector<double> g(free.size(), 0);
    for (std::size_t k = 0; k < free.size(); ++k)
      for (std::size_t j : rated_) {
        const std::size_t i = free[k];
        if (j == i || count_[i][j] == 0) continue;
        g[k] += kScale * (points_[i][j] + w_ / 2 - (count_[i][j] + w_) * expected(x[i], x[j]));
      }
    return g;
  }

  Matrix information(const std::vector<double>& x, const std::vector<std::size_t>& free) const {
    Matrix info(free.size(), std::vector<double>(free.size(), 0));
    for (std::size_t k = 0; k < free.size(); ++k)
      for (std::size_t j : rated_) {
        const std::size_t i = free[k];
        if (j == i || count_[i][j] == 0) continue;
        const double p = expected(x[i], x[j]);
        const double w = kScale * kScale * (count_[i][j] + w_) * p * (1 - p);
        info[k][k] += w;
        const auto other = std::find(free.begin(), free.end(), j);
        if (other != free.end()) info[k][static_cast<std::size_t>(other - free.begin())] -= w;
      }
    return info;
  }

  const Results& r_;
  const std::vector<std::size_t>& rated_;
  double w_;
  Matrix count_, points_;  // the games, each weighed by its pairing's dispersion
};

// Players whose results lead to the anchors and back: with the anchors taken
// as one player, those in its strongly connected component of "scored
// against". Only for them does the likelihood have a finite maximum.
std::vector<bool> rated_players(const Results& r, const std::vector<bool>& anchored) {
  const std::size_t n = r.size();
  Matrix reach(n, std::vector<double>(n, 0));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) reach[i][j] = i == j || r.points[i][j] > 0 || (anchored[i] && anchored[j]);
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t i = 0; i < n; ++i)
      if (reach[i][k])
        for (std::size_t j = 0; j < n; ++j)
          if (reach[k][j]) reach[i][j] = 1;
  const std::size_t a = static_cast<std::size_t>(std::find(anchored.begin(), anchored.end(), true) - anchored.begin());
  std::vector<bool> rated(n);
  for (std::size_t i = 0; i < n; ++i) rated[i] = reach[i][a] && reach[a][i];
  return rated;
}

void require_chains(const Results& r, const std::vector<bool>& anchored) {
  std::vector<bool> seen = anchored;
  for (bool grew = true; grew;) {
    grew = false;
    for (std::size_t i = 0; i < r.size(); ++i)
      for (std::size_t j = 0; j < r.size(); ++j)
        if (seen[i] && !seen[j] && r.count[i][j] > 0) seen[j] = grew = true;
  }
  std::string lost;
  for (std::size_t i = 0; i < r.size(); ++i)
    if (!seen[i]) lost += (lost.empty() ? "" : ", ") + r.players[i].name;
  if (!lost.empty()) throw RatingError(fmt::format("no chain of games links {} to the anchors", lost));
}

// Each rated pairing's dispersion at the fit x (see kSpreadPrior): a game
// with p = expected score and draw rate d has variance p(1-p) - d/4, and the
// pairs of games spread by a factor over their games' sum that is pooled over
// every pairing (few pairs alone would say little) and taken with
// kSpreadPrior games more that spread as much paired as apart.
Matrix dispersions(const Results& r, const std::vector<bool>& rated, const std::vector<double>& x, double& together) {
  std::map<std::pair<std::size_t, std::size_t>, double> draws;
  double games = 0;
  std::map<std::tuple<std::size_t, std::size_t, std::string>, std::pair<double, double>> pairs;  // sum, sum of squares
  for (std::size_t k = 0; k < r.games.size(); ++k) {
    const Scored& g = r.games[k];
    if (!rated[g.first] || !rated[g.second]) continue;
    ++games;
    const std::size_t i = std::min(g.first, g.second), j = std::max(g.first, g.second);
    const double deviation = (i == g.first ? g.points : 1 - g.points) - expected(x[i], x[j]);
    draws[{i, j}] += g.points == 0.5;
    auto& [sum, squares] = pairs[{i, j, g.pair->empty() ? fmt::format("#{}", k) : *g.pair}];  // alone: a pair of one
    sum += deviation, squares += deviation * deviation;
  }
  double pair_spread = 0, game_spread = 0;
  for (const auto& [key, sums] : pairs) pair_spread += sums.first * sums.first, game_spread += sums.second;
  // With kSpreadPrior games more that spread alike paired and apart.
  const double prior = games > 0 ? kSpreadPrior * game_spread / games : 0;
  together = game_spread > 0 ? (pair_spread + prior) / (game_spread + prior) : 1;
  Matrix out(r.size(), std::vector<double>(r.size(), 1));
  for (const auto& [ij, d] : draws) {
    const auto [i, j] = ij;
    const double p = expected(x[i], x[j]);
    const double rate = std::min(d / (r.count[i][j] + kSpreadPrior), 2 * std::min(p, 1 - p));
    // Never weigh a game more than ten: between equals who nearly always draw
    // the spread tends to nothing.
    out[i][j] = out[j][i] = std::max(0.1, (1 - rate / (4 * p * (1 - p))) * together);
  }
  return out;
}

// The 95 % interval of player i by profile likelihood: where twice the drop
// from the maximum, with every other player refitted, reaches the chi-square
// quantile.
std::pair<double, double> profile_interval(const Model& model, std::vector<double> best, std::vector<bool> fixed,
                                           std::size_t i, double se) {
  const double top = model.log_likelihood(best);
  fixed[i] = true;
  std::vector<double> x = best;
  const auto excess = [&](double t) {
    x[i] = t;
    if (!model.maximise(x, fixed)) return 1.0;  // treated as beyond the interval
    return 2 * (top - model.log_likelihood(x)) - kTwoSided95;
  };
  std::pair<double, double> out;
  for (const double side : {-1.0, 1.0}) {
    double step = std::max(2 * se, 10.0), reach = step;
    x = best;
    while (excess(best[i] + side * reach) < 0 && reach < kFarthest) reach = std::min(kFarthest, reach * 2);
    x = best;
    const double edge = side < 0 ? -rising_root([&](double d) { return excess(best[i] - d); }, 0, reach)
                                 : rising_root([&](double d) { return excess(best[i] + d); }, 0, reach);
    (side < 0 ? out.first : out.second) = best[i] + edge;
  }
  return out;
}

// One-sided 95 % bounds for the players outside the rated component, from
// their games against players already rated or bounded the same way: a
// player that won every such game is at least the strength at which that
// sweep had the likelihood ratio of the bound, and the reverse.
void bound_the_rest(const Results& r, std::vector<PlayerRating>& out, std::vector<bool>& known) {
  for (bool grew = true; grew;) {
    grew = false;
    for (std::size_t v = 0; v < r.size(); ++v) {
      if (known[v]) continue;
      for (const int side : {1, -1}) {
        std::vector<std::pair<double, double>> games;  // opponent's rating, count
        bool clean = true;
        for (std::size_t j = 0; j < r.size(); ++j) {
          if (!known[j] || r.count[v][j] == 0 || out[j].bound == -side) continue;
          if (r.points[v][j] != (side > 0 ? r.count[v][j] : 0)) clean = false;
          games.emplace_back(out[j].rating, r.count[v][j]);
        }
        if (games.empty() || !clean) continue;
        const auto log_l = [&](double t) {
          double l = 0;
          for (auto [rj, n] : games) l += n * std::log(side > 0 ? expected(t, rj) : 1 - expected(t, rj));
          return l;
        };
        double lo = games.front().first - kFarthest, hi = games.front().first + kFarthest;
        for (auto [rj, n] : games) lo = std::min(lo, rj - kFarthest), hi = std::max(hi, rj + kFarthest);
        const double bound = side > 0 ? rising_root([&](double t) { return 2 * log_l(t) + kOneSided95; }, lo, hi)
                                      : -rising_root([&](double t) { return 2 * log_l(-t) + kOneSided95; }, -hi, -lo);
        out[v].rating = out[v].low = out[v].high = bound;
        out[v].bound = side;
        known[v] = grew = true;
        break;
      }
    }
  }
  std::string lost;
  for (std::size_t v = 0; v < r.size(); ++v)
    if (!known[v]) lost += (lost.empty() ? "" : ", ") + r.players[v].name;
  if (!lost.empty())
    throw RatingError(fmt::format("{} meet the anchors only through players who are themselves only bounded", lost));
}

}  // namespace

RatingTable fit_ratings(const std::vector<GameScore>& games, const std::vector<Anchor>& anchors, double prior_draws) {
  if (games.empty()) throw RatingError("there are no scored games to rate");
  if (anchors.empty()) throw RatingError("there is no anchor to rate from");
  const Results results(games);
  const std::size_t n = results.size();
  std::vector<bool> anchored(n, false);
  std::vector<double> x(n, 0);
  RatingTable table;
  for (const Anchor& a : anchors) {
    const auto it = results.index.find(a.name);
    if (it == results.index.end()) throw RatingError(fmt::format("the anchor '{}' played none of the games", a.name));
    if (anchored[it->second]) continue;
    anchored[it->second] = true;
    x[it->second] = a.elo;
    table.anchors.push_back(a);
  }
  require_chains(results, anchored);

  // Start the free players at the mean anchor, then fit.
  const std::vector<bool> rated = rated_players(results, anchored);
  std::vector<std::size_t> members;
  double mean = 0;
  for (const Anchor& a : table.anchors) mean += a.elo / static_cast<double>(table.anchors.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (rated[i]) members.push_back(i);
    if (!anchored[i]) x[i] = mean;
  }
  const auto fitted = [&](double w, const Matrix& dispersion) {
    std::vector<double> y = x;
    if (!Model(results, members, w, dispersion).maximise(y, anchored))
      throw RatingError("the games do not determine the ratings");
    return y;
  };
  // The dispersions at the plain fit, then the fit that weighs each pairing by its own.
  const Matrix dispersion = dispersions(results, rated, fitted(prior_draws, {}), table.pair_spread);
  const auto weighed = [&](double w) { return fitted(w, dispersion); };
  const Model model(results, members, prior_draws, dispersion);
  const std::vector<double> best = weighed(prior_draws);
  const std::vector<double> half = weighed(prior_draws / 2), twice = weighed(prior_draws * 2);
  const std::vector<double> se = model.standard_errors(best, anchored);

  std::vector<PlayerRating> out = results.players;
  std::vector<bool> known(n, false);
  for (std::size_t i : members) {
    PlayerRating& p = out[i];
    known[i] = true;
    p.rating = p.low = p.high = best[i];
    p.anchor = anchored[i];
    if (p.anchor) continue;
    std::tie(p.low, p.high) = profile_interval(model, best, anchored, i, se[i]);
    p.margin = std::max(p.rating - p.low, p.high - p.rating);
    p.prior_shift = std::max(std::abs(half[i] - best[i]), std::abs(twice[i] - best[i]));
  }
  bound_the_rest(results, out, known);
  std::stable_sort(out.begin(), out.end(), [](const PlayerRating& a, const PlayerRating& b) { return a.rating > b.rating; });
  table.players = std::move(out);
  table.prior_draws = prior_draws;
  return table;
}

}  // namespace ai_players::app
