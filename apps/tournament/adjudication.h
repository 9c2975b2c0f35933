// When an engine may end a game early, and the count of plies beyond its margins.
#pragma once

#include <optional>
#include <string>

#include "ai_players/core/score.h"

namespace ai_players::app {

// Margins in centipawns, lengths in plies.
struct AdjudicationRule {
  int depth = 8;           // the judge's search depth
  int win_cp = 600;        // a side ahead by this much...
  int win_plies = 12;      // ...after this many plies in a row wins (1.4 % wrong in bench/adjudication_check.py)
  int draw_cp = 10;        // a score within this...
  int draw_plies = 20;     // ...for this many plies in a row...
  int draw_from_ply = 60;  // ...ending at or after this ply is a draw
};

// "CP/PLIES", e.g. "300/8": the win margin and its plies in a row; throws UserError.
AdjudicationRule with_win_rule(AdjudicationRule rule, const std::string& text);

struct Verdict {
  std::string result;  // "1-0", "0-1", "1/2-1/2"
  std::string reason;  // for the PGN comment
};

// Counts the plies in a row beyond the margins, fed one evaluation per ply.
class Adjudicator {
 public:
  explicit Adjudicator(AdjudicationRule rule = {}) : rule_(rule) {}
  // The score (White's view) of the position after ply `ply` (counted from 1);
  // a mate counts as beyond any margin.
  std::optional<Verdict> add(int ply, Score white);

 private:
  AdjudicationRule rule_;
  int white_ahead_ = 0, black_ahead_ = 0, level_ = 0;
};

}  // namespace ai_players::app
