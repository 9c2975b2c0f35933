#include <algorithm>

#include "ai_players/engine/ai_basic.h"

namespace ai_players {

TopMoves AI_BASIC::ListTopMoves(double error_margin, int multipv, int depth,
                                std::optional<long long> nodes, std::optional<int> mate_limit) {
  std::vector<Analysis> analyses = obtain_engine_thoughts(multipv, depth, nodes);
  require_candidates_(analyses);
  const Analysis bestline = analyses.at(0);
  const int best_score = bestline.score;

  // With a quick mate at hand, stay closer to the best line.
  if (best_score >= MATE_IN(5) && error_margin >= 20) error_margin = error_margin / 2;
  if (mate_limit && *mate_limit != 0)
    error_margin = std::min(static_cast<double>(*mate_limit - 1) * common::MATECP, error_margin);

  MoveList topmoves;
  for (const Analysis& a : analyses)
    if (static_cast<double>(best_score - a.score) <= error_margin)
      topmoves.push_back(board::make_move(a.pv_list.at(0), legalmoves));
  return {std::move(topmoves), bestline, std::move(analyses)};
}

}  // namespace ai_players
