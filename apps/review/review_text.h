// What the review's outputs share: a move as people label it and the score
// after it.
#pragma once

#include <string>

#include "ai_players/core/score.h"
#include "ai_players/core/text.h"
#include "review/review.h"

namespace ai_players::app {

// "12. Nf3", "12... Nf6".
std::string move_label(const MoveReview& m);
// "?!", "?", "??"; empty for a good move.
std::string nag_mark(Judgement j);
// White's view of the position after the move, for [%eval] and the graph.
Score white_eval(const MoveReview& m);
// "White - Black" from the game's tags, "?" for a name not given.
std::string players_of(const PgnGame& record);
inline std::string players_of(const GameReview& r) { return players_of(r.record); }
// The text padded with spaces to `width` characters (display_width).
std::string padded(const std::string& text, std::size_t width);

// A running review on one terminal line, redrawn after each judged move: a
// bar, the count, the marks so far and the latest one, each whole while it
// fits: "[####........] 23/60 moves; 1 blunder, 2 mistakes; latest 14. Qxb7??"
class ReviewMarks {
 public:
  // The line after `step`, cut or padded to `width` columns.
  std::string line(const ReviewStep& step, std::size_t width);

 private:
  std::size_t counts_[4] = {};  // by Judgement
  std::string latest_;
};

}  // namespace ai_players::app
