// Reads PGN back for the tests with the program's own reader, and replays it
// on our board, so that a written game is checked move by move.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "ai_players/host/board.h"
#include "pgn/pgn_reader.h"

namespace testing_support {

using ReadGame = ai_players::app::PgnGame;

inline std::vector<ReadGame> read_pgn(const std::string& text) {
  std::istringstream in(text);
  return ai_players::app::read_pgn(in);
}

// Plays the game's SAN moves with our own parser from its FEN tag (or the
// standard start); throws IllegalMoveError on a move that does not read back.
inline ai_players::board::Board replay(const ReadGame& game) {
  const std::string fen = game.tag("FEN");
  ai_players::board::Board board = fen.empty() ? ai_players::board::Board() : ai_players::board::Board(fen);
  for (const auto& san : game.san) board.make_internal_move(*board.parse_move(san));
  return board;
}

}  // namespace testing_support
