// Engine scores as a player reads them.
#pragma once

#include <string>

namespace ai_players::app {

// From the mover's side: "+0.25", "-1.30" (pawns), "mate in 3", "mated in 2".
std::string score_text(int score);

}  // namespace ai_players::app
