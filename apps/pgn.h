// Games written as PGN, the text every chess program reads.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ai_players::app {

struct PgnGame {
  // The seven tag roster, in its order.
  std::string event = "?";
  std::string site = "?";
  std::string date = "????.??.??";
  std::string round = "?";
  std::string white = "?";
  std::string black = "?";
  std::string result = "*";
  // A start position other than the standard one; empty for the standard one.
  std::string fen;
  std::string termination;  // empty: no Termination tag
  std::vector<std::pair<std::string, std::string>> more_tags;  // e.g. WhiteElo, after the others
  std::vector<std::string> san;
  std::vector<std::string> comments;  // per move, may be shorter than san; empty: none
  std::string final_comment;          // before the result, e.g. the specific reason of the ending
};

// The i-th move of a game from fen as move text: "12. Nf3" for White,
// "12... Nf6" for a first move by Black, otherwise the plain SAN.
std::string pgn_move_unit(const std::string& fen, std::size_t index, const std::string& san);

// Move text with move numbers, wrapped into lines of at most 80 characters,
// ending with the result. The FEN (or the standard start when empty) gives
// the first move number and whether Black moves first ("12... Nf6").
// Comments go in braces after their move (comments[i] after san[i]), the
// final comment before the result.
std::string pgn_movetext(const std::vector<std::string>& san, const std::string& fen,
                         const std::string& result, const std::vector<std::string>& comments = {},
                         const std::string& final_comment = {});

// A comment as PGN move text: "{text}", with braces in the text made harmless.
std::string pgn_comment(const std::string& text);

// One tag pair as a PGN line, the value escaped: [White "A \"B\""].
std::string pgn_tag(const std::string& name, const std::string& value);

// One whole game: tags, a blank line, the move text, a blank line.
std::string to_pgn(const PgnGame& game);

// Today's date in the PGN form "2024.05.01".
std::string pgn_date_today();

}  // namespace ai_players::app
