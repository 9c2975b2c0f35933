// The player's rating from their stored games against personas of measured
// strength, each persona held at its measured rating; and whom to play next.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "games_db/game_store.h"
#include "players/measured_ratings.h"
#include "tournament/rating_fit.h"

namespace ai_players::app {

// The prior on the player: one virtual draw against each persona they met.
// A few lucky games then cannot put them hundreds of points off, and the
// games soon outweigh it; a clean sweep still gives a bound, not a number.
inline constexpr double kPlayerPriorDraws = 1;

struct SkippedGame {
  std::int64_t id = 0;
  std::string reason;
};

struct PlayerStanding {
  std::optional<PlayerRating> rating;  // none without a counted game
  std::vector<std::int64_t> counted;
  std::vector<SkippedGame> skipped;  // in the order given, with the rule that left each out
};

// A stored persona's rating on the measured scale: its own measured rating,
// or for the engine persona at a strength that was not measured, one read
// between the measured strengths around it. None when it was not measured
// or only bounded (it won or lost every calibration game).
std::optional<double> persona_rating(const std::string& persona, std::optional<int> strength,
                                     const std::map<std::string, MeasuredRating>& measured);

// Counts finished games of a person against a measured persona from the
// standard start without undo or hints; the fit is fit_ratings' with the
// personas as anchors and kPlayerPriorDraws.
PlayerStanding rate_player(const std::vector<StoredGame>& games,
                           const std::map<std::string, MeasuredRating>& measured);

// The player's rating after each counted game, oldest first, for a graph.
struct RatingPoint {
  std::int64_t game_id = 0;  // the counted game it follows
  std::string date;          // that game's day, "2026-01-31"
  PlayerRating rating;
};
// `games` newest first, as the store gives them; one point per counted game.
std::vector<RatingPoint> rating_history(const std::vector<StoredGame>& games,
                                        const std::map<std::string, MeasuredRating>& measured);

struct Opponent {
  std::string name;  // as make_persona takes it: "Diana", "HOUD20c:1720"
  double rating = 0;
  double expected = 0;  // its expected score against the player, 0 to 1
};

// Of the personas offered to people that have a measured rating, and the
// engine persona at any multiple of 10 between its measured strengths, the
// one whose expected score against a player of `rating` is nearest `target`.
std::optional<Opponent> suggest_opponent(double rating, double target,
                                         const std::map<std::string, MeasuredRating>& measured);

// What a player without a counted game is taken to be for a suggestion.
inline constexpr double kNewPlayerRating = 800;

// The rating, its interval and the games left out, by rule, as lines.
std::string standing_text(const PlayerStanding& standing);
// "Suggested next: Diana (1266), expected to score 50 % against you."
std::string suggestion_text(const Opponent& opponent, const PlayerStanding& standing);

}  // namespace ai_players::app
