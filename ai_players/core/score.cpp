#include "ai_players/core/score.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ai_players {

Score Score::mate_in(int moves) {
  const int v = common::MATE - std::abs(moves) * common::MATECP;
  return Score(moves < 0 ? -v : v);
}

int Score::mate() const {
  if (!is_mate()) return 0;
  const int moves = (common::MATE - std::abs(value_) + common::MATECP / 2) / common::MATECP;
  return value_ > 0 ? moves : -moves;
}

int Score::clamped(int cap) const {
  if (is_mate()) return value_ > 0 ? cap : -cap;
  return std::clamp(value_, -cap, cap);
}

std::string Score::text() const {
  char buf[32];
  if (is_mate())
    std::snprintf(buf, sizeof buf, "%s in %d", value_ > 0 ? "mate" : "mated", std::abs(mate()));
  else
    std::snprintf(buf, sizeof buf, "%+.2f", value_ / 100.0);
  return buf;
}

std::string Score::eval_text() const {
  char buf[32];
  if (is_mate())
    std::snprintf(buf, sizeof buf, "#%d", mate());
  else
    std::snprintf(buf, sizeof buf, "%.2f", value_ / 100.0);
  return buf;
}

}  // namespace ai_players
