// Start positions for tournament games, so that games differ: EPD lines or
// PGN games (a start position plus the moves played from it).
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "game/user_error.h"

namespace ai_players::app {

struct Opening {
  std::string name;                // the EPD "id" or the PGN Opening/Event tag; may be empty
  std::string fen;                 // where the game starts
  std::vector<std::string> moves;  // coordinate moves played from fen before the personas take over
};

struct OpeningError : UserError {
  using UserError::UserError;
};

// Reads EPD (one position a line, '#' comments) or PGN (recognised by a tag
// or a move number). Every position and move is checked on our board; a bad
// one throws OpeningError naming its line or game.
std::vector<Opening> read_openings(std::istream& in, const std::string& source);
std::vector<Opening> read_openings_file(const std::string& path);

// The suite that ships with the program.
std::string default_openings_path();

}  // namespace ai_players::app
