// Check, mate and the drawing rules.
#include <algorithm>
#include <cstdlib>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

using namespace common;

namespace {

bool has_legal_move(const Board& board) {
  detail::MoveBuf buf;
  detail::generate_legal(detail::position_of(board), buf);
  return buf.n > 0;
}

}  // namespace

bool Board::in_check() const { return detail::in_check(detail::position_of(*this)); }

bool Board::is_checkmate() const { return in_check() && !has_legal_move(*this); }

bool Board::is_stalemate() const { return !in_check() && !has_legal_move(*this); }

bool Board::is_fifty_move_draw() const { return halfmove_clock >= 100; }

bool Board::is_threefold_repetition() const {
  const std::uint64_t key = detail::repetition_key(detail::position_of(*this));
  return std::count(history_.begin(), history_.end(), key) >= 3;
}

bool Board::is_insufficient_material() const {
  // Pieces other than the kings, with the colour of each bishop's square.
  std::vector<int> minors;
  std::vector<int> bishop_colours;
  for (int sq : detail::SQUARES) {
    const int kind = std::abs(posTable[sq]);
    if (kind == 0 || kind == King) continue;
    if (kind != Knight && kind != Bishop) return false;
    minors.push_back(posTable[sq]);
    if (kind == Bishop) bishop_colours.push_back((file_of(sq) + rank_of(sq)) % 2);
  }
  if (minors.size() <= 1) return true;
  // King and bishop against king and bishop, both bishops on one colour.
  return minors.size() == 2 && bishop_colours.size() == 2 && (minors[0] > 0) != (minors[1] > 0) &&
         bishop_colours[0] == bishop_colours[1];
}

GameEnd Board::game_end() const {
  const bool check = in_check();
  const bool can_move = has_legal_move(*this);
  if (!can_move) return check ? GameEnd::Checkmate : GameEnd::Stalemate;
  if (is_insufficient_material()) return GameEnd::InsufficientMaterial;
  if (is_fifty_move_draw()) return GameEnd::FiftyMoves;
  if (is_threefold_repetition()) return GameEnd::Repetition;
  return GameEnd::None;
}

}  // namespace ai_players::board
