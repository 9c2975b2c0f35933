// The board's working representation: a plain value type that move
// generation, perft and the queries copy freely. Board's public fields are
// the authority; a Position is built from them for each operation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "ai_players/host/common.h"

namespace ai_players::board {
class Board;
struct Move;
}  // namespace ai_players::board

namespace ai_players::board::detail {

// Castling-right bits.
inline constexpr int CASTLE_WK = 1, CASTLE_WQ = 2, CASTLE_BK = 4, CASTLE_BQ = 8;

enum MoveFlag : int { FLAG_NONE = 0, FLAG_CASTLE = 1, FLAG_EP = 2, FLAG_DOUBLE = 4 };

struct IMove {
  int from = 0;
  int to = 0;
  int piece = 0;     // signed
  int captured = 0;  // signed, the pawn for en passant
  int promo = 0;     // signed code of the promoted piece, 0 when none
  int flags = FLAG_NONE;
};

// The legal moves of one position. No position of a game has more than 218,
// and the inline storage holds 256 without touching the heap; positions the
// FEN reader accepts but no game reaches (twenty queens, say) can have
// several hundred, and those move on to the heap. The inline storage is left
// uninitialised: generation runs once per perft node.
class MoveBuf {
 public:
  static constexpr int INLINE_CAPACITY = 256;

  MoveBuf() noexcept : data_(std::launder(reinterpret_cast<IMove*>(inline_))) {}
  MoveBuf(const MoveBuf&) = delete;
  MoveBuf& operator=(const MoveBuf&) = delete;

  void add(const IMove& mv) {
    if (n_ == capacity_) [[unlikely]]
      grow();
    data_[n_++] = mv;
  }
  void clear() { n_ = 0; }
  int size() const { return n_; }
  bool empty() const { return n_ == 0; }
  const IMove* begin() const { return data_; }
  const IMove* end() const { return data_ + n_; }

 private:
  void grow();  // doubles the capacity, keeping the moves

  alignas(IMove) std::byte inline_[INLINE_CAPACITY * sizeof(IMove)];
  IMove* data_;
  int n_ = 0;
  int capacity_ = INLINE_CAPACITY;
  std::vector<IMove> heap_;
};

inline constexpr std::array<bool, 100> make_on_board_table() {
  std::array<bool, 100> t{};
  for (int sq = 0; sq < 100; ++sq) t[sq] = common::on_board(sq);
  return t;
}
inline constexpr std::array<bool, 100> ON_BOARD = make_on_board_table();
inline bool valid(int sq) { return static_cast<unsigned>(sq) < 100u && ON_BOARD[sq]; }

// The 64 square numbers, a1 b1 ... in file-major order.
inline constexpr std::array<int, 64> make_squares() {
  std::array<int, 64> s{};
  int i = 0;
  for (int f = 1; f <= 8; ++f)
    for (int r = 1; r <= 8; ++r) s[i++] = common::square(f, r);
  return s;
}
inline constexpr std::array<int, 64> SQUARES = make_squares();

inline constexpr std::array<int, 8> KNIGHT_STEPS = {21, 19, 12, 8, -8, -12, -19, -21};
inline constexpr std::array<int, 8> KING_STEPS = {1, -1, 10, -10, 11, 9, -9, -11};
inline constexpr std::array<int, 4> ROOK_STEPS = {1, -1, 10, -10};
inline constexpr std::array<int, 4> BISHOP_STEPS = {11, 9, -9, -11};

inline int side_index(int side) { return side == common::WHITE ? 0 : 1; }
inline int sign_of(int piece) { return piece > 0 ? common::WHITE : common::BLACK; }

struct Position {
  std::array<int, 100> b{};
  int side = common::WHITE;
  int castle = 0;
  int ep = 0;
  int half = 0;
  int fullmove = 1;
  std::array<int, 2> king{};  // king squares, [0] White, [1] Black; 0 when absent

  int king_of(int s) const { return king[side_index(s)]; }
};

// True when a piece of side `by` attacks sq.
bool is_attacked(const Position& p, int sq, int by);
bool in_check(const Position& p);

// Applies a move of the side to move without checking it.
void make(Position& p, const IMove& m);

// All legal moves of the side to move.
void generate_legal(const Position& p, MoveBuf& out);
// The legal moves of the piece on `from` alone: what checking one move needs.
void generate_legal_from(const Position& p, int from, MoveBuf& out);

// True when the side to move has a legal en-passant capture.
bool ep_capture_possible(const Position& p);

// Hash of what makes positions equal for repetition: placement, side,
// castling rights, and the en-passant square only while it can be used.
std::uint64_t repetition_key(const Position& p);

int castle_mask(const std::string& letters);
std::string castle_letters(int mask);

Position position_of(const Board& board);
void store(const Position& p, Board& board);

IMove to_imove(const Move& m);

std::uint64_t perft(const Position& p, int depth);

}  // namespace ai_players::board::detail
