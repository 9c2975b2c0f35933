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
  enum class Result { Move, NotLegal, EngineFailed, Failed };

  const auto attempt = [&](const std::function<MovePtr()>& ask, std::string& why) {
    try {
      const MovePtr move = ask();
      out.cut_short = out.cut_short || persona.cut_short();
      if ((out.move = legal_one(legalmoves, move))) return Result::Move;
      why = format_s("it answered %s, which is not a legal move here", move ? move->to_coord() : "nothing");
      return Result::NotLegal;
    } catch (const EngineError& e) {
      why = e.what();
      return Result::EngineFailed;
    } catch (const std::exception& e) {
      why = failure_text(e);
      return Result::Failed;
    }
  };
  // One fresh engine per reply, at most: an engine that fails again is hopeless.
  const auto restart = [&](const std::string& why) {
    if (out.engine_restarted)
      throw PersonaFailure(format_s("%s could not choose a move: %s", persona.Name, why));
    try {
      persona.restart_engine();
    } catch (const std::exception& e) {
      throw PersonaFailure(format_s("%s could not choose a move: %s; a fresh engine failed too: %s", persona.Name,
                                    why, e.what()));
    }
    out.engine_restarted = true;
  };
  const auto own_choice = [&] { return persona.GetReply(game_history, legalmoves, start_fen); };
  const auto fallback_choice = [&] {
    store_request(persona, game_history, legalmoves, start_fen);
    return persona.FallbackReply_();
  };

  std::string trouble, restarted_for;
  Result r = attempt(own_choice, trouble);
  if (r == Result::EngineFailed) {
    restart(restarted_for = trouble);
    r = attempt(own_choice, trouble);
    if (r == Result::EngineFailed) restart(trouble);  // throws: the fresh engine failed as well
  }
  if (r == Result::Move) {
    if (out.engine_restarted) out.note = format_s("%s: its engine was restarted (%s)", persona.Name, restarted_for);
    return out;
  }

  std::string fallback_trouble;
  Result f = attempt(fallback_choice, fallback_trouble);
  if (f == Result::EngineFailed) {
    restart(fallback_trouble);
    f = attempt(fallback_choice, fallback_trouble);
  }
  if (f != Result::Move)
    throw PersonaFailure(format_s("%s could not choose a move: %s; its fallback failed too: %s", persona.Name,
                                  trouble, fallback_trouble));
  out.fallback = true;
  out.note = format_s("%s played a fallback move (%s)", persona.Name, trouble);
  return out;
}

}  // namespace ai_players
