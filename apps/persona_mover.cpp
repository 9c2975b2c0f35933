#include "persona_mover.h"

#include "ai_players/personas/safe_reply.h"

namespace ai_players::app {

Mover persona_mover(PersonaPlayer& player, Announce announce) {
  return [&player, announce = std::move(announce)](const MoveRequest& request) {
    AI_BASIC& persona = *player.persona;
    persona.stop_at = request.deadline;
    persona.clear_interrupt();
    try {
      SafeReply reply = reply_safely(persona, request.history, request.legal, request.start_fen);
      if (reply.fallback) ++player.fallbacks;
      if (reply.engine_restarted) ++player.engine_restarts;
      if (!reply.note.empty() && announce) announce(reply.note);
      return MoveReply{reply.move, reply.note};
    } catch (const PersonaFailure& e) {
      ++player.failed_games;
      if (announce) announce(e.what());
      throw MoverFailure(e.what());
    }
  };
}

}  // namespace ai_players::app
