// The start position a user asked for: on the command line, in the page, in a PGN tag.
#pragma once

#include <string>

namespace ai_players::app {

// The standard start for an empty text; otherwise the FEN itself once our
// board accepts it. Throws UserError naming what is wrong ("the start
// position '...' is not a FEN our board accepts: ...").
std::string checked_start_fen(const std::string& fen);

}  // namespace ai_players::app
