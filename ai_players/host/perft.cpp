// Move-path enumeration counts, for checking the move generator.
#include "ai_players/core/errors.h"
#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

std::uint64_t Board::perft(int depth) const {
  require(depth >= 0);
  return detail::perft(detail::position_of(*this), depth);
}

std::vector<std::pair<std::string, std::uint64_t>> Board::perft_divide(int depth) const {
  require(depth >= 1);
  const detail::Position root = detail::position_of(*this);
  std::vector<std::pair<std::string, std::uint64_t>> counts;
  for (const MovePtr& move : legal_moves()) {
    detail::Position next = root;
    detail::make(next, detail::to_imove(*move));
    counts.emplace_back(move->to_coord(), detail::perft(next, depth - 1));
  }
  return counts;
}

}  // namespace ai_players::board
