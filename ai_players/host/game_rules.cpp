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
  return !buf.empty();
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
  // Dead positions: no sequence of legal moves mates either side. That is
  // the case with at most one knight or bishop besides the kings, and with
  // any number of bishops of either side that all stand on squares of one
  // colour: they never attack the other colour, and a king always has a
  // neighbour square of that colour that nothing can block or attack.
  int minors = 0;
  bool knight = false;
  bool bishop_colour[2] = {false, false};
  for (int sq : detail::SQUARES) {
    const int kind = std::abs(posTable[sq]);
    if (kind == 0 || kind == King) continue;
    if (kind != Knight && kind != Bishop) return false;
    ++minors;
    if (kind == Knight)
      knight = true;
    else
      bishop_colour[(file_of(sq) + rank_of(sq)) % 2] = true;
  }
  return minors <= 1 || (!knight && !(bishop_colour[0] && bishop_colour[1]));
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
