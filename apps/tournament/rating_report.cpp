#include "tournament/rating_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include <map>

#include "players/persona_factory.h"
#include "tournament/match_stats.h"
#include "ai_players/core/text.h"
#include "game/user_error.h"

namespace ai_players::app {

Anchor parse_anchor(const std::string& text) {
  const auto eq = text.rfind('=');
  Anchor anchor;
  if (eq != std::string::npos && eq > 0) {
    anchor.name = text.substr(0, eq);
    const char* first = text.data() + eq + 1;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, anchor.elo);
    if (ec == std::errc() && end == last && first != last && std::isfinite(anchor.elo)) return anchor;
  }
  throw UserError(fmt::format("{} is not NAME=ELO (for example HOUD20c:1350=1350)", echoed(text)));
}

std::vector<Anchor> default_anchors(const std::vector<std::string>& players, const std::vector<GameScore>& games,
                                    std::string& why) {
  std::vector<Anchor> anchors;
  for (const std::string& p : players)
    if (const auto id = find_persona(p); id && id->strength_named)
      anchors.push_back(Anchor{p, double(id->roster_strength())});
  if (!anchors.empty()) {
    why = "Stockfish's own strength limit, UCI_Elo";
    return anchors;
  }
  if (players.empty()) throw RatingError("there are no players to anchor");
  std::map<std::string, Tally> tally;
  for (const GameScore& g : games) {
    const std::string result = g.white_points == 1 ? "1-0" : g.white_points == 0 ? "0-1" : "1/2-1/2";
    tally[g.white].add(result, true);
    tally[g.black].add(result, false);
  }
  std::string best = players.front();
  int most = -1;
  for (const std::string& p : players) {
    const Tally& t = tally[p];
    const bool swept = t.wins == t.scored_games() || t.losses == t.scored_games();
    if (!swept && t.scored_games() > most) best = p, most = t.scored_games();
  }
  const auto elo = roster_strength(best);
  why = fmt::format("{}{}", elo ? "its roster strength" : "0, as it is no persona",
                    most >= 0 ? "; the player the games fix best" : "");
  return {Anchor{best, elo ? double(*elo) : 0.0}};
}

// Every figure as the fit has it (the shortest text that reads back as the same
// number): `list` rounds these for display as `ratings` rounds its own, so the
// two never differ by a rounding of a rounding.
std::string ratings_tsv(const RatingTable& table) {
  std::string out = "name\trating\tmargin\tgames\tbound\twins\tdraws\tlosses\tlow\thigh\tprior\n";
  for (const PlayerRating& p : table.players)
    out += fmt::format("{}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\t{}\n", p.name, p.rating, p.margin,
                       p.games, p.bound, p.wins, p.draws, p.losses, p.low, p.high, p.prior_shift);
  return out;
}

std::string format_head_to_head(const std::vector<GameScore>& games) {
  std::vector<std::pair<std::string, std::string>> order;
  std::map<std::pair<std::string, std::string>, Tally> pairs;
  for (const GameScore& g : games) {
    const bool swapped = pairs.count({g.black, g.white}) > 0;
    const auto key = swapped ? std::pair{g.black, g.white} : std::pair{g.white, g.black};
    if (!pairs.count(key)) order.push_back(key);
    const std::string result = g.white_points == 1 ? "1-0" : g.white_points == 0 ? "0-1" : "1/2-1/2";
    pairs[key].add(result, !swapped);
  }
  std::size_t width = 8;
  for (const auto& [a, b] : order) width = std::max(width, a.size() + b.size() + 3);
  std::string out = fmt::format("{:<{}}  {:>5}  {:>9}  {:>6}  {:>12}  {:>5}\n", "Pairing", width, "Games", "W-D-L",
                                "Score", "Elo", "LOS");
  for (const auto& key : order) {
    const Tally& t = pairs[key];
    const double decisive = t.wins + t.losses;
    const double los = decisive ? 0.5 * (1 + std::erf((t.wins - t.losses) / std::sqrt(2 * decisive))) : 0.5;
    out += fmt::format("{:<{}}  {:>5}  {:>9}  {:>5.1f}%  {:>12}  {:>4.0f}%\n", key.first + " - " + key.second, width,
                       t.scored_games(), fmt::format("{}-{}-{}", t.wins, t.draws, t.losses), 100 * t.score(),
                       format_elo(estimate_elo(t)), 100 * los);
  }
  return out;
}

namespace {

// A tournament's Round "R.I" (I counts every game from 1) puts games 2k+1 and
// 2k+2 on one opening with colours swapped: their pair is "R/k". Any other
// Round leaves a game on its own.
std::string pair_of(const std::string& round) {
  const auto dot = round.find('.');
  int r = 0, i = 0;
  const char* end = round.data() + round.size();
  if (dot == std::string::npos) return {};
  const auto first = std::from_chars(round.data(), round.data() + dot, r);
  const auto second = std::from_chars(round.data() + dot + 1, end, i);
  if (first.ec != std::errc() || first.ptr != round.data() + dot || second.ec != std::errc() || second.ptr != end ||
      i < 1)
    return {};
  return fmt::format("{}/{}", r, (i - 1) / 2);
}

}  // namespace

std::vector<GameScore> scores_from_pgn(const std::vector<PgnGame>& records, int& unfinished) {
  std::vector<GameScore> scores;
  for (const PgnGame& r : records) {
    const std::string result = r.tag("Result").empty() ? r.result : r.tag("Result");
    if (auto points = white_points(result))
      scores.push_back({r.tag("White"), r.tag("Black"), *points, pair_of(r.tag("Round"))});
    else
      ++unfinished;
  }
  return scores;
}

std::vector<std::string> players_of(const std::vector<GameScore>& games) {
  std::vector<std::string> players;
  for (const GameScore& g : games)
    for (const std::string* name : {&g.white, &g.black})
      if (std::find(players.begin(), players.end(), *name) == players.end()) players.push_back(*name);
  return players;
}

namespace {

std::string rating_cell(const PlayerRating& p) {
  if (p.bound) return fmt::format("{}{:.0f}", p.bound > 0 ? "\u2265" : "\u2264", p.rating);
  return fmt::format("{:.0f}", p.rating);
}

std::string interval_cell(const PlayerRating& p) {
  if (p.anchor) return "anchor";
  if (p.bound) return "bound";
  return fmt::format("{:.0f}..{:.0f}", p.low, p.high);
}

}  // namespace

std::string format_rating_table(const RatingTable& table, const std::string& anchor_note) {
  std::size_t width = 6;
  for (const PlayerRating& p : table.players) width = std::max(width, p.name.size());
  const bool prior = table.prior_draws > 0;  // then a column for its pull
  std::string out = fmt::format("{:>4}  {:<{}}  {:>6}  {:>6}  {:>11}  {}{:>5}  {:>7}  {}\n", "Rank", "Name", width,
                                "Roster", "Rating", "95 %", prior ? "Prior  " : "", "Games", "Score", "W-D-L");
  int rank = 0;
  std::vector<std::string> leaning;
  for (const PlayerRating& p : table.players) {
    const auto roster = roster_strength(p.name);
    // Characters, not bytes: a bound's sign is one character of three bytes.
    const std::size_t pad = p.bound ? 2 : 0;
    const std::string pull = p.anchor || p.bound ? "-" : fmt::format("{:.0f}", p.prior_shift);
    out += fmt::format("{:>4}  {:<{}}  {:>6}  {:>{}}  {:>11}  {}{:>5}  {:>6.1f}%  {}-{}-{}\n", ++rank, p.name, width,
                       roster ? std::to_string(*roster) : "-", rating_cell(p), 6 + pad, interval_cell(p),
                       prior ? fmt::format("{:>5}  ", pull) : "", p.games, p.games ? 100 * p.points() / p.games : 0.0,
                       p.wins, p.draws, p.losses);
    if (p.rests_on_prior()) leaning.push_back(p.name);
  }
  std::vector<std::string> anchors;
  for (const Anchor& a : table.anchors) anchors.push_back(fmt::format("{} at {:g}", a.name, a.elo));
  out += fmt::format("Anchor{}: {} ({}). Ratings by maximum likelihood (Bradley-Terry, logistic Elo scale, draws as "
                     "half points), 95 % intervals by profile likelihood, each pairing weighed by the spread of its "
                     "results (its draws; games paired on an opening spread {:.2f} times as much as apart).\n",
                     anchors.size() == 1 ? "" : "s", fmt::join(anchors, ", "), anchor_note, table.pair_spread);
  if (table.prior_draws > 0)
    out += fmt::format("Prior: {:g} virtual draw{} on each pairing that met, among players whose results lead to the "
                       "anchors and back; Prior: how far a rating moves when its weight is halved or doubled.\n",
                       table.prior_draws, table.prior_draws == 1 ? "" : "s");
  else
    out += "No prior: every rating comes from the games alone.\n";
  if (std::any_of(table.players.begin(), table.players.end(), [](const PlayerRating& p) { return p.bound; }))
    out += "\u2265 and \u2264: players who won (lost) every game against the rated players, with one-sided 95 % "
           "bounds from those games alone.\n";
  if (!leaning.empty())
    out += fmt::format("Warning: the prior moves {} by more than a quarter of the interval: more games are needed.\n",
                       fmt::join(leaning, ", "));
  return out;
}

}  // namespace ai_players::app
