// Attack detection, move making and legal move generation on Position.
#include <algorithm>
#include <cstdlib>

#include "ai_players/host/position.h"

namespace ai_players::board::detail {

void MoveBuf::grow() {
  const bool on_heap = !heap_.empty();
  heap_.resize(static_cast<std::size_t>(capacity_) * 2);
  if (!on_heap) std::copy(data_, data_ + n_, heap_.data());
  data_ = heap_.data();
  capacity_ = static_cast<int>(heap_.size());
}

using common::Bishop;
using common::King;
using common::Knight;
using common::Pawn;
using common::Queen;
using common::Rook;

bool is_attacked(const Position& p, int sq, int by) {
  const auto& b = p.b;
  // A pawn of side s on x attacks x + s + 10 and x + s - 10.
  for (int t : {sq - by - 10, sq - by + 10})
    if (valid(t) && b[t] == Pawn * by) return true;
  for (int d : KNIGHT_STEPS) {
    const int t = sq + d;
    if (valid(t) && b[t] == Knight * by) return true;
  }
  for (int d : KING_STEPS) {
    const int t = sq + d;
    if (valid(t) && b[t] == King * by) return true;
  }
  for (int d : ROOK_STEPS) {
    int t = sq + d;
    while (valid(t) && b[t] == 0) t += d;
    if (valid(t) && (b[t] == Rook * by || b[t] == Queen * by)) return true;
  }
  for (int d : BISHOP_STEPS) {
    int t = sq + d;
    while (valid(t) && b[t] == 0) t += d;
    if (valid(t) && (b[t] == Bishop * by || b[t] == Queen * by)) return true;
  }
  return false;
}

bool in_check(const Position& p) {
  const int k = p.king_of(p.side);
  return k != 0 && is_attacked(p, k, -p.side);
}

namespace {

// Rights lost when a move leaves or lands on a square.
int rights_touched(int sq) {
  switch (sq) {
    case common::square(5, 1): return CASTLE_WK | CASTLE_WQ;
    case common::H1: return CASTLE_WK;
    case common::A1: return CASTLE_WQ;
    case common::square(5, 8): return CASTLE_BK | CASTLE_BQ;
    case common::H8: return CASTLE_BK;
    case common::A8: return CASTLE_BQ;
    default: return 0;
  }
}

}  // namespace

void make(Position& p, const IMove& m) {
  const int s = p.side;
  p.b[m.from] = 0;
  p.b[m.to] = m.promo != 0 ? m.promo : m.piece;
  if (m.flags & FLAG_EP) p.b[m.to - s] = 0;
  if (m.flags & FLAG_CASTLE) {
    const int rank = common::rank_of(m.to);
    const bool king_side = common::file_of(m.to) == 7;
    const int rook_from = common::square(king_side ? 8 : 1, rank);
    const int rook_to = common::square(king_side ? 6 : 4, rank);
    p.b[rook_to] = p.b[rook_from];
    p.b[rook_from] = 0;
  }
  if (std::abs(m.piece) == King) p.king[side_index(s)] = m.to;
  p.castle &= ~(rights_touched(m.from) | rights_touched(m.to));
  p.ep = (m.flags & FLAG_DOUBLE) ? m.from + s : 0;
  p.half = (std::abs(m.piece) == Pawn || m.captured != 0) ? 0 : p.half + 1;
  if (s == common::BLACK) ++p.fullmove;
  p.side = -s;
}

namespace {

// What generation needs to know about the mover's king.
struct Gen {
  const Position& p;
  MoveBuf& out;
  int king;      // the mover's king square, 0 when there is none
  bool checked;  // the mover is in check
};

Gen make_gen(const Position& p, MoveBuf& out) {
  const int king = p.king_of(p.side);
  return {p, out, king, king != 0 && is_attacked(p, king, -p.side)};
}

bool aligned(int a, int b) {
  const int df = common::file_of(a) - common::file_of(b), dr = common::rank_of(a) - common::rank_of(b);
  return df == 0 || dr == 0 || df == dr || df == -dr;
}

// Keeps a pseudo-legal move when it does not leave the mover's king attacked.
// Out of check, a piece off every line through its king cannot uncover it.
void add_if_legal(const Gen& g, const IMove& m) {
  if (g.king == 0 || (!g.checked && std::abs(m.piece) != King && !(m.flags & FLAG_EP) && !aligned(m.from, g.king))) {
    g.out.add(m);
    return;
  }
  Position next = g.p;
  make(next, m);
  if (!is_attacked(next, next.king_of(g.p.side), -g.p.side)) g.out.add(m);
}

void add_pawn_move(const Gen& g, int from, int to, int captured, int flags) {
  const int s = g.p.side;
  const int piece = Pawn * s;
  const int last_rank = s == common::WHITE ? 8 : 1;
  if (common::rank_of(to) == last_rank) {
    for (int promo : {Queen, Rook, Bishop, Knight}) add_if_legal(g, {from, to, piece, captured, promo * s, flags});
  } else {
    add_if_legal(g, {from, to, piece, captured, 0, flags});
  }
}

void pawn_moves(const Gen& g, int from) {
  const Position& p = g.p;
  const int s = p.side;
  const int one = from + s;
  if (valid(one) && p.b[one] == 0) {
    add_pawn_move(g, from, one, 0, FLAG_NONE);
    const int start_rank = s == common::WHITE ? 2 : 7;
    if (common::rank_of(from) == start_rank && p.b[one + s] == 0)
      add_if_legal(g, {from, one + s, Pawn * s, 0, 0, FLAG_DOUBLE});
  }
  for (int to : {from + s + 10, from + s - 10}) {
    if (!valid(to)) continue;
    if (p.b[to] * s < 0) {
      add_pawn_move(g, from, to, p.b[to], FLAG_NONE);
    } else if (to == p.ep && p.ep != 0 && p.b[to] == 0 && p.b[to - s] == -Pawn * s) {
      add_if_legal(g, {from, to, Pawn * s, -Pawn * s, 0, FLAG_EP});
    }
  }
}

template <std::size_t N>
void step_moves(const Gen& g, int from, const std::array<int, N>& steps) {
  const Position& p = g.p;
  const int s = p.side;
  for (int d : steps) {
    const int to = from + d;
    if (valid(to) && p.b[to] * s <= 0) add_if_legal(g, {from, to, p.b[from], p.b[to], 0, FLAG_NONE});
  }
}

template <std::size_t N>
void slide_moves(const Gen& g, int from, const std::array<int, N>& steps) {
  const Position& p = g.p;
  const int s = p.side;
  for (int d : steps) {
    for (int to = from + d; valid(to); to += d) {
      if (p.b[to] * s > 0) break;
      add_if_legal(g, {from, to, p.b[from], p.b[to], 0, FLAG_NONE});
      if (p.b[to] != 0) break;
    }
  }
}

void castling_moves(const Gen& g, int from) {
  const Position& p = g.p;
  const int s = p.side;
  const int rank = s == common::WHITE ? 1 : 8;
  if (from != common::square(5, rank)) return;
  const int king_right = s == common::WHITE ? CASTLE_WK : CASTLE_BK;
  const int queen_right = s == common::WHITE ? CASTLE_WQ : CASTLE_BQ;
  if (!(p.castle & (king_right | queen_right)) || g.checked) return;
  const auto empty = [&](int file) { return p.b[common::square(file, rank)] == 0; };
  const auto safe = [&](int file) { return !is_attacked(p, common::square(file, rank), -s); };
  const auto rook_home = [&](int file) { return p.b[common::square(file, rank)] == Rook * s; };
  if ((p.castle & king_right) && rook_home(8) && empty(6) && empty(7) && safe(6))
    add_if_legal(g, {from, common::square(7, rank), King * s, 0, 0, FLAG_CASTLE});
  if ((p.castle & queen_right) && rook_home(1) && empty(4) && empty(3) && empty(2) && safe(4))
    add_if_legal(g, {from, common::square(3, rank), King * s, 0, 0, FLAG_CASTLE});
}

void piece_moves(const Gen& g, int from) {
  switch (std::abs(g.p.b[from])) {
    case Pawn: pawn_moves(g, from); break;
    case Knight: step_moves(g, from, KNIGHT_STEPS); break;
    case Bishop: slide_moves(g, from, BISHOP_STEPS); break;
    case Rook: slide_moves(g, from, ROOK_STEPS); break;
    case Queen: slide_moves(g, from, KING_STEPS); break;
    case King:
      step_moves(g, from, KING_STEPS);
      castling_moves(g, from);
      break;
    default: break;
  }
}

}  // namespace

void generate_legal(const Position& p, MoveBuf& out) {
  out.clear();
  const Gen g = make_gen(p, out);
  for (int from : SQUARES)
    if (p.b[from] * p.side > 0) piece_moves(g, from);
}

void generate_legal_from(const Position& p, int from, MoveBuf& out) {
  out.clear();
  if (!valid(from) || p.b[from] * p.side <= 0) return;
  piece_moves(make_gen(p, out), from);
}

bool ep_capture_possible(const Position& p) {
  if (p.ep == 0) return false;
  const int s = p.side;
  if (p.b[p.ep] != 0 || !valid(p.ep - s) || p.b[p.ep - s] != -Pawn * s) return false;
  MoveBuf buf;
  const Gen g = make_gen(p, buf);
  for (int from : {p.ep - s - 10, p.ep - s + 10}) {
    if (!valid(from) || p.b[from] != Pawn * s) continue;
    add_if_legal(g, {from, p.ep, Pawn * s, -Pawn * s, 0, FLAG_EP});
  }
  return !buf.empty();
}

std::uint64_t perft(const Position& p, int depth) {
  if (depth <= 0) return 1;
  MoveBuf buf;
  generate_legal(p, buf);
  if (depth == 1) return static_cast<std::uint64_t>(buf.size());
  std::uint64_t nodes = 0;
  for (const IMove& m : buf) {
    Position next = p;
    make(next, m);
    nodes += perft(next, depth - 1);
  }
  return nodes;
}

}  // namespace ai_players::board::detail
