// Reads PGN back for the tests and replays it on our board, so that a written
// game is checked the way another chess program would read it.
#pragma once

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ai_players/host/board.h"

namespace testing_support {

struct ReadGame {
  std::vector<std::pair<std::string, std::string>> tags;  // in file order, values unescaped
  std::vector<std::string> san;                           // without move numbers
  std::string result;

  std::string tag(const std::string& name) const {
    for (const auto& [n, v] : tags)
      if (n == name) return v;
    return "";
  }
};

inline std::vector<ReadGame> read_pgn(const std::string& text) {
  std::vector<ReadGame> games(1);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("[")) {
      std::string value;
      for (std::size_t i = line.find('"') + 1; i < line.size() && line[i] != '"'; ++i)
        value += line[i] == '\\' ? line[++i] : line[i];
      games.back().tags.emplace_back(line.substr(1, line.find(' ') - 1), value);
      continue;
    }
    std::istringstream words(line);
    for (std::string w; words >> w;) {
      if (w == "1-0" || w == "0-1" || w == "1/2-1/2" || w == "*")
        games.back().result = w, games.emplace_back();
      else if (w = w.substr(w.find_last_of('.') + 1); !w.empty())  // "12." or "12..." go
        games.back().san.push_back(w);
    }
  }
  if (!games.back().tags.empty() || !games.back().san.empty()) throw std::runtime_error("a game without a result");
  games.pop_back();
  return games;
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
