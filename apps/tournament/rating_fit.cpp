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

RatingTable fit_ratings(const std::vector<GameScore>& games, const Anchor& anchor) {
  if (games.empty()) throw RatingError("there are no scored games to rate");
  std::map<std::string, std::size_t> index;
  std::vector<PlayerRating> players;
  auto id = [&](const std::string& name) {
    auto [it, added] = index.emplace(name, players.size());
    if (added) players.push_back(PlayerRating{name});
    return it->second;
  };
  for (const GameScore& g : games) {
    id(g.white);
    id(g.black);
  }
  const auto anchor_it = index.find(anchor.name);
  if (anchor_it == index.end())
    throw RatingError(fmt::format("the anchor '{}' played none of the games", anchor.name));
  const std::size_t n = players.size();
  // games[i][j]: games between i and j; points[i][j]: what i scored in them.
  std::vector<std::vector<double>> count(n, std::vector<double>(n, 0)), points = count;
  for (const GameScore& g : games) {
    const std::size_t w = index[g.white], b = index[g.black];
    if (w == b) continue;  // a player against itself says nothing about its rating
    count[w][b] += 1;
    count[b][w] += 1;
    points[w][b] += g.white_points;
    points[b][w] += 1 - g.white_points;
    for (auto [p, s] : {std::pair{w, g.white_points}, std::pair{b, 1 - g.white_points}}) {
      ++players[p].games;
      (s == 1 ? players[p].wins : s == 0 ? players[p].losses : players[p].draws) += 1;
    }
  }

  // Everyone must be linked to the anchor through games.
  {
    std::vector<bool> seen(n, false);
    std::vector<std::size_t> stack{anchor_it->second};
    seen[anchor_it->second] = true;
    while (!stack.empty()) {
      const std::size_t i = stack.back();
      stack.pop_back();
      for (std::size_t j = 0; j < n; ++j)
        if (!seen[j] && count[i][j] > 0) seen[j] = true, stack.push_back(j);
    }
    std::string lost;
    for (std::size_t i = 0; i < n; ++i)
      if (!seen[i]) lost += (lost.empty() ? "" : ", ") + players[i].name;
    if (!lost.empty())
      throw RatingError(fmt::format("no chain of games links {} to the anchor {}", lost, anchor.name));
  }

  RatingTable table;
  table.anchor = anchor;
  // A virtual draw on each pairing that met across groups, and only there: the
  // results within a group keep their full weight.
  const std::vector<std::size_t> group = score_groups(points);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      if (group[i] != group[j] && count[i][j] > 0) count[i][j] += 1, points[i][j] += 0.5, table.virtual_draws += i < j;

  // Newton's method on the log-likelihood over every rating but the anchor's.
  const std::size_t a = anchor_it->second;
  std::vector<std::size_t> free;
  for (std::size_t i = 0; i < n; ++i)
    if (i != a) free.push_back(i);
  std::vector<double> r(n, anchor.elo);
  std::vector<std::vector<double>> info;
  auto information = [&] {
    info.assign(free.size(), std::vector<double>(free.size(), 0));
    for (std::size_t x = 0; x < free.size(); ++x)
      for (std::size_t j = 0; j < n; ++j) {
        const std::size_t i = free[x];
        if (j == i || count[i][j] == 0) continue;
        const double p = expected(r[i], r[j]);
        const double w = kLog10Over400 * kLog10Over400 * count[i][j] * p * (1 - p);
        info[x][x] += w;
        const auto y = std::find(free.begin(), free.end(), j);
        if (y != free.end()) info[x][y - free.begin()] -= w;
      }
  };
  for (int iteration = 0; iteration < 500; ++iteration) {
    std::vector<double> step(free.size(), 0);
    for (std::size_t x = 0; x < free.size(); ++x)
      for (std::size_t j = 0; j < n; ++j)
        if (count[free[x]][j] > 0)
          step[x] += kLog10Over400 * (points[free[x]][j] - count[free[x]][j] * expected(r[free[x]], r[j]));
    information();
    if (!solve_spd(info, step)) throw RatingError("the games do not determine the ratings");
    double largest = 0;
    for (double s : step) largest = std::max(largest, std::abs(s));
    // Far from the maximum a full step can overshoot; walk there in bounded strides.
    const double scale = largest > 200 ? 200 / largest : 1;
    for (std::size_t x = 0; x < free.size(); ++x) r[free[x]] += scale * step[x];
    if (largest < 1e-7) break;
  }
  information();
  for (std::size_t x = 0; x < free.size(); ++x) {
    std::vector<double> unit(free.size(), 0);
    unit[x] = 1;
    solve_spd(info, unit);
    players[free[x]].margin = 1.959964 * std::sqrt(unit[x]);
  }
  for (std::size_t i = 0; i < n; ++i) players[i].rating = r[i];
  std::stable_sort(players.begin(), players.end(),
                   [](const PlayerRating& x, const PlayerRating& y) { return x.rating > y.rating; });
  table.players = std::move(players);
  return table;
}

}  // namespace ai_players::app
