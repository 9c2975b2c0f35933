// A tournament's game list, its slices for several machines, and one game of
// it played from its opening to a PGN record, adjudicated when asked.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "game.h"
#include "openings.h"
#include "pgn.h"
#include "time_control.h"

namespace ai_players::app {

enum class TournamentFormat { RoundRobin, Gauntlet };

struct ScheduledGame {
  int index = 0;        // position in the whole tournament, from 0
  int round = 1;        // from 1
  std::string white, black;
  std::size_t opening = 0;  // index into the openings
  std::uint64_t seed = 0;   // fixes the game on its own
};

// Every game: in each round every pairing (each pair of names, or the first
// name against each other one) plays one opening twice with colours swapped.
// Openings are taken in an order shuffled by the seed, one per pairing and
// round, cycling when there are fewer openings than pairings.
std::vector<ScheduledGame> schedule_games(const std::vector<std::string>& names, TournamentFormat format,
                                          int rounds, std::size_t openings, std::uint64_t seed);

// The seed of one game from the tournament's seed and the game's index.
std::uint64_t game_seed(std::uint64_t tournament_seed, int index);

// "K/N": the K-th of N slices, 1 <= K <= N.
struct Shard {
  int k = 1, n = 1;
};
Shard parse_shard(const std::string& text);  // throws std::invalid_argument
// The games whose index is K-1 modulo N: disjoint slices whose union is the
// whole list, each with a fair share of every pairing.
std::vector<ScheduledGame> shard_of(const std::vector<ScheduledGame>& games, Shard shard);

// When the engine may end a game early, in pawns and plies.
struct AdjudicationRule {
  int depth = 8;                // the judge's search depth
  int win_cp = 600;             // a side ahead by this much...
  int win_plies = 8;            // ...after this many plies in a row wins
  int draw_cp = 10;             // a score within this...
  int draw_plies = 20;          // ...for this many plies in a row...
  int draw_from_ply = 60;       // ...ending at or after this ply is a draw
};

// A score from White's side; a mate counts as beyond any margin.
struct Evaluation {
  int cp = 0;
  std::optional<int> mate;  // moves to mate, negative when Black mates
  int white_cp() const { return mate ? (*mate > 0 ? 100000 : -100000) : cp; }
};

struct Verdict {
  std::string result;  // "1-0", "0-1", "1/2-1/2"
  std::string reason;  // for the PGN comment
};

// Counts the plies in a row beyond the margins, fed one evaluation per ply.
class Adjudicator {
 public:
  explicit Adjudicator(AdjudicationRule rule = {}) : rule_(rule) {}
  // The evaluation of the position after ply `ply` (counted from 1).
  std::optional<Verdict> add(int ply, const Evaluation& eval);

 private:
  AdjudicationRule rule_;
  int white_ahead_ = 0, black_ahead_ = 0, level_ = 0;
};

// Evaluates the position of a game (start FEN plus moves) for the adjudicator.
using Judge = std::function<Evaluation(const std::string& start_fen, const board::MoveList& moves)>;

// What one tournament game is.
struct GameTerms {
  std::string event = "?", site = "?", round = "?";
  std::string white, black;
  std::string white_elo, black_elo;  // roster strengths for the PGN; may be empty
  Opening opening;
  int max_plies = 0;                 // 0: none; the limit counts the opening's moves too
  std::optional<TimeControl> clock;
  std::uint64_t seed = 0;
};

// Plays the opening's moves, then the movers; a game over max_plies is a
// draw by adjudication, so is a judge's verdict (with a judge). The PGN has
// the standard Termination value and the specific reason as a comment.
PgnGame play_tournament_game(const GameTerms& terms, const Mover& white, const Mover& black,
                             const Judge& judge = {}, AdjudicationRule rule = {});

}  // namespace ai_players::app
