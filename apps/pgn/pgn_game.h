// One game as PGN holds it: what the reader fills and the writer prints.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ai_players/host/board.h"

namespace ai_players::app {

struct PgnGame {
  // Tags in their order; values unescaped. Written games start with the
  // seven tag roster (see with_roster).
  std::vector<std::pair<std::string, std::string>> tags;
  std::vector<std::string> san;       // the main line, without numbers
  // Per move, each of these may be shorter than san (nothing to add).
  std::vector<std::string> comments;  // after the move
  std::vector<std::string> nags;      // "$4"
  std::vector<std::vector<std::string>> variations;  // a line (SAN) that could have been played instead
  std::string final_comment;          // before the result
  std::string result = "*";           // the termination marker

  // The value of the first tag of that name; empty when there is none.
  std::string tag(std::string_view name) const;
  // Replaces the tag's value, or adds the tag at the end.
  void set_tag(const std::string& name, const std::string& value);
  // Its FEN tag, or the standard start.
  std::string start_fen() const;
  // Its moves, each read from its SAN in the position it was played in; the
  // first that is not legal there ends it ("move 2. Ke3 is not legal here: ...").
  board::MoveList moves() const;
  // What the game text says last, which is why it ended: the closing comment,
  // else the last move's comment (a reader cannot tell the two apart when
  // the move has none of its own); empty when there is none.
  std::string ending_comment() const;
};

// A game with the seven tag roster in its order (Date: today) and that result.
PgnGame with_roster(const std::string& event, const std::string& site, const std::string& round,
                    const std::string& white, const std::string& black, const std::string& result);

// The whole game: tags, a blank line, the move text wrapped at 80
// characters (numbers from the FEN tag's move number and side), a blank line.
std::string to_pgn(const PgnGame& game);

// Today's date in the PGN form "2024.05.01".
std::string pgn_date_today();

// The i-th move of a game from fen as move text: "12. Nf3" for White,
// "12... Nf6" for a first move by Black, otherwise the plain SAN.
std::string pgn_move_unit(const std::string& fen, std::size_t index, const std::string& san);
// A comment as PGN move text: "{text}", with braces in the text made harmless.
std::string pgn_comment(const std::string& text);

}  // namespace ai_players::app
