// Conversions between Board's public fields and Position, and position keys.
#include <cstdlib>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board::detail {

namespace {

constexpr std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Random numbers for: 12 pieces x 100 squares, 16 castling masks, 100 en-passant
// squares, and the side to move.
struct KeyTables {
  std::array<std::array<std::uint64_t, 100>, 12> piece{};
  std::array<std::uint64_t, 16> castle{};
  std::array<std::uint64_t, 100> ep{};
  std::uint64_t black_to_move = 0;
};

constexpr KeyTables make_key_tables() {
  KeyTables t;
  std::uint64_t state = 20240611;
  for (auto& row : t.piece)
    for (auto& v : row) v = splitmix(state);
  for (auto& v : t.castle) v = splitmix(state);
  for (auto& v : t.ep) v = splitmix(state);
  t.black_to_move = splitmix(state);
  return t;
}

constexpr KeyTables KEYS = make_key_tables();

int piece_index(int piece) {
  int kind = 0;
  switch (std::abs(piece)) {
    case common::Pawn: kind = 0; break;
    case common::Knight: kind = 1; break;
    case common::Bishop: kind = 2; break;
    case common::Rook: kind = 3; break;
    case common::Queen: kind = 4; break;
    default: kind = 5; break;
  }
  return piece > 0 ? kind : kind + 6;
}

}  // namespace

std::uint64_t repetition_key(const Position& p) {
  std::uint64_t key = 0;
  for (int sq : SQUARES)
    if (p.b[sq] != 0) key ^= KEYS.piece[piece_index(p.b[sq])][sq];
  key ^= KEYS.castle[p.castle & 15];
  if (ep_capture_possible(p)) key ^= KEYS.ep[p.ep];
  if (p.side == common::BLACK) key ^= KEYS.black_to_move;
  return key;
}

int castle_mask(const std::string& letters) {
  int mask = 0;
  for (char c : letters) {
    switch (c) {
      case 'K': mask |= CASTLE_WK; break;
      case 'Q': mask |= CASTLE_WQ; break;
      case 'k': mask |= CASTLE_BK; break;
      case 'q': mask |= CASTLE_BQ; break;
      default: break;
    }
  }
  return mask;
}

std::string castle_letters(int mask) {
  std::string s;
  if (mask & CASTLE_WK) s += 'K';
  if (mask & CASTLE_WQ) s += 'Q';
  if (mask & CASTLE_BK) s += 'k';
  if (mask & CASTLE_BQ) s += 'q';
  return s.empty() ? "-" : s;
}

Position position_of(const Board& board) {
  Position p;
  for (int sq : SQUARES) {
    const int piece = board.posTable[sq];
    p.b[sq] = piece;
    if (piece == common::King) p.king[0] = sq;
    if (piece == -common::King) p.king[1] = sq;
  }
  p.side = board.side_to_move;
  p.castle = castle_mask(board.castling);
  p.ep = board.ep_square;
  p.half = board.halfmove_clock;
  p.fullmove = board.MoveNumber;
  return p;
}

void store(const Position& p, Board& board) {
  board.posTable = p.b;
  board.side_to_move = p.side;
  board.castling = castle_letters(p.castle);
  board.ep_square = p.ep;
  board.halfmove_clock = p.half;
  board.MoveNumber = p.fullmove;
}

IMove to_imove(const Move& m) {
  int flags = FLAG_NONE;
  if (m.IsCastlingMove) flags |= FLAG_CASTLE;
  if (m.IsEnPassant) flags |= FLAG_EP;
  if (std::abs(m.Piece) == common::Pawn && std::abs(m.ToSQ - m.FromSQ) == 2) flags |= FLAG_DOUBLE;
  return {m.FromSQ, m.ToSQ, m.Piece, m.Captured, m.IsPromotion ? m.ExtraAddedPiece : 0, flags};
}

}  // namespace ai_players::board::detail
