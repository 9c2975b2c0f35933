// The host's chess board: FEN, legal moves, game-end rules, SAN, and the
// board queries the move filters ask.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/host/common.h"

namespace ai_players::board {

// A FEN text that is malformed or describes an impossible position.
struct FenError : Error {
  using Error::Error;
};

// A move text that is not one of the legal moves.
struct IllegalMoveError : Error {
  using Error::Error;
};

class Board;
struct Move;
using MovePtr = std::shared_ptr<Move>;
// Move lists hold shared move objects: what the library writes into a move is
// seen by the host, and a reply can be the caller's own element.
using MoveList = std::vector<MovePtr>;

struct Move {
  int FromSQ = 0;
  int ToSQ = 0;
  int Piece = 0;            // signed code of the moving piece
  int Captured = 0;         // signed code of the captured piece, 0 when none
  bool IsCastlingMove = false;
  bool IsPromotion = false;
  bool IsEnPassant = false;
  int ExtraAddedPiece = 0;  // signed code of the piece a promotion adds, 0 when none

  // Written by the library's move enrichment.
  std::optional<int> Score;
  std::optional<int> ErrorScore;
  std::optional<int> R1_FromSQ;
  std::optional<int> R1_ToSQ;
  std::optional<int> R1_Piece;
  std::optional<int> R1_Captured;

  // The position the move was generated in (shared by all moves of one
  // generation); lets to_SAN add check and mate marks.
  std::shared_ptr<const Board> origin;

  Move() = default;
  // A new move object equal to the element of all_moves_list whose coordinate
  // text is coord_move; throws IllegalMoveError when there is none.
  Move(std::string_view coord_move, const MoveList& all_moves_list);

  std::string to_coord() const;  // "e2e4", "e7e8q"
  // Standard algebraic notation, disambiguated among legalmoves, with + or #.
  std::string to_SAN(const MoveList& legalmoves) const;
};

// std::make_shared<Move>(coord_move, all_moves_list).
MovePtr make_move(std::string_view coord_move, const MoveList& all_moves_list);

// The element of `legal` (one generation of legal moves) that `text` names:
// coordinates ("g1f3", "e7e8q") or SAN ("Nf3", "O-O"); SAN typed in lower case
// ("nf3") is taken when it names one move and the text as typed names none.
// nullptr when it names no move or several; Board::parse_move says why.
MovePtr find_move(const MoveList& legal, std::string_view text);

// For each side, the squares of its pieces that bear on a square.
struct Contest {
  std::vector<int> white;
  std::vector<int> black;
  const std::vector<int>& operator[](int side) const { return side == common::WHITE ? white : black; }
  std::vector<int>& operator[](int side) { return side == common::WHITE ? white : black; }
};

enum class GameEnd { None, Checkmate, Stalemate, FiftyMoves, Repetition, InsufficientMaterial };

class Board {
 public:
  Board();                               // the standard initial position
  explicit Board(std::string_view FEN);  // throws FenError

  // Indexed by square number (10 * file + rank); signed piece codes, 0 when empty.
  std::array<int, 100> posTable{};
  std::string castling = "-";  // FEN letters ("KQkq", "Kq", ... or "-")
  int side_to_move = common::WHITE;
  int ep_square = 0;           // en-passant target square, 0 when none
  int halfmove_clock = 0;
  int MoveNumber = 1;          // the FEN full-move number

  int get_piece(int sq) const;
  MoveList legal_moves() const;
  void make_internal_move(const Move& move);  // plays a legal move of this position
  std::string export_FEN() const;

  // True when the other side wins material by capturing first on sq, where
  // a piece of `side` stands (static exchange evaluation).
  bool is_square_enprise(int sq, int side) const;
  // The squares the piece on sq attacks (up to and including the first
  // blocker on each line).
  std::vector<int> find_reachable_squares(int sq) const;
  // The squares the pawns of `side` attack.
  std::vector<int> list_pawn_defended_squares(int side) const;
  // On the position after `move`: the mover's pieces that defend the target
  // (the moved piece excluded) and the other side's attackers, lines through
  // the vacated square included.
  Contest get_contest_on_ToSQ(const Move& move) const;

  bool in_check() const;
  bool is_checkmate() const;
  bool is_stalemate() const;
  bool is_fifty_move_draw() const;       // halfmove clock reached 100
  bool is_threefold_repetition() const;  // counts positions since the board was set up
  // A dead position: besides the kings at most one knight or bishop, or
  // only bishops, all on squares of one colour.
  bool is_insufficient_material() const;
  GameEnd game_end() const;              // first rule that ends the game, or None

  // A legal move from SAN ("Nf3", "exd5", "O-O", "e8=Q+") or coordinates
  // ("g1f3", "e7e8q"); throws IllegalMoveError with a reason otherwise.
  MovePtr parse_move(std::string_view text) const;

  std::uint64_t perft(int depth) const;
  // One entry per legal root move: its coordinate text and node count.
  std::vector<std::pair<std::string, std::uint64_t>> perft_divide(int depth) const;

  // A text diagram of the board, White at the bottom.
  std::string to_text() const;

 private:
  std::vector<std::uint64_t> history_;  // position keys since set-up, for repetition
};

}  // namespace ai_players::board
