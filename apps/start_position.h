// The start position a user asked for on the command line.
#pragma once

#include <string>

namespace ai_players::app {

// The standard start for an empty text; otherwise the FEN itself once our
// board accepts it. Throws std::runtime_error naming what is wrong.
std::string checked_start_fen(const std::string& fen);

}  // namespace ai_players::app
