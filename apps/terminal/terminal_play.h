// A person playing a persona in the terminal: the board, the moves typed,
// the persona's replies, the adviser's previews.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "players/human_game.h"

namespace ai_players::app {

struct TerminalPlay {
  HumanGameSetup game;
  std::string pgn_file;  // where the game is saved when it ends; empty: nowhere
  bool verbose = false;
};

// Plays one game on `in` and `out` until it ends or the person leaves.
void play_in_terminal(const TerminalPlay& options, std::istream& in, std::ostream& out);

// The board as to_text draws it, turned around when Black sits at the bottom.
std::string board_text(const board::Board& position, bool black_view);

}  // namespace ai_players::app
