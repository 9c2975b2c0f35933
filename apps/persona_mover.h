// A persona as a player of our games: every reply through the reply policy,
// within the clock, with its fallbacks counted and announced.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ai_players/engine/ai_basic.h"
#include "game.h"

namespace ai_players::app {

struct PersonaPlayer {
  std::string name;  // as the user knows it
  std::unique_ptr<AI_BASIC> persona;
  int fallbacks = 0;         // moves that were the persona's fallback
  int engine_restarts = 0;   // engines started afresh after dying or hanging
  int failed_games = 0;      // games it could not finish
};

// Called with a line for people when something went wrong with a reply.
using Announce = std::function<void(const std::string&)>;

// Replies of the player's persona. A fallback or restart is announced and
// becomes the move's comment; a persona that cannot move at all throws
// MoverFailure (the game ends as abandoned).
Mover persona_mover(PersonaPlayer& player, Announce announce);

}  // namespace ai_players::app
