// How much a move gave away, and the mark it earns: the same thresholds for
// the preview of a player's move and for the review of a whole game.
#pragma once

#include <string>

namespace ai_players::app {

// Losses from here on (centipawns, mover's side) earn a NAG.
inline constexpr int kInaccuracyLoss = 50;
inline constexpr int kMistakeLoss = 100;
inline constexpr int kBlunderLoss = 300;
// Scores count at most this much in numbers; mates count as this much.
inline constexpr int kScoreCap = 1000;
// A move that still leaves the mover this far ahead earns no NAG: a slower
// win is no mistake to a player.
inline constexpr int kStillWinning = 500;

enum class Judgement { Good, Inaccuracy, Mistake, Blunder };

Judgement judge(int loss);
// The judgement of a move that lost `loss` and scores played_score (mover's view).
Judgement judgement_of(int loss, int played_score);
// "$6", "$2", "$4"; empty for a good move.
std::string nag_of(Judgement judgement);
std::string judgement_name(Judgement judgement);  // "inaccuracy", ...

// An engine score (centipawns or mate-encoded) as centipawns within ±kScoreCap.
int capped(int score);
// What the move played gave away against the best move, never below zero.
int loss_of(int best_score, int played_score);

}  // namespace ai_players::app
