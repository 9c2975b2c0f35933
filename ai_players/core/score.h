// Engine scores as values that know what they are: centipawns or a mate, and
// from whose side. Every reader of a score (previews, reviews, adjudication)
// decodes mates here.
#pragma once

#include <string>

#include "ai_players/host/common.h"

namespace ai_players {

// A score in the engine's units: centipawns, or a mate in x moves encoded as
// MATE_IN(x) (negative: being mated).
class Score {
 public:
  constexpr Score() = default;
  constexpr explicit Score(int value) : value_(value) {}
  // A mate in `moves` (negative: mated in -moves), as the engine reports "score mate N".
  static Score mate_in(int moves);

  constexpr int value() const { return value_; }
  // Mate scores sit far above any centipawn value; the bound leaves room for long mates.
  constexpr bool is_mate() const { return value_ > common::MATE / 2 || value_ < -common::MATE / 2; }
  // Moves to mate: positive when this side mates, negative when it is mated; 0 for centipawns.
  int mate() const;
  // Centipawns within ±cap; a mate counts as ±cap.
  int clamped(int cap) const;
  constexpr Score operator-() const { return Score(-value_); }
  friend constexpr bool operator==(Score, Score) = default;

  // "+0.25", "-1.30" (pawns), "mate in 3", "mated in 2".
  std::string text() const;
  // As a [%eval] command writes it: "0.35", "-1.20", "#3", "#-2".
  std::string eval_text() const;

 private:
  int value_ = 0;
};

// A score from one side's point of view: engines report the side to move's.
struct PovScore {
  Score relative;
  int side = common::WHITE;

  Score pov(int viewer) const { return viewer == side ? relative : -relative; }
  Score white() const { return pov(common::WHITE); }
};

}  // namespace ai_players
