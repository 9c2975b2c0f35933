// Board moves: generation into shared move objects, playing moves, and the
// move objects' coordinate text.
#include <algorithm>
#include <cstdlib>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

using namespace common;

namespace {

char promotion_letter(int piece) {
  switch (std::abs(piece)) {
    case Knight: return 'n';
    case Bishop: return 'b';
    case Rook: return 'r';
    default: return 'q';
  }
}

Move move_of(const detail::IMove& m, const std::shared_ptr<const Board>& origin) {
  Move move;
  move.FromSQ = m.from;
  move.ToSQ = m.to;
  move.Piece = m.piece;
  move.Captured = m.captured;
  move.IsCastlingMove = (m.flags & detail::FLAG_CASTLE) != 0;
  move.IsEnPassant = (m.flags & detail::FLAG_EP) != 0;
  move.IsPromotion = m.promo != 0;
  move.ExtraAddedPiece = m.promo;
  move.origin = origin;
  return move;
}

std::string joined_coords(const MoveList& moves) {
  std::string text;
  for (const MovePtr& m : moves) {
    if (!text.empty()) text += ' ';
    text += m->to_coord();
  }
  return text;
}

}  // namespace

Move::Move(std::string_view coord_move, const MoveList& all_moves_list) {
  for (const MovePtr& m : all_moves_list) {
    if (m && m->to_coord() == coord_move) {
      *this = *m;
      return;
    }
  }
  throw IllegalMoveError("move \"" + std::string(coord_move) + "\" is not among the legal moves (" +
                         joined_coords(all_moves_list) + ")");
}

MovePtr make_move(std::string_view coord_move, const MoveList& all_moves_list) {
  return std::make_shared<Move>(coord_move, all_moves_list);
}

std::string Move::to_coord() const {
  std::string text = common::to_coord(FromSQ) + common::to_coord(ToSQ);
  if (IsPromotion) text += promotion_letter(ExtraAddedPiece);
  return text;
}

int Board::get_piece(int sq) const { return detail::valid(sq) ? posTable[sq] : 0; }

MoveList Board::legal_moves() const {
  const auto snapshot = std::make_shared<const Board>(*this);
  detail::MoveBuf buf;
  detail::generate_legal(detail::position_of(*this), buf);
  MoveList moves;
  moves.reserve(static_cast<std::size_t>(buf.size()));
  for (const detail::IMove& m : buf) moves.push_back(std::make_shared<Move>(move_of(m, snapshot)));
  return moves;
}

void Board::make_internal_move(const Move& move) {
  detail::Position p = detail::position_of(*this);
  detail::MoveBuf buf;
  detail::generate_legal_from(p, move.FromSQ, buf);
  const auto same = [&](const detail::IMove& m) {
    return m.from == move.FromSQ && m.to == move.ToSQ &&
           std::abs(m.promo) == (move.IsPromotion ? std::abs(move.ExtraAddedPiece) : 0);
  };
  const auto found = std::find_if(buf.begin(), buf.end(), same);
  if (found == buf.end())
    throw IllegalMoveError("move " + move.to_coord() + " is not legal in " + export_FEN());
  detail::make(p, *found);
  detail::store(p, *this);
  history_.push_back(detail::repetition_key(p));
}

}  // namespace ai_players::board
