// Setting a board up from FEN, and writing FEN and text diagrams back.
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <algorithm>
#include <vector>

#include "ai_players/host/board.h"
#include "ai_players/host/position.h"

namespace ai_players::board {

namespace {

using namespace common;

[[noreturn]] void fail(std::string_view fen, const std::string& reason) {
  throw FenError("invalid FEN (" + reason + "): " + std::string(fen));
}

int piece_of_letter(char c) {
  int code = 0;
  switch (std::tolower(static_cast<unsigned char>(c))) {
    case 'p': code = Pawn; break;
    case 'n': code = Knight; break;
    case 'b': code = Bishop; break;
    case 'r': code = Rook; break;
    case 'q': code = Queen; break;
    case 'k': code = King; break;
    default: return 0;
  }
  return std::isupper(static_cast<unsigned char>(c)) ? code : -code;
}

char letter_of_piece(int piece) {
  char c = '?';
  switch (std::abs(piece)) {
    case Pawn: c = 'p'; break;
    case Knight: c = 'n'; break;
    case Bishop: c = 'b'; break;
    case Rook: c = 'r'; break;
    case Queen: c = 'q'; break;
    case King: c = 'k'; break;
    default: break;
  }
  return piece > 0 ? static_cast<char>(std::toupper(c)) : c;
}

// By hand rather than through a stream: a board is made from a FEN for
// every request, and a stream's locale costs more than the rest of it.
std::vector<std::string> split_fields(std::string_view fen) {
  std::vector<std::string> fields;
  constexpr std::string_view blanks = " \t\n\r\v\f";
  for (std::size_t at = fen.find_first_not_of(blanks); at != std::string_view::npos;) {
    const std::size_t end = std::min(fen.find_first_of(blanks, at), fen.size());
    fields.emplace_back(fen.substr(at, end - at));
    at = fen.find_first_not_of(blanks, end);
  }
  return fields;
}

std::optional<int> parse_count(const std::string& text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

void parse_placement(std::string_view fen, const std::string& field, std::array<int, 100>& table) {
  std::vector<std::string> ranks(1);
  for (char c : field) {
    if (c == '/') {
      ranks.emplace_back();
    } else {
      ranks.back() += c;
    }
  }
  if (ranks.size() != 8) fail(fen, std::to_string(ranks.size()) + " ranks instead of 8");
  for (int i = 0; i < 8; ++i) {
    const int rank = 8 - i;
    int file = 1;
    for (char c : ranks[i]) {
      if (c >= '1' && c <= '8') {
        file += c - '0';
        continue;
      }
      const int piece = piece_of_letter(c);
      if (piece == 0) fail(fen, std::string("bad piece letter '") + c + "' in rank " + std::to_string(rank));
      if (file <= 8) table[square(file, rank)] = piece;
      ++file;
    }
    if (file != 9) fail(fen, "rank " + std::to_string(rank) + " has " + std::to_string(file - 1) + " squares");
  }
}

void check_material(std::string_view fen, const std::array<int, 100>& table) {
  for (int side : {WHITE, BLACK}) {
    int kings = 0;
    for (int sq : detail::SQUARES) kings += table[sq] == King * side;
    const char* name = side == WHITE ? "White" : "Black";
    if (kings == 0) fail(fen, std::string(name) + " has no king");
    if (kings > 1) fail(fen, std::string(name) + " has " + std::to_string(kings) + " kings");
  }
  for (int sq : detail::SQUARES)
    if (std::abs(table[sq]) == Pawn && (rank_of(sq) == 1 || rank_of(sq) == 8))
      fail(fen, "pawn on " + to_coord(sq));
}

std::string parse_castling(std::string_view fen, const std::string& field, const std::array<int, 100>& table) {
  if (field == "-") return field;
  const int mask = detail::castle_mask(field);
  if (field.find_first_not_of("KQkq") != std::string::npos || detail::castle_letters(mask).size() != field.size())
    fail(fen, "bad castling field '" + field + "'");
  struct Need {
    int bit;
    char letter;
    int king_sq, rook_sq, side;
  };
  const Need needs[] = {{detail::CASTLE_WK, 'K', square(5, 1), H1, WHITE},
                        {detail::CASTLE_WQ, 'Q', square(5, 1), A1, WHITE},
                        {detail::CASTLE_BK, 'k', square(5, 8), H8, BLACK},
                        {detail::CASTLE_BQ, 'q', square(5, 8), A8, BLACK}};
  for (const Need& n : needs) {
    if (!(mask & n.bit)) continue;
    if (table[n.king_sq] != King * n.side || table[n.rook_sq] != Rook * n.side)
      fail(fen, std::string("castling right ") + n.letter + " without king on " + to_coord(n.king_sq) +
                    " and rook on " + to_coord(n.rook_sq));
  }
  return detail::castle_letters(mask);
}

int parse_ep(std::string_view fen, const std::string& field, const std::array<int, 100>& table, int side) {
  if (field == "-") return 0;
  const auto bad = [&] { fail(fen, "bad en-passant square '" + field + "'"); };
  if (field.size() != 2 || field[0] < 'a' || field[0] > 'h' || field[1] < '1' || field[1] > '8') bad();
  const int sq = to_num(field);
  // The pawn that just made a double step stands in front of sq, seen from
  // the side to move, and the squares it crossed are empty.
  if (rank_of(sq) != (side == WHITE ? 6 : 3)) bad();
  if (table[sq] != 0 || table[sq + side] != 0 || table[sq - side] != -Pawn * side) bad();
  return sq;
}

}  // namespace

Board::Board() : Board(common::FEN_New_Game) {}

Board::Board(std::string_view FEN) {
  const std::vector<std::string> fields = split_fields(FEN);
  if (fields.size() != 6 && fields.size() != 4)
    fail(FEN, "expected 6 fields, found " + std::to_string(fields.size()));
  std::array<int, 100> table{};
  parse_placement(FEN, fields[0], table);
  check_material(FEN, table);
  if (fields[1] != "w" && fields[1] != "b") fail(FEN, "side to move must be w or b, found '" + fields[1] + "'");
  const int side = fields[1] == "w" ? WHITE : BLACK;
  const std::string rights = parse_castling(FEN, fields[2], table);
  const int ep = parse_ep(FEN, fields[3], table, side);
  int half = 0, full = 1;
  if (fields.size() == 6) {
    const auto h = parse_count(fields[4]);
    if (!h) fail(FEN, "halfmove clock '" + fields[4] + "' is not a number");
    const auto f = parse_count(fields[5]);
    if (!f) fail(FEN, "full-move number '" + fields[5] + "' is not a number");
    half = *h;
    full = *f;
  }
  posTable = table;
  castling = rights;
  side_to_move = side;
  ep_square = ep;
  halfmove_clock = half;
  MoveNumber = full;
  const detail::Position p = detail::position_of(*this);
  const int other_king = p.king_of(-side);
  if (detail::is_attacked(p, other_king, side)) fail(FEN, "the side not to move is in check");
  history_.push_back(detail::repetition_key(p));
}

std::string Board::export_FEN() const {
  std::string fen;
  for (int rank = 8; rank >= 1; --rank) {
    int empty = 0;
    for (int file = 1; file <= 8; ++file) {
      const int piece = posTable[square(file, rank)];
      if (piece == 0) {
        ++empty;
        continue;
      }
      if (empty > 0) fen += static_cast<char>('0' + empty);
      empty = 0;
      fen += letter_of_piece(piece);
    }
    if (empty > 0) fen += static_cast<char>('0' + empty);
    if (rank > 1) fen += '/';
  }
  fen += side_to_move == WHITE ? " w " : " b ";
  fen += castling.empty() ? "-" : castling;
  fen += ' ';
  fen += ep_square != 0 ? to_coord(ep_square) : "-";
  fen += ' ' + std::to_string(halfmove_clock) + ' ' + std::to_string(MoveNumber);
  return fen;
}

std::string Board::to_text() const {
  std::string text = "  +-----------------+\n";
  for (int rank = 8; rank >= 1; --rank) {
    text += static_cast<char>('0' + rank);
    text += " |";
    for (int file = 1; file <= 8; ++file) {
      const int piece = posTable[square(file, rank)];
      text += ' ';
      text += piece == 0 ? '.' : letter_of_piece(piece);
    }
    text += " |\n";
  }
  text += "  +-----------------+\n    a b c d e f g h\n";
  return text;
}

}  // namespace ai_players::board
