#include "score_text.h"

#include <cstdlib>

#include <fmt/format.h>

#include "ai_players/host/common.h"

namespace ai_players::app {

std::string score_text(int score) {
  using common::MATE, common::MATECP;
  // Mate scores sit far above any centipawn value; the bound leaves room for long mates.
  if (std::abs(score) > MATE / 2) {
    const int moves = (MATE - std::abs(score) + MATECP / 2) / MATECP;
    return fmt::format("{} in {}", score > 0 ? "mate" : "mated", moves);
  }
  return fmt::format("{:+.2f}", score / 100.0);
}

}  // namespace ai_players::app
