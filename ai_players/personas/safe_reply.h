// The reply policy every host wants: a persona never forfeits a game while it
// has a legal move. A failing or illegal reply becomes an announced fallback.
#pragma once

#include <string>
#include <string_view>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

struct SafeReply {
  MovePtr move;                   // always one of the legal moves given
  bool fallback = false;          // the persona's own choice failed; this is its fallback move
  bool engine_restarted = false;  // the engine had died or hung and was started afresh
  bool cut_short = false;         // the clock (or interrupt()) ended the searches early
  std::string note;               // for people, when something went wrong: what and what was done
};

// The persona could give no move at all, not even a fallback (no engine, say).
struct PersonaFailure : Error {
  using Error::Error;
};

// Asks the persona with GetReply. If that raises or answers a move that is not
// legal, plays the persona's FallbackReply_ instead; an engine that died or
// hung is started afresh once first. Throws PersonaFailure when nothing works.
SafeReply reply_safely(AI_BASIC& persona, const MoveList& game_history, const MoveList& legalmoves,
                       std::string_view start_fen = common::FEN_New_Game);

// A failure as people read it: the message, or for a failed internal check
// where it failed.
std::string failure_text(const std::exception& error);

}  // namespace ai_players
