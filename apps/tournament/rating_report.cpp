#include "tournament/rating_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

#include "players/persona_factory.h"
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
  throw UserError(fmt::format("{} is not NAME=ELO (for example HOUD20c:1350=1350)", quoted_excerpt(text, 100)));
}

Anchor default_anchor(const std::vector<std::string>& players, std::string& why) {
  for (const std::string& p : players)
    if (p.size() > 8 && p.starts_with("HOUD20c:"))
      if (auto elo = roster_strength(p)) {
        why = "Stockfish's own strength limit, UCI_Elo";
        return Anchor{p, double(*elo)};
      }
  if (players.empty()) throw RatingError("there are no players to anchor");
  if (auto elo = roster_strength(players.front())) {
    why = "its roster strength";
    return Anchor{players.front(), double(*elo)};
  }
  why = "the first player met, at 0";
  return Anchor{players.front(), 0};
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
