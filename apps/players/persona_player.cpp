#include "players/persona_player.h"

#include <cmath>
#include <map>
#include <mutex>

#include <fmt/format.h>

#include "game/numbers.h"

namespace ai_players::app {

int PersonaPlayer::strength() const { return static_cast<int>(std::lround(persona->ELO.value())); }

namespace {

// Engines (by path) that failed and were replaced in this run, and why. An
// engine that fails again, for any persona, is broken: waiting on it reply
// after reply would only make every command slow to say so.
std::mutex troubled_mutex;
std::map<std::string, std::string> troubled;

void note_engine_trouble(const AI_BASIC& persona, const SafeReply& reply) {
  const std::lock_guard lock(troubled_mutex);
  const std::string engine = persona.engine_name();
  const auto it = troubled.find(engine);
  if (it == troubled.end()) {
    troubled[engine] = reply.detail;
    return;
  }
  throw PersonaFailure(fmt::format("{} could not choose a move: the chess engine {} failed again ({}) after it had "
                                   "failed before ({})",
                                   persona.Name, engine, reply.detail, it->second));
}

}  // namespace

SafeReply ask_persona(PersonaPlayer& player, const board::MoveList& history, const board::MoveList& legal,
                      const std::string& start_fen, std::optional<std::chrono::steady_clock::time_point> deadline) {
  AI_BASIC& persona = *player.persona;
  persona.stop_at = deadline;
  ++player.replies;
  try {
    SafeReply reply = reply_safely(persona, history, legal, start_fen);
    if (reply.fallback) ++player.fallbacks;
    if (reply.cut_short) ++player.cut_short;
    if (reply.engine_restarted) {
      ++player.engine_restarts;
      note_engine_trouble(persona, reply);
    }
    return reply;
  } catch (const PersonaFailure&) {
    ++player.failed_games;
    throw;
  }
}

Mover persona_mover(PersonaPlayer& player, Announce announce) {
  return [&player, announce = std::move(announce)](const MoveRequest& request) {
    try {
      SafeReply reply = ask_persona(player, request.history, request.legal, request.start_fen, request.deadline);
      if (!reply.note.empty() && announce) announce(reply.note, reply.detail);
      return MoveReply{reply.move, reply.note};
    } catch (const PersonaFailure& e) {
      if (announce) announce(e.what(), "");
      throw MoverFailure(e.what());
    }
  };
}

std::string player_report(const PersonaPlayer& p, int games) {
  std::string out;
  if (p.cut_short)
    out += fmt::format("{}: {} of {} cut short by the clock\n", p.name, p.cut_short, counted(p.replies, "reply", "replies"));
  if (p.fallbacks)
    out += fmt::format("{}: {} in {}\n", p.name, counted(p.fallbacks, "fallback move"),
                       counted(games, "game"));
  if (p.engine_restarts)
    out += fmt::format("{}: its engine was restarted {}\n", p.name, counted(p.engine_restarts, "time"));
  if (p.failed_games)
    out += fmt::format("{}: could not finish {} (abandoned, not scored)\n", p.name,
                       counted(p.failed_games, "game"));
  return out;
}

}  // namespace ai_players::app
