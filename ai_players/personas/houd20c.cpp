#include "ai_players/personas/houd20c.h"

#include <cmath>
#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

namespace {
// Checked in the initialiser list so that a bad figure starts no engine.
Number checked_elo(Number elo) {
  require(std::fmod(elo.value(), 10.0) == 0);
  return elo;
}
}  // namespace

HOUD20c::HOUD20c(Number elo) : AI_BASIC("HOUD20c", checked_elo(elo), std::string(HOUDINI)) {
  writeIntoEngine("setoption name UCI_LimitStrength value true");
  writeIntoEngine(format_s("setoption name UCI_Elo value %s", elo));
  writeIntoEngine("setoption name Numa value false");
  common::echo(format_s("AI:HOUDINI20c; elo_limited=%s", elo));
}

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
  if (bestmove_coord.empty()) writeIntoEngine("go depth 30");
  while (bestmove_coord.empty()) {
    const std::string eline = next_engine_line_();
    if (eline.find("bestmove") != std::string::npos) bestmove_coord = engine::split_tokens(eline).at(1);
  }
  return board::make_move(bestmove_coord, legalmoves);
}

}  // namespace ai_players
