// Reads PGN back for the tests and replays it on our board, so that a written
// game is checked the way another chess program would read it.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ai_players/host/board.h"

namespace testing_support {

struct ReadGame {
  std::vector<std::pair<std::string, std::string>> tags;  // in file order
  std::vector<std::string> san;
  std::string result;
  std::vector<std::string> movetext_lines;

  std::string tag(const std::string& name) const {
    for (const auto& [n, v] : tags)
      if (n == name) return v;
    return "";
  }
};

inline bool is_result(const std::string& t) { return t == "1-0" || t == "0-1" || t == "1/2-1/2" || t == "*"; }

inline std::vector<ReadGame> read_pgn(const std::string& text) {
  std::vector<ReadGame> games;
  std::istringstream in(text);
  ReadGame game;
  bool in_moves = false;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == '[') {
      if (in_moves) throw std::runtime_error("tag after move text without a result");
      const auto q = line.find('"');
      std::string value;
      for (std::size_t i = q + 1; i < line.size() && line[i] != '"'; ++i) value += line[i] == '\\' ? line[++i] : line[i];
      game.tags.emplace_back(line.substr(1, line.find(' ') - 1), value);
      continue;
    }
    in_moves = true;
    game.movetext_lines.push_back(line);
    std::istringstream words(line);
    for (std::string w; words >> w;) {
      if (is_result(w)) {
        game.result = w;
        games.push_back(game);
        game = ReadGame{};
        in_moves = false;
        continue;
      }
      const auto dot = w.find_last_of('.');
      if (dot != std::string::npos) w = w.substr(dot + 1);  // "12." or "12..."
      if (!w.empty()) game.san.push_back(w);
    }
  }
  if (in_moves) throw std::runtime_error("move text without a result");
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
