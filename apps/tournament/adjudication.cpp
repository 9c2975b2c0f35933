#include "tournament/adjudication.h"

#include <cstdlib>

#include <fmt/format.h>

namespace ai_players::app {

std::optional<Verdict> Adjudicator::add(int ply, Score white) {
  const int score = white.value();
  white_ahead_ = score >= rule_.win_cp ? white_ahead_ + 1 : 0;
  black_ahead_ = score <= -rule_.win_cp ? black_ahead_ + 1 : 0;
  level_ = std::abs(score) <= rule_.draw_cp ? level_ + 1 : 0;
  const double pawns = rule_.win_cp / 100.0;
  if (white_ahead_ >= rule_.win_plies)
    return Verdict{"1-0", fmt::format("adjudicated: White was {:g} pawns or more ahead for {} plies", pawns,
                                      rule_.win_plies)};
  if (black_ahead_ >= rule_.win_plies)
    return Verdict{"0-1", fmt::format("adjudicated: Black was {:g} pawns or more ahead for {} plies", pawns,
                                      rule_.win_plies)};
  if (level_ >= rule_.draw_plies && ply >= rule_.draw_from_ply)
    return Verdict{"1/2-1/2", fmt::format("adjudicated: the score stayed within {:g} pawns for {} plies",
                                          rule_.draw_cp / 100.0, rule_.draw_plies)};
  return std::nullopt;
}

}  // namespace ai_players::app
