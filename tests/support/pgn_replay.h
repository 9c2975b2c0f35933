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

}  // namespace testing_support
