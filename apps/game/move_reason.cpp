#include "game/move_reason.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include <fmt/format.h>

namespace ai_players::app {
namespace {

using common::file_of;
using common::rank_of;

std::string square_name(int sq) { return {static_cast<char>('a' + file_of(sq) - 1), static_cast<char>('0' + rank_of(sq))}; }

std::optional<int> square_at(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size() || text[at] < 'a' || text[at] > 'h' || text[at + 1] < '1' || text[at + 1] > '8')
    return std::nullopt;
  return common::square(text[at] - 'a' + 1, text[at + 1] - '0');
}

const char* piece_word(int kind) {
  switch (kind) {
    case common::Knight: return "knight";
    case common::Bishop: return "bishop";
    case common::Rook: return "rook";
    case common::Queen: return "queen";
    case common::King: return "king";
    default: return "pawn";
  }
}

int kind_of_letter(char c) {
  switch (c) {
    case 'N': return common::Knight;
    case 'B': return common::Bishop;
    case 'R': return common::Rook;
    case 'Q': return common::Queen;
    case 'K': return common::King;
    default: return common::Pawn;
  }
}

// What the move wants: the piece kind, where it goes, and where from when coordinates say it.
struct Wanted {
  int kind = common::Pawn;
  int to = 0;
  std::optional<int> from;
  bool promotes = false;  // a piece to promote to was given
};

std::optional<Wanted> read_wanted(const board::Board& position, std::string text) {
  while (!text.empty() && std::string_view("+#!?").find(text.back()) != std::string_view::npos) text.pop_back();
  Wanted w;
  const auto from = square_at(text, 0), to = square_at(text, 2);
  if (from && to && (text.size() == 4 || text.size() == 5)) {  // coordinates
    w.from = from, w.to = *to, w.promotes = text.size() == 5;
    w.kind = std::abs(position.get_piece(*from));
    return w;
  }
  if (const auto eq = text.find('='); eq != std::string::npos) w.promotes = true, text.erase(eq);
  if (text.size() >= 3 && std::string_view("QRBN").find(text.back()) != std::string_view::npos &&
      text[text.size() - 2] >= '1' && text[text.size() - 2] <= '8')
    w.promotes = true, text.pop_back();  // "a8Q"
  if (text.size() < 2) return std::nullopt;
  if (text.size() >= 3 && std::string_view("knqr").find(text[0]) != std::string_view::npos)
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));  // "nf3" as people type it
  const auto target = square_at(text, text.size() - 2);
  if (!target) return std::nullopt;
  w.to = *target;
  w.kind = kind_of_letter(text[0]);
  return w;
}

// Whether a piece of ours on `sq` could go to `to` if its king did not matter.
bool reaches(const board::Board& position, int sq, int to) {
  const int piece = position.get_piece(sq);
  if (std::abs(piece) != common::Pawn) {
    const auto squares = position.find_reachable_squares(sq);
    return std::find(squares.begin(), squares.end(), to) != squares.end();
  }
  const int side = piece > 0 ? common::WHITE : common::BLACK;
  const int forward = rank_of(to) - rank_of(sq);
  const int sideways = std::abs(file_of(to) - file_of(sq));
  if (sideways == 1 && forward == side) return position.get_piece(to) * side < 0 || to == position.ep_square;
  const bool home = rank_of(sq) == (side == common::WHITE ? 2 : 7);
  if (sideways != 0 || position.get_piece(to) != 0) return false;
  if (forward == side) return true;
  return forward == 2 * side && home && position.get_piece(sq + side) == 0;
}

}  // namespace

std::string why_not_legal(const board::Board& position, std::string_view typed) {
  const std::string text(typed);
  const board::MoveList legal = position.legal_moves();
  const int side = position.side_to_move;
  if (text == "O-O" || text == "O-O-O" || text == "0-0" || text == "0-0-0")
    return position.in_check() ? "you cannot castle out of check" : "castling is not allowed here";
  const auto wanted = read_wanted(position, text);
  if (!wanted) return {};
  const Wanted& w = *wanted;
  // A promotion without its piece.
  if (!w.promotes)
    for (const auto& m : legal)
      if (m->IsPromotion && m->ToSQ == w.to && (!w.from || m->FromSQ == *w.from))
        return w.from ? fmt::format("say which piece to promote to: {}q (or r, b, n)", text)
                      : fmt::format("say which piece to promote to: {}=Q (or =R, =B, =N)", text);
  std::vector<int> ours;  // the pieces the move could mean
  if (w.from) {
    const int piece = position.get_piece(*w.from);
    if (piece == 0) return fmt::format("there is no piece on {}", square_name(*w.from));
    if (piece * side < 0) return fmt::format("the {} on {} is not yours", piece_word(std::abs(piece)), square_name(*w.from));
    ours.push_back(*w.from);
  } else {
    for (int sq = 11; sq <= 88; ++sq)
      if (rank_of(sq) >= 1 && rank_of(sq) <= 8 && position.get_piece(sq) == side * w.kind) ours.push_back(sq);
    if (ours.empty()) return fmt::format("you have no {} left", piece_word(w.kind));
  }
  if (w.kind == common::King && w.from && std::abs(file_of(w.to) - file_of(*w.from)) == 2)
    return position.in_check() ? "you cannot castle out of check" : "castling is not allowed here";
  if (position.get_piece(w.to) * side > 0) return fmt::format("your own piece stands on {}", square_name(w.to));
  const bool reachable = std::any_of(ours.begin(), ours.end(), [&](int sq) { return reaches(position, sq, w.to); });
  if (!reachable)
    return w.from ? fmt::format("the {} on {} cannot go to {}", piece_word(w.kind), square_name(*w.from), square_name(w.to))
                  : fmt::format("no {} of yours can go to {}", piece_word(w.kind), square_name(w.to));
  if (position.in_check()) return "your king is in check, and this move does not answer it";
  return "your king would be in check";
}

}  // namespace ai_players::app
