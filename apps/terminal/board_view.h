// The terminal's picture of a game: the board with the last move marked, and
// a panel beside it, made to fit a screen of 80 columns and 24 lines.
#pragma once

#include <string>
#include <vector>

#include "game/game_state.h"

namespace ai_players::app {

// The board in 11 lines, White at the bottom unless `black_view`; the two
// squares of `last_move` (coordinates, e2e4) in brackets: "[.]", "[P]".
std::vector<std::string> board_lines(const std::string& fen, bool black_view, const std::string& last_move = {});

// The last `rows` rows of the move list, "12. Nf3    Nc6" ("12. ...  Nc6" when Black moved first).
std::vector<std::string> move_rows(const PlayedGame& record, std::size_t rows);

// Each left line padded to `width`, then the right one; as many lines as the longer side.
std::string side_by_side(const std::vector<std::string>& left, const std::vector<std::string>& right,
                         std::size_t width);

// A clock as people read it: "4:05", "0:09", and tenths under ten seconds ("0:09.5").
std::string clock_text(milliseconds left);

// `text` broken into lines of at most `width` columns at spaces.
std::string wrapped(const std::string& text, std::size_t width = 79);

}  // namespace ai_players::app
