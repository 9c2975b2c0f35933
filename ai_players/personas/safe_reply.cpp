#include "ai_players/personas/safe_reply.h"

#include <functional>

#include "ai_players/core/text.h"

namespace ai_players {

namespace {

MovePtr legal_one(const MoveList& legal, const MovePtr& move) {
  if (!move) return nullptr;
  const std::string coord = move->to_coord();
  for (const auto& m : legal)
    if (m->to_coord() == coord) return m;
  return nullptr;
}

// The fields GetReply sets, for a fallback asked for without it.
void store_request(AI_BASIC& persona, const MoveList& history, const MoveList& legal, std::string_view fen) {
  persona.game_history = history;
  persona.legalmoves = legal;
  persona.start_fen = std::string(fen);
  persona.myside = legal.front()->Piece > 0 ? common::WHITE : common::BLACK;
  persona.oppside = -1 * persona.myside;
}

}  // namespace

std::string failure_text(const std::exception& error) {
  if (const auto* check = dynamic_cast<const AssertionError*>(&error)) return describe(*check);
  return error.what();
}

SafeReply reply_safely(AI_BASIC& persona, const MoveList& game_history, const MoveList& legalmoves,
                       std::string_view start_fen) {
  require(!legalmoves.empty());
  SafeReply out;
  std::string trouble;  // why the persona's own choice was not played

  // One attempt; an engine failure gets one fresh engine and one more try.
  const auto attempt = [&](const std::function<MovePtr()>& ask, std::string& why) -> MovePtr {
    for (int tries = 0; tries < 2; ++tries) {
      try {
        const MovePtr move = ask();
        out.cut_short = out.cut_short || persona.cut_short();
        if (MovePtr legal = legal_one(legalmoves, move)) return legal;
        why = format_s("it answered %s, which is not a legal move here", move ? move->to_coord() : "nothing");
        return nullptr;
      } catch (const EngineError& e) {
        why = e.what();
        if (out.engine_restarted) return nullptr;
        try {
          persona.restart_engine();
          out.engine_restarted = true;
        } catch (const std::exception& again) {
          why += format_s("; a fresh engine failed too: %s", again.what());
          return nullptr;
        }
      } catch (const std::exception& e) {
        why = failure_text(e);
        return nullptr;
      }
    }
    return nullptr;
  };

  out.move = attempt([&] { return persona.GetReply(game_history, legalmoves, start_fen); }, trouble);
  if (out.move) {
    if (out.engine_restarted) out.note = format_s("%s: its engine was restarted (%s)", persona.Name, trouble);
    return out;
  }

  std::string fallback_trouble;
  out.move = attempt(
      [&] {
        store_request(persona, game_history, legalmoves, start_fen);
        return persona.FallbackReply_();
      },
      fallback_trouble);
  if (!out.move)
    throw PersonaFailure(format_s("%s could not choose a move: %s; its fallback failed too: %s", persona.Name,
                                  trouble, fallback_trouble));
  out.fallback = true;
  out.note = format_s("%s played a fallback move (%s)", persona.Name, trouble);
  return out;
}

}  // namespace ai_players
