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

Anchor default_anchor(const std::vector<std::string>& players, const std::vector<GameScore>& games,
                      std::string& why) {
  for (const std::string& p : players)
    if (p.size() > 8 && p.starts_with("HOUD20c:"))
      if (auto elo = roster_strength(p)) {
        why = "Stockfish's own strength limit, UCI_Elo";
        return Anchor{p, double(*elo)};
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
  return Anchor{best, elo ? double(*elo) : 0.0};
}

std::string ratings_tsv(const RatingTable& table) {
  std::string out = "name\trating\tmargin\tgames\tbound\twins\tdraws\tlosses\n";
  for (const PlayerRating& p : table.players) {
    const int bound = p.games && p.wins == p.games ? 1 : p.games && p.losses == p.games ? -1 : 0;
    out += fmt::format("{}\t{:.1f}\t{:.1f}\t{}\t{}\t{}\t{}\t{}\n", p.name, p.rating, p.margin, p.games, bound,
                       p.wins, p.draws, p.losses);
  }
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

std::vector<GameScore> scores_from_pgn(const std::vector<PgnGame>& records, int& unfinished) {
  std::vector<GameScore> scores;
  for (const PgnGame& r : records) {
    const std::string result = r.tag("Result").empty() ? r.result : r.tag("Result");
    if (auto points = white_points(result)) scores.push_back({r.tag("White"), r.tag("Black"), *points});
    else ++unfinished;
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

std::string format_rating_table(const RatingTable& table, const std::string& anchor_note) {
  std::size_t width = 6;
  for (const PlayerRating& p : table.players) width = std::max(width, p.name.size());
  std::string out = fmt::format("{:>4}  {:<{}}  {:>6}  {:>6}  {:>6}  {:>5}  {:>7}  {}\n", "Rank", "Name", width,
                                "Roster", "Rating", "95 %", "Games", "Score", "W-D-L");
  int rank = 0;
  for (const PlayerRating& p : table.players) {
    const auto roster = roster_strength(p.name);
    const bool anchor = p.name == table.anchor.name;
    out += fmt::format("{:>4}  {:<{}}  {:>6}  {:>6.0f}  {:>6}  {:>5}  {:>6.1f}%  {}-{}-{}\n", ++rank, p.name, width,
                       roster ? std::to_string(*roster) : "-", p.rating,
                       anchor ? "anchor" : fmt::format("±{:.0f}", p.margin), p.games,
                       p.games ? 100 * p.points() / p.games : 0.0, p.wins, p.draws, p.losses);
  }
  out += fmt::format("Anchor: {} fixed at {:g} ({}). Ratings by maximum likelihood (Bradley-Terry, logistic Elo "
                     "scale, draws as half points); 95 % intervals relative to the anchor.\n",
                     table.anchor.name, table.anchor.elo, anchor_note);
  if (table.virtual_draws)
    out += fmt::format("{} pairing{} won in every game by one side, with no other results leading back, got one virtual "
                       "draw each: without it the ratings have no finite maximum.\n",
                       table.virtual_draws, table.virtual_draws == 1 ? "" : "s");
  return out;
}

}  // namespace ai_players::app
