#include "ai_players/personas/houd20c.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

namespace {
// Checked in the initialiser list so that a bad figure starts no engine.
Number checked_elo(Number elo) {
  require(std::fmod(elo.value(), 10.0) == 0);
  return elo;
}
}  // namespace

HOUD20c::HOUD20c(Number elo, engine::EngineConfig config)
    : AI_BASIC("HOUD20c", checked_elo(elo), std::string(HOUDINI), std::move(config)) {
  send_strength_options_();
  common::echo(format_s("AI:HOUDINI20c; elo_limited=%s", elo));
}

void HOUD20c::send_strength_options_() {
  writeIntoEngine("setoption name UCI_LimitStrength value true");
  writeIntoEngine(format_s("setoption name UCI_Elo value %s", ELO));
  writeIntoEngine("setoption name Numa value false");
}

void HOUD20c::engine_started_() { send_strength_options_(); }

void HOUD20c::change_elo(Number elo) {
  writeIntoEngine(format_s("setoption name UCI_Elo value %s", elo));
  writeIntoEngine("setoption name Clear Hash");
  // The answers to "uci" stay in the pipe; the next read loop skips them.
  writeIntoEngine("uci");
  writeIntoEngine("ucinewgame");
  common::echo(format_s("%s %s", "HOUD20c", elo));
  Name = format_s("%s(%s)", "HOUD20c", elo);
  ELO = elo;
}

MovePtr HOUD20c::GetReply_(std::optional<double> /*error_margin*/) {
  MakeMovesFromStartPos(game_history);
  std::string bestmove_coord;
  if (game_history.empty()) bestmove_coord = "e2e4";
  if (game_history.size() == 1) bestmove_coord = "e7e5";
  if (bestmove_coord.empty()) bestmove_coord = engine_bestmove_();
  return board::make_move(bestmove_coord, legalmoves);
}

std::string HOUD20c::engine_bestmove_() {
  activity = "playing at its strength limit (go " + search_limits + ")";
  // The persona's one search, and the engine plays on its own: it runs to its
  // end while the engine makes progress, and cut short (even before it began)
  // the engine's bestmove is what it found at its strength limit.
  ponder_move.clear();
  start_search_("go " + search_limits);
  while (const auto eline = next_search_line_()) {
    if (eline->find("bestmove") == std::string::npos) {
      // Its line so far is the persona's analysis of the move it plays.
      if (eline->find(" pv ") != std::string::npos && eline->find(" score ") != std::string::npos) {
        try {
          auto [score, depth, pv] = parse_pv_line_(*eline);
          remember_reply_lines_({Analysis(score, depth, std::move(pv))});
        } catch (const Error&) {
          // not a line of the search: the bestmove is what counts
        }
      }
      continue;
    }
    const auto tokens = engine::split_tokens(*eline);
    if (tokens.size() < 2)
      throw EngineError(format_s("The chess engine %s sent a bestmove line without a move: %s", engine_name(),
                                 quoted_excerpt(*eline)));
    activity.clear();
    if (tokens.size() >= 4 && tokens[2] == "ponder") ponder_move = tokens[3];
    return tokens[1];
  }
  activity.clear();
  require_candidates_({});  // the engine did not stop when told and is gone: nothing found
  throw CutShortError(format_s("%s found no move", Name));
}

MovePtr HOUD20c::FallbackReply_() {
  // The engine's own choice at its strength limit, whatever the position.
  MakeMovesFromStartPos(game_history);
  return board::make_move(engine_bestmove_(), legalmoves);
}

}  // namespace ai_players
