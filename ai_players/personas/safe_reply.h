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
  bool engine_restarted = false;  // the engine died, hung or ignored "stop" and was started afresh
  bool cut_short = false;         // the clock, the watchdog or interrupt() ended the searches early
  // For people, when something went wrong: what, and what the persona did
  // instead ("Horus has no previous move to answer in this set-up position,
  // so it plays among its best moves").
  std::string note;
  // The technical reason behind the note, for verbose output: the error's
  // message, or the function, file and line of a failed internal check.
  std::string detail;
};

// The persona could give no move at all, not even a fallback (no engine, say).
struct PersonaFailure : Error {
  using Error::Error;
};

// Asks the persona with GetReply, all of it one reply (see AI_BASIC::ReplyScope).
// If that raises or answers a move that is not legal, plays the persona's
// FallbackReply_ instead; an engine that died or hung is started afresh once
// first. Once time is up (the host's clock, interrupt(), a cut) nothing is
// searched again but, when the reply found no candidate at all, one quick
// search (AI_BASIC::quick_move). Throws PersonaFailure when nothing works.
SafeReply reply_safely(AI_BASIC& persona, const MoveList& game_history, const MoveList& legalmoves,
                       std::string_view start_fen = common::FEN_New_Game);

// A failure as people read it: the message, or for a failed internal check
// where it failed.
std::string failure_text(const std::exception& error);

}  // namespace ai_players
