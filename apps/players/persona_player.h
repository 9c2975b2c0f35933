// A persona as a player of our games: every reply through the reply policy,
// within its time, with what happened counted for the summary.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/personas/safe_reply.h"
#include "game/game.h"

namespace ai_players::app {

struct PersonaPlayer {
  std::string name;  // as the user knows it: "Diana", "HOUD20c:1500"
  std::unique_ptr<AI_BASIC> persona;
  int replies = 0;
  int fallbacks = 0;        // moves that were the persona's fallback
  int cut_short = 0;        // replies its clock (or "move now") ended early
  int engine_restarts = 0;  // engines started afresh after dying or hanging
  int failed_games = 0;     // games it could not finish

  // Its strength for the Elo tags: what the persona plays at.
  int strength() const;
};

// One reply of the player's persona for this position, cut short at
// `deadline`. Counts what happened; throws PersonaFailure when the persona
// can give no move at all, or when its engine had to be replaced although an
// engine of that path was replaced before in this run (it is broken).
SafeReply ask_persona(PersonaPlayer& player, const board::MoveList& history, const board::MoveList& legal,
                      const std::string& start_fen,
                      std::optional<std::chrono::steady_clock::time_point> deadline);

// Called when something went wrong with a reply: a line for people, and the
// technical reason (which check failed where), empty when there is none.
using Announce = std::function<void(const std::string& note, const std::string& detail)>;

// The player as a mover of play_game. A fallback or restart is announced and
// becomes the move's comment; a persona that cannot move at all throws
// MoverFailure (the game ends as abandoned).
Mover persona_mover(PersonaPlayer& player, Announce announce);

// "Verevovera: 31 of 40 replies cut short by the clock", and the fallback,
// restart and failure counts over `games`; one line each, none when all went well.
std::string player_report(const PersonaPlayer& player, int games);

}  // namespace ai_players::app
