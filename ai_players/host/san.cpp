// Standard algebraic notation: writing moves and reading move texts.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

using namespace common;

namespace {

char san_letter(int piece) {
  switch (std::abs(piece)) {
    case Knight: return 'N';
    case Bishop: return 'B';
    case Rook: return 'R';
    case Queen: return 'Q';
    case King: return 'K';
    default: return '\0';
  }
}

int kind_of_letter(char c) {
  switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'N': return Knight;
    case 'B': return Bishop;
    case 'R': return Rook;
    case 'Q': return Queen;
    case 'K': return King;
    default: return 0;
  }
}

char file_char(int sq) { return static_cast<char>('a' + file_of(sq) - 1); }
char rank_char(int sq) { return static_cast<char>('0' + rank_of(sq)); }

// "+" or "#" when the move checks or mates in the position it came from.
std::string check_mark(const Move& move) {
  if (!move.origin) return "";
  detail::Position p = detail::position_of(*move.origin);
  detail::make(p, detail::to_imove(move));
  if (!detail::in_check(p)) return "";
  detail::MoveBuf replies;
  detail::generate_legal(p, replies);
  return replies.empty() ? "#" : "+";
}

std::string disambiguation(const Move& move, const MoveList& legalmoves) {
  bool rivals = false, same_file = false, same_rank = false;
  for (const MovePtr& other : legalmoves) {
    if (!other || std::abs(other->Piece) != std::abs(move.Piece) || other->ToSQ != move.ToSQ ||
        other->FromSQ == move.FromSQ)
      continue;
    rivals = true;
    same_file = same_file || file_of(other->FromSQ) == file_of(move.FromSQ);
    same_rank = same_rank || rank_of(other->FromSQ) == rank_of(move.FromSQ);
  }
  if (!rivals) return "";
  if (!same_file) return {file_char(move.FromSQ)};
  if (!same_rank) return {rank_char(move.FromSQ)};
  return {file_char(move.FromSQ), rank_char(move.FromSQ)};
}

[[noreturn]] void unreadable(std::string_view text) {
  throw IllegalMoveError("unreadable move \"" + std::string(text) + "\"");
}

bool is_file(char c) { return c >= 'a' && c <= 'h'; }
bool is_rank(char c) { return c >= '1' && c <= '8'; }

bool is_coordinate_text(std::string_view t) {
  return (t.size() == 4 || (t.size() == 5 && std::string_view("qrbnQRBN").find(t[4]) != std::string_view::npos)) &&
         is_file(t[0]) && is_rank(t[1]) && is_file(t[2]) && is_rank(t[3]);
}

// What a SAN text asks for; 0 where it leaves a part open.
struct SanQuery {
  int kind = Pawn;
  int target = 0;
  int from_file = 0;
  int from_rank = 0;
  int promotion = 0;
};

SanQuery read_san(std::string_view text, std::string_view t) {
  SanQuery q;
  if (!t.empty() && std::isupper(static_cast<unsigned char>(t[0]))) {
    q.kind = kind_of_letter(t[0]);
    if (q.kind == 0) unreadable(text);
    t.remove_prefix(1);
  }
  if (q.kind == Pawn && t.size() >= 3) {
    const std::size_t eq = t.find('=');
    if (eq != std::string_view::npos) {
      if (eq + 2 != t.size()) unreadable(text);
      q.promotion = kind_of_letter(t[eq + 1]);
      if (q.promotion == 0 || q.promotion == King) unreadable(text);
      t = t.substr(0, eq);
    } else if (std::isupper(static_cast<unsigned char>(t.back()))) {
      q.promotion = kind_of_letter(t.back());
      if (q.promotion == 0 || q.promotion == King) unreadable(text);
      t.remove_suffix(1);
    }
  }
  if (t.size() < 2 || !is_file(t[t.size() - 2]) || !is_rank(t.back())) unreadable(text);
  q.target = to_num(t.substr(t.size() - 2));
  t.remove_suffix(2);
  for (char c : t) {
    if (is_file(c) && q.from_file == 0 && q.from_rank == 0) {
      q.from_file = c - 'a' + 1;
    } else if (is_rank(c) && q.from_rank == 0) {
      q.from_rank = c - '0';
    } else if (c != 'x' && c != ':' && c != '-') {
      unreadable(text);
    }
  }
  return q;
}

bool fits(const Move& m, const SanQuery& q) {
  if (m.IsCastlingMove || std::abs(m.Piece) != q.kind || m.ToSQ != q.target) return false;
  if (q.from_file != 0 && file_of(m.FromSQ) != q.from_file) return false;
  if (q.from_rank != 0 && rank_of(m.FromSQ) != q.from_rank) return false;
  // A pawn named without its file moves straight ahead.
  if (q.kind == Pawn && q.from_file == 0 && file_of(m.FromSQ) != file_of(q.target)) return false;
  return q.promotion == 0 || std::abs(m.ExtraAddedPiece) == q.promotion;
}

}  // namespace

std::string Move::to_SAN(const MoveList& legalmoves) const {
  std::string san;
  if (IsCastlingMove) {
    san = file_of(ToSQ) == 7 ? "O-O" : "O-O-O";
  } else if (std::abs(Piece) == Pawn) {
    if (Captured != 0) san = {file_char(FromSQ), 'x'};
    san += common::to_coord(ToSQ);
    if (IsPromotion) san += {'=', san_letter(ExtraAddedPiece)};
  } else {
    san = {san_letter(Piece)};
    san += disambiguation(*this, legalmoves);
    if (Captured != 0) san += 'x';
    san += common::to_coord(ToSQ);
  }
  return san + check_mark(*this);
}

MovePtr Board::parse_move(std::string_view text) const {
  std::string_view t = text;
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
  while (!t.empty() && std::string_view("+#!? \t\r\n").find(t.back()) != std::string_view::npos) t.remove_suffix(1);
  if (t.empty()) unreadable(text);

  const MoveList moves = legal_moves();
  MoveList found;
  if (is_coordinate_text(t)) {
    std::string coord(t);
    if (coord.size() == 5) coord[4] = static_cast<char>(std::tolower(static_cast<unsigned char>(coord[4])));
    for (const MovePtr& m : moves)
      if (m->to_coord() == coord) found.push_back(m);
  } else if (t == "O-O" || t == "0-0" || t == "O-O-O" || t == "0-0-0") {
    const int file = t.size() == 3 ? 7 : 3;
    for (const MovePtr& m : moves)
      if (m->IsCastlingMove && file_of(m->ToSQ) == file) found.push_back(m);
  } else {
    const SanQuery q = read_san(text, t);
    for (const MovePtr& m : moves)
      if (fits(*m, q)) found.push_back(m);
    // A pawn reaching the last rank without a named piece is not one move.
    if (q.promotion == 0 && !found.empty() && found.front()->IsPromotion) {
      throw IllegalMoveError("move \"" + std::string(text) + "\" does not name the promotion piece");
    }
  }
  if (found.size() == 1) return found.front();
  if (found.empty())
    throw IllegalMoveError("illegal move \"" + std::string(text) + "\" in " + export_FEN());
  std::string candidates;
  for (const MovePtr& m : found) candidates += (candidates.empty() ? "" : ", ") + m->to_SAN(moves);
  throw IllegalMoveError("ambiguous move \"" + std::string(text) + "\": could be " + candidates);
}

MovePtr find_move(const MoveList& legal, std::string_view text) {
  if (legal.empty()) return nullptr;
  const auto same = [&legal](const MovePtr& m) -> MovePtr {
    for (const MovePtr& l : legal)
      if (l->to_coord() == m->to_coord()) return l;
    return nullptr;
  };
  for (const MovePtr& m : legal)
    if (m->to_coord() == text) return m;
  const std::shared_ptr<const Board> origin = legal.front()->origin;
  if (!origin) return nullptr;
  try {
    return same(origin->parse_move(text));
  } catch (const IllegalMoveError&) {
  }
  // "nf3" for Nf3: only a piece letter is worth trying, and only when the
  // text as typed (a pawn move such as "bxc4") is no move at all.
  std::string upper(text);
  const auto first = upper.find_first_not_of(" \t");
  if (first == std::string::npos || std::string_view("nbrqk").find(upper[first]) == std::string_view::npos)
    return nullptr;
  upper[first] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[first])));
  try {
    return same(origin->parse_move(upper));
  } catch (const IllegalMoveError&) {
    return nullptr;
  }
}

}  // namespace ai_players::board
