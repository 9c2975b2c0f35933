#include "ai_players/personas/safe_reply.h"

#include <functional>
#include <optional>

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

std::string joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "; " + b;
}

}  // namespace

std::string failure_text(const std::exception& error) {
  if (const auto* check = dynamic_cast<const AssertionError*>(&error)) return describe(*check);
  return error.what();
}

SafeReply reply_safely(AI_BASIC& persona, const MoveList& game_history, const MoveList& legalmoves,
                       std::string_view start_fen) {
  require(!legalmoves.empty());
  const std::string who = persona.base_name();
  std::optional<AI_BASIC::ReplyScope> scope;
  try {
    scope.emplace(persona);  // replaces an engine broken in an earlier reply
  } catch (const std::exception& e) {
    throw PersonaFailure(format_s("%s could not choose a move: %s", persona.Name, e.what()));
  }
  SafeReply out;
  // Why the own choice failed, in a player's words (what follows the name).
  enum class Result { Move, NotLegal, EngineFailed, CutShort, NoLastMove, Failed };

  const auto attempt = [&](const std::function<MovePtr()>& ask, std::string& why, std::string& words) {
    try {
      const MovePtr move = ask();
      if ((out.move = legal_one(legalmoves, move))) return Result::Move;
      why = format_s("it answered %s, which is not a legal move here", move ? move->to_coord() : "nothing");
      words = format_s("chose %s, which is not a legal move here", move ? move->to_coord() : "no move");
      return Result::NotLegal;
    } catch (const EngineError& e) {
      why = e.what();
      words = "lost its engine";
      return Result::EngineFailed;
    } catch (const CutShortError& e) {
      why = e.what();
      words = "was cut short before it found a move";
      return Result::CutShort;
    } catch (const NoLastMoveError& e) {
      why = failure_text(e);
      words = "has no previous move to answer in this set-up position";
      return Result::NoLastMove;
    } catch (const std::exception& e) {
      why = failure_text(e);
      words = "could not make its own choice here";
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
  const auto finish = [&] {
    out.cut_short = persona.cut_short();
    if (persona.engine_replaced()) {
      out.engine_restarted = true;
      out.detail = joined(out.detail, persona.engine_trouble);
    }
  };

  std::string trouble, words, restarted_for;
  Result r = attempt(own_choice, trouble, words);
  if (r == Result::EngineFailed && !persona.out_of_time()) {
    restart(restarted_for = trouble);
    r = attempt(own_choice, trouble, words);
    if (r == Result::EngineFailed) restart(trouble);  // throws: the fresh engine failed as well
  }
  if (r == Result::Move) {
    finish();
    if (!restarted_for.empty())
      out.note = format_s("%s's engine stopped working and was restarted", who);
    else if (out.engine_restarted)
      out.note = format_s("%s's engine did not stop when told and was replaced; the move is from what it had found", who);
    out.detail = joined(restarted_for, out.detail);
    return out;
  }

  // No time for the persona's own fallback: one quick search at most.
  const auto quick = [&] {
    store_request(persona, game_history, legalmoves, start_fen);
    bool searched = false;
    out.move = legal_one(legalmoves, persona.quick_move(&searched));
    out.fallback = true;
    finish();
    out.note = format_s("%s %s, so it plays %s", who, words,
                        searched ? "the engine's quickest move" : "a random legal move");
    out.detail = joined(trouble, out.detail);
    return out;
  };
  if (persona.out_of_time()) return quick();

  std::string fallback_trouble, fallback_words;
  Result f = attempt(fallback_choice, fallback_trouble, fallback_words);
  if (f == Result::EngineFailed && !persona.out_of_time()) {
    restart(fallback_trouble);
    f = attempt(fallback_choice, fallback_trouble, fallback_words);
  }
  if (f != Result::Move && persona.out_of_time()) return quick();
  if (f != Result::Move)
    throw PersonaFailure(format_s("%s could not choose a move: %s; its fallback failed too: %s", persona.Name,
                                  trouble, fallback_trouble));
  out.fallback = true;
  finish();
  out.note = format_s("%s %s, so it %s", who, words, persona.FallbackWords_());
  out.detail = joined(trouble, out.detail);
  return out;
}

}  // namespace ai_players
