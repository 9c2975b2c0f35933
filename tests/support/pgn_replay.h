// Reads PGN back for the tests with the program's own reader.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "pgn/pgn_reader.h"

namespace testing_support {

using ReadGame = ai_players::app::PgnGame;

inline std::vector<ReadGame> read_pgn(const std::string& text) {
  std::istringstream in(text);
  return ai_players::app::read_pgn(in);
}

// What the reader makes of `text`: a line a game, then a line a broken game.
inline std::string read_back(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> problems;
  std::string out;
  for (const auto& game : ai_players::app::read_pgn(in, &problems)) {
    for (const auto& [name, value] : game.tags) out += "[" + name + ": " + value + "] ";
    for (std::size_t i = 0; i < game.san.size(); ++i)
      out += game.san[i] + (i < game.comments.size() && !game.comments[i].empty() ? " {" + game.comments[i] + "} " : " ");
    if (!game.final_comment.empty()) out += "{" + game.final_comment + "} ";
    out += game.result + "\n";
  }
  for (const auto& problem : problems) out += problem + "\n";
  return out;
}

}  // namespace testing_support
