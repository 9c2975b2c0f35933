// A person's pace: how long a player of the persona's strength would look at
// the position before playing the move the persona chose. The host holds the
// reply back until then; the move itself never changes, and the draws come
// from a random stream of their own, so the library's draws stay as they are.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "ai_players/host/board.h"

namespace ai_players::app {

using std::chrono::milliseconds;

// The time a person takes, drawn from a log-normal around a median:
// - the only legal move: 0.3 to 0.8 s;
// - a recapture on the square the opponent just took on: 0.5 to 1.5 s;
// - the first kOpeningMoves moves from the standard start: 0.5 to 2 s;
// - otherwise a median of 1.5 s + 0.05 s a legal move + 1 s when a capture
//   is on the board, times 0.8 for beginners (under 1000) and 1.3 for the
//   strong (from 1800); the spread (sigma of the log) 0.6 for beginners, 0.45
//   for the others; at most kLongestThink.
class HumanPace {
 public:
  static constexpr int kOpeningMoves = 6;
  static constexpr milliseconds kLongestThink{20000};

  explicit HumanPace(std::uint64_t seed) : gen_(seed) {}

  // The whole time for `reply`, a legal move of `position` (the position
  // before it), played by a persona of `strength`; `last` is the opponent's
  // move before it, if any, and `from_start` whether the game began at the
  // standard position.
  milliseconds time_for(const board::Board& position, const board::Move& reply, const board::Move* last,
                        int strength, bool from_start);
  // In words, for the docs and the note of a reply: "forced", "recapture", ...
  static std::string kind_of(const board::Board& position, const board::Move& reply, const board::Move* last,
                             bool from_start);

 private:
  std::mt19937_64 gen_;
};

// The pace's own seed from a game's seed: another stream than the library's.
inline std::uint64_t pace_seed(std::uint64_t game_seed) { return game_seed ^ 0x9e3779b97f4a7c15ULL; }

}  // namespace ai_players::app
