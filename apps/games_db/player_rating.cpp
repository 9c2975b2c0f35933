#include "games_db/player_rating.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "ai_players/core/text.h"
#include "game/numbers.h"
#include "players/persona_factory.h"

namespace ai_players::app {
namespace {

std::string engine_persona() {
  for (const PersonaEntry& e : persona_entries())
    if (e.gang == Gang::Engine) return e.name;
  return {};
}

// The persona plays at the strength it asks of its engine.
bool is_engine_persona(const std::string& name) {
  const auto id = find_persona(name);
  return id && id->elo_limited;
}

// The engine persona's measured strengths (asked for -> rating), lowest first.
std::map<int, double> engine_points(const std::map<std::string, MeasuredRating>& measured) {
  std::map<int, double> points;
  for (const auto& [name, m] : measured)
    if (const auto id = find_persona(name); id && id->elo_limited && id->strength_named && m.bound == 0)
      points[id->roster_strength()] = m.rating;
  return points;
}

std::optional<double> between(const std::map<int, double>& points, int asked) {
  const auto above = points.lower_bound(asked);
  if (above == points.end()) return std::nullopt;
  if (above->first == asked) return above->second;
  if (above == points.begin()) return std::nullopt;
  const auto below = std::prev(above);
  const double share = double(asked - below->first) / (above->first - below->first);
  return below->second + share * (above->second - below->second);
}

double expected_score(double rating, double against) { return 1 / (1 + std::pow(10.0, (against - rating) / 400)); }

}  // namespace

std::optional<double> persona_rating(const std::string& persona, std::optional<int> strength,
                                     const std::map<std::string, MeasuredRating>& measured) {
  if (const auto it = measured.find(persona); it != measured.end()) {
    if (it->second.bound != 0) return std::nullopt;
    return it->second.rating;
  }
  if (!is_engine_persona(persona)) return std::nullopt;
  const auto asked = strength ? strength : roster_strength(persona);
  return asked ? between(engine_points(measured), *asked) : std::nullopt;
}

PlayerStanding rate_player(const std::vector<StoredGame>& games,
                           const std::map<std::string, MeasuredRating>& measured) {
  PlayerStanding out;
  std::vector<GameScore> scores;
  std::vector<Anchor> anchors;
  for (const StoredGame& g : games) {
    const auto points = g.player_points();
    const auto rating = persona_rating(g.header.persona, g.header.persona_elo, measured);
    std::string why;
    if (!g.header.human_side) why = "no person played";
    else if (!points) why = "unfinished";
    else if (g.header.start_fen != common::FEN_New_Game) why = "set-up start position";
    else if (g.undos > 0 || g.hints > 0) why = "moves taken back or hints asked for";
    else if (!rating)
      why = fmt::format("{}{} has no measured rating", g.header.persona,
                        is_engine_persona(g.header.persona) && g.header.persona_elo
                            ? fmt::format(" at {}", *g.header.persona_elo)
                            : "");
    if (!why.empty()) {
      out.skipped.push_back({g.id, why});
      continue;
    }
    // Each strength of the engine persona is a player of its own.
    const std::string name = fmt::format("{}@{:.1f}", g.header.persona, *rating);
    scores.push_back({kHumanName, name, *points});
    anchors.push_back({name, *rating});
    out.counted.push_back(g.id);
  }
  if (scores.empty()) return out;
  for (const PlayerRating& p : fit_ratings(scores, anchors, kPlayerPriorDraws).players)
    if (p.name == kHumanName) out.rating = p;
  return out;
}

std::vector<RatingPoint> rating_history(const std::vector<StoredGame>& games,
                                        const std::map<std::string, MeasuredRating>& measured) {
  const PlayerStanding all = rate_player(games, measured);
  std::vector<RatingPoint> out;
  std::vector<StoredGame> so_far;  // the counted games up to each point
  for (auto g = games.rbegin(); g != games.rend(); ++g) {
    if (std::find(all.counted.begin(), all.counted.end(), g->id) == all.counted.end()) continue;
    so_far.push_back(*g);
    if (const auto rating = rate_player(so_far, measured).rating)
      out.push_back({g->id, g->header.started.substr(0, 10), *rating});
  }
  return out;
}

std::optional<Opponent> suggest_opponent(double rating, double target,
                                         const std::map<std::string, MeasuredRating>& measured) {
  std::vector<Opponent> candidates;
  for (const PersonaEntry& e : offered_entries())
    if (e.gang != Gang::Engine)
      if (const auto r = persona_rating(e.name, std::nullopt, measured)) candidates.push_back({e.name, *r});
  // The engine persona at every multiple of 10 within its measured strengths.
  if (const auto points = engine_points(measured); !points.empty())
    for (int asked = (points.begin()->first + 9) / 10 * 10; asked <= points.rbegin()->first; asked += 10)
      candidates.push_back({fmt::format("{}:{}", engine_persona(), asked), *between(points, asked)});
  std::optional<Opponent> best;
  for (Opponent& c : candidates) {
    c.expected = expected_score(c.rating, rating);
    if (!best || std::abs(c.expected - target) < std::abs(best->expected - target)) best = c;
  }
  return best;
}

std::string standing_text(const PlayerStanding& standing) {
  std::string text;
  if (const auto& r = standing.rating; !r) {
    text = "No rating yet: it counts finished games against a persona with a measured rating ('ai-players list'), "
           "from the standard start, without undo or hints.\n";
  } else if (r->bound) {
    text = fmt::format("Your rating: {} {:.0f} (95 %): you {} all {} counted.\n", r->bound > 0 ? "at least" : "at most",
                       r->rating, r->bound > 0 ? "won" : "lost", counted(r->games, "game"));
  } else {
    text = fmt::format("Your rating: {:.0f} (95 %: {:.0f} to {:.0f}) from {} against measured personas.\n", r->rating,
                       r->low, r->high, counted(r->games, "game"));
    if (r->rests_on_prior()) text += "It rests much on the prior (a virtual draw per persona met): play more games.\n";
  }
  // Games by rule, each rule once.
  std::vector<std::pair<std::string, std::vector<std::int64_t>>> rules;
  for (const SkippedGame& s : standing.skipped) {
    auto it = std::find_if(rules.begin(), rules.end(), [&](const auto& r) { return r.first == s.reason; });
    if (it == rules.end()) it = rules.insert(rules.end(), {s.reason, {}});
    it->second.push_back(s.id);
  }
  std::vector<std::string> parts;
  for (const auto& [reason, ids] : rules)
    parts.push_back(fmt::format("{} ({} {})", reason, ids.size() == 1 ? "game" : "games", fmt::join(ids, ", ")));
  if (!parts.empty()) text += fmt::format("Not counted: {}.\n", fmt::join(parts, "; "));
  return text;
}

std::string suggestion_text(const Opponent& opponent, const PlayerStanding& standing) {
  return fmt::format("Suggested next: {} ({:.0f}), expected to score {:.0f} % against {}.", opponent.name, opponent.rating,
                     100 * opponent.expected,
                     standing.rating ? "you" : fmt::format("a new player (taken as {:.0f})", kNewPlayerRating));
}

}  // namespace ai_players::app
