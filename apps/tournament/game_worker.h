// The program's own worker for tournaments: plays the games whose terms it
// reads, one JSON line each, and writes each game's PGN as it ends. Its
// personas and their engines stay up from one game to the next (a new game
// for each), which spares an engine start per player and game.
#pragma once

#include <istream>
#include <ostream>
#include <string_view>

namespace ai_players::app {

// Written after a move ("%move Nf3", a PGN escape line, so a sign of life),
// before a failed game's message, and after every game.
inline constexpr std::string_view kMoveMark = "%move ";
inline constexpr std::string_view kErrorMark = "%error ";
inline constexpr std::string_view kEndOfGame = "%end-of-game";

// Until `in` ends. A game that cannot be played is answered with an error
// line; the worker goes on with the next.
void run_game_worker(std::istream& in, std::ostream& out);

}  // namespace ai_players::app
