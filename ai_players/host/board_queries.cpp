// What the move filters ask about a position: attacked squares, attackers
// and defenders of a square, and whether a piece hangs.
#include <algorithm>
#include <cstdlib>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

using namespace common;

namespace {

using Table = std::array<int, 100>;

void sort_unique(std::vector<int>& squares) {
  std::sort(squares.begin(), squares.end());
  squares.erase(std::unique(squares.begin(), squares.end()), squares.end());
}

template <std::size_t N>
void add_rays(const Table& b, int from, const std::array<int, N>& steps, std::vector<int>& out) {
  for (int d : steps) {
    for (int to = from + d; detail::valid(to); to += d) {
      out.push_back(to);
      if (b[to] != 0) break;
    }
  }
}

template <std::size_t N>
void add_steps(int from, const std::array<int, N>& steps, std::vector<int>& out) {
  for (int d : steps)
    if (detail::valid(from + d)) out.push_back(from + d);
}

std::vector<int> attacked_from(const Table& b, int sq) {
  std::vector<int> out;
  const int piece = b[sq];
  const int s = piece > 0 ? WHITE : BLACK;
  switch (std::abs(piece)) {
    case Pawn:
      for (int to : {sq + s + 10, sq + s - 10})
        if (detail::valid(to)) out.push_back(to);
      break;
    case Knight: add_steps(sq, detail::KNIGHT_STEPS, out); break;
    case King: add_steps(sq, detail::KING_STEPS, out); break;
    case Bishop: add_rays(b, sq, detail::BISHOP_STEPS, out); break;
    case Rook: add_rays(b, sq, detail::ROOK_STEPS, out); break;
    case Queen: add_rays(b, sq, detail::KING_STEPS, out); break;
    default: break;
  }
  sort_unique(out);
  return out;
}

// The squares of the pieces of `side` that attack sq directly.
std::vector<int> attackers(const Table& b, int sq, int side) {
  std::vector<int> out;
  for (int from : {sq - side - 10, sq - side + 10})
    if (detail::valid(from) && b[from] == Pawn * side) out.push_back(from);
  for (int d : detail::KNIGHT_STEPS)
    if (detail::valid(sq + d) && b[sq + d] == Knight * side) out.push_back(sq + d);
  for (int d : detail::KING_STEPS)
    if (detail::valid(sq + d) && b[sq + d] == King * side) out.push_back(sq + d);
  for (int d : detail::KING_STEPS) {
    const bool straight = std::abs(d) == 1 || std::abs(d) == 10;
    int t = sq + d;
    while (detail::valid(t) && b[t] == 0) t += d;
    if (!detail::valid(t)) continue;
    if (b[t] == Queen * side || b[t] == (straight ? Rook : Bishop) * side) out.push_back(t);
  }
  sort_unique(out);
  return out;
}

// The square of the cheapest piece of `side` that may capture on sq, 0 when
// none. A king may capture only onto a square the other side no longer guards.
int least_valuable_attacker(Table& b, int sq, int side) {
  int best = 0;
  for (int from : attackers(b, sq, side))
    if (best == 0 || std::abs(b[from]) < std::abs(b[best])) best = from;
  if (best != 0 && std::abs(b[best]) == King) {
    const int king = b[best];
    b[best] = 0;
    const bool guarded = !attackers(b, sq, -side).empty();
    b[best] = king;
    if (guarded) return 0;
  }
  return best;
}

// Net material the other side of the piece on sq wins by starting the
// exchange there, each side free to stop; 0 when it cannot capture.
int exchange_gain(Table b, int sq) {
  int mover = b[sq] > 0 ? BLACK : WHITE;
  int from = least_valuable_attacker(b, sq, mover);
  if (from == 0) return 0;
  std::array<int, 40> gain{};
  int d = 0;
  gain[0] = std::abs(b[sq]);
  while (from != 0 && d + 1 < static_cast<int>(gain.size())) {
    ++d;
    gain[d] = std::abs(b[from]) - gain[d - 1];  // what the reply would win
    b[sq] = b[from];
    b[from] = 0;
    mover = -mover;
    from = least_valuable_attacker(b, sq, mover);
  }
  while (--d > 0) gain[d - 1] = -std::max(-gain[d - 1], gain[d]);
  return gain[0];
}

}  // namespace

bool Board::is_square_enprise(int sq, int side) const {
  if (!detail::valid(sq) || posTable[sq] * side <= 0) return false;
  return exchange_gain(posTable, sq) > 0;
}

std::vector<int> Board::find_reachable_squares(int sq) const {
  if (!detail::valid(sq)) return {};
  return attacked_from(posTable, sq);
}

std::vector<int> Board::list_pawn_defended_squares(int side) const {
  std::vector<int> out;
  for (int sq : detail::SQUARES)
    if (posTable[sq] == Pawn * side)
      for (int to : {sq + side + 10, sq + side - 10})
        if (detail::valid(to)) out.push_back(to);
  sort_unique(out);
  return out;
}

Contest Board::get_contest_on_ToSQ(const Move& move) const {
  const int mover = detail::sign_of(move.Piece);
  detail::Position after = detail::position_of(*this);
  after.side = mover;
  detail::make(after, detail::to_imove(move));
  Contest contest;
  contest[mover] = attackers(after.b, move.ToSQ, mover);
  contest[-mover] = attackers(after.b, move.ToSQ, -mover);
  return contest;
}

}  // namespace ai_players::board
