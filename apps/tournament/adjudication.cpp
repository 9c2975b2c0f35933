#include "tournament/adjudication.h"

#include <cstdlib>

#include <fmt/format.h>

#include "game/numbers.h"
#include "game/user_error.h"

namespace ai_players::app {

AdjudicationRule with_win_rule(AdjudicationRule rule, const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos)
    throw UserError(fmt::format("{} is not CP/PLIES, e.g. 300/8 (a lead of 3 pawns for 8 plies in a row)",
                                echoed(text)));
  rule.win_cp = static_cast<int>(read_whole(text.substr(0, slash), "CP", 1, 100000));
  rule.win_plies = static_cast<int>(read_whole(text.substr(slash + 1), "PLIES", 1, 1000));
  return rule;
}

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
