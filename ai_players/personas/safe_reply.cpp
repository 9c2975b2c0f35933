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

// Why an attempt failed, in a player's words (what follows the name).
enum class Result { Move, NotLegal, EngineFailed, CutShort, NoLastMove, Failed };

struct Attempt {
  Result result = Result::Failed;
  MovePtr move;       // the legal move answered, for Result::Move
  std::string why;    // the technical reason
  std::string words;  // for people: "lost its engine"
};

// One call of reply_safely: what it was asked and what it answers so far.
struct ReplyRun {
  AI_BASIC& persona;
  const MoveList& history;
  const MoveList& legal;
  std::string_view fen;
  SafeReply out;
};

// Opens the reply (which replaces an engine broken in an earlier one).
void open_reply(std::optional<AI_BASIC::ReplyScope>& scope, AI_BASIC& persona) {
  try {
    scope.emplace(persona);
  } catch (const std::exception& e) {
    throw PersonaFailure(format_s("%s could not choose a move: %s", persona.Name, e.what()));
  }
}

Attempt attempt(const std::function<MovePtr()>& ask, const MoveList& legal) {
  try {
    const MovePtr move = ask();
    if (MovePtr m = legal_one(legal, move)) return {Result::Move, m, "", ""};
    return {Result::NotLegal, nullptr,
            format_s("it answered %s, which is not a legal move here", move ? move->to_coord() : "nothing"),
            format_s("chose %s, which is not a legal move here", move ? move->to_coord() : "no move")};
  } catch (const EngineError& e) {
    return {Result::EngineFailed, nullptr, e.what(), "lost its engine"};
  } catch (const CutShortError& e) {
    return {Result::CutShort, nullptr, e.what(), "was cut short before it found a move"};
  } catch (const NoLastMoveError& e) {
    return {Result::NoLastMove, nullptr, failure_text(e), "has no previous move to answer in this set-up position"};
  } catch (const std::exception& e) {
    return {Result::Failed, nullptr, failure_text(e), "could not make its own choice here"};
  }
}

// One fresh engine per reply, at most: an engine that fails again is hopeless.
void restart_once(ReplyRun& run, const std::string& why) {
  if (run.out.engine_restarted)
    throw PersonaFailure(format_s("%s could not choose a move: %s", run.persona.Name, why));
  try {
    run.persona.restart_engine();
  } catch (const std::exception& e) {
    throw PersonaFailure(format_s("%s could not choose a move: %s; a fresh engine failed too: %s", run.persona.Name,
                                  why, e.what()));
  }
  run.out.engine_restarted = true;
}

// The persona's own choice; an engine that failed while there is time is
// restarted and asked again (`restarted_for`: why), and a second failure ends it.
Attempt ask_own_choice(ReplyRun& run, std::string& restarted_for) {
  const auto own = [&run] { return run.persona.GetReply(run.history, run.legal, run.fen); };
  Attempt a = attempt(own, run.legal);
  if (a.result != Result::EngineFailed || run.persona.out_of_time()) return a;
  restart_once(run, restarted_for = a.why);
  a = attempt(own, run.legal);
  if (a.result == Result::EngineFailed) restart_once(run, a.why);  // throws: the fresh engine failed as well
  return a;
}

// The persona's fallback, with a fresh engine when this reply has not had one yet.
Attempt ask_fallback(ReplyRun& run) {
  const auto fallback = [&run] {
    store_request(run.persona, run.history, run.legal, run.fen);
    return run.persona.FallbackReply_();
  };
  Attempt a = attempt(fallback, run.legal);
  if (a.result != Result::EngineFailed || run.persona.out_of_time()) return a;
  restart_once(run, a.why);
  return attempt(fallback, run.legal);
}

// What the persona says of the reply's searches.
void note_searches(ReplyRun& run) {
  run.out.cut_short = run.persona.cut_short();
  if (run.persona.engine_replaced()) {
    run.out.engine_restarted = true;
    run.out.detail = joined(run.out.detail, run.persona.engine_trouble);
  }
}

SafeReply own_reply(ReplyRun& run, const Attempt& own, const std::string& restarted_for) {
  const std::string& who = run.persona.base_name();
  run.out.move = own.move;
  note_searches(run);
  if (!restarted_for.empty())
    run.out.note = format_s("%s's engine stopped working and was restarted", who);
  else if (run.out.engine_restarted)
    run.out.note = format_s("%s's engine did not stop when told and was replaced; the move is from what it had found", who);
  run.out.detail = joined(restarted_for, run.out.detail);
  return run.out;
}

// No time for the persona's own fallback: one quick search at most.
SafeReply quick_reply(ReplyRun& run, const Attempt& own) {
  store_request(run.persona, run.history, run.legal, run.fen);
  bool searched = false;
  run.out.move = legal_one(run.legal, run.persona.quick_move(&searched));
  run.out.fallback = true;
  note_searches(run);
  run.out.note = format_s("%s %s, so it plays %s", run.persona.base_name(), own.words,
                          searched ? "the engine's quickest move" : "a random legal move");
  run.out.detail = joined(own.why, run.out.detail);
  return run.out;
}

SafeReply fallback_reply(ReplyRun& run, const Attempt& own, const Attempt& fallback) {
  run.out.move = fallback.move;
  run.out.fallback = true;
  note_searches(run);
  run.out.note = format_s("%s %s, so it %s", run.persona.base_name(), own.words, run.persona.FallbackWords_());
  run.out.detail = joined(own.why, run.out.detail);
  return run.out;
}

}  // namespace

std::string failure_text(const std::exception& error) {
  if (const auto* check = dynamic_cast<const AssertionError*>(&error)) return describe(*check);
  return error.what();
}

SafeReply reply_safely(AI_BASIC& persona, const MoveList& game_history, const MoveList& legalmoves,
                       std::string_view start_fen) {
  require(!legalmoves.empty());
  std::optional<AI_BASIC::ReplyScope> scope;
  open_reply(scope, persona);
  ReplyRun run{persona, game_history, legalmoves, start_fen, {}};
  std::string restarted_for;
  const Attempt own = ask_own_choice(run, restarted_for);
  if (own.result == Result::Move) return own_reply(run, own, restarted_for);
  if (persona.out_of_time()) return quick_reply(run, own);
  const Attempt fallback = ask_fallback(run);
  if (fallback.result == Result::Move) return fallback_reply(run, own, fallback);
  if (persona.out_of_time()) return quick_reply(run, own);
  throw PersonaFailure(format_s("%s could not choose a move: %s; its fallback failed too: %s", persona.Name, own.why,
                                fallback.why));
}

}  // namespace ai_players
