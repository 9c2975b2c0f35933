// A person playing a persona in the terminal: a compact board after each
// reply, the adviser's previews, commands, a ticker while the persona thinks
// (Enter makes it move now), and one game after another until they leave.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "pgn/pgn_file.h"
#include "players/human_game.h"
#include "terminal/line_input.h"

namespace ai_players::app {

struct TerminalPlay {
  HumanGameSetup game;
  std::string pgn_file;  // every game of the session is saved here; empty: nowhere
  PgnWrite pgn_mode = PgnWrite::Fresh;
  // The games database every game is kept in, move by move; none: nowhere.
  std::optional<std::string> db;
  bool verbose = false;
  bool live = false;  // a person at a terminal: the ticker redraws its own line
  // The review of a game for the 'review' command, as text; none: no review.
  std::function<std::string(HumanGame&)> review;
};

// Plays until the person leaves, the input ends or it is interrupted (by a
// signal, say); the PGN file is written before it returns.
void play_in_terminal(const TerminalPlay& options, LineInput& in, std::ostream& out);

}  // namespace ai_players::app
