// A match: games between two personas in this process, colours alternating,
// with its score and Elo difference.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "game/time_control.h"
#include "pgn/pgn_file.h"
#include "players/persona_factory.h"

namespace ai_players::app {

struct MatchPlan {
  std::string white, black;  // the first game's colours
  int games = 1;
  std::string start_fen{common::FEN_New_Game};
  std::string pgn_file;  // empty: none
  PgnWrite pgn_mode = PgnWrite::Fresh;
  std::optional<std::uint64_t> seed;
  int max_plies = 0;
  bool verbose = false;
  std::optional<TimeControl> clock;
  std::optional<milliseconds> movetime;
  PersonaSettings settings;
};

// Plays the match: a single game's moves as they are played, or a progress
// bar for several, on `out`/`log`; then the summary. Throws Error when no
// game could be finished.
void run_match(const MatchPlan& plan, std::ostream& out, std::ostream& log);

}  // namespace ai_players::app
