// Reads PGN as other chess programs write it: tags, move text with numbers,
// comments, variations and NAGs. Moves stay SAN text; the board checks them.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "game/user_error.h"
#include "pgn/pgn_game.h"

namespace ai_players::app {

// A game the reader could not read: which game (counted from 1), the line,
// and what was wrong there.
struct PgnError : UserError {
  PgnError(int game, int line, const std::string& problem);
  int game;
  int line;
  std::string problem;
};

class PgnReader {
 public:
  explicit PgnReader(std::istream& in);

  // The next game (tags, main-line SAN, the comments on it, result; NAGs and
  // variations are passed over), or none at the end of the input. The result
  // is the termination marker, else the Result tag, else "*". A broken game
  // throws PgnError once it has been skipped whole, so the next call reads
  // the game after it.
  std::optional<PgnGame> next();

  // Games met so far, broken ones included.
  int games_seen() const { return game_; }

 private:
  bool next_line();
  std::string read_comment();
  void note_comment(PgnGame& game, const std::string& text);
  void read_tag(PgnGame& game);
  void add_token(PgnGame& game, std::string token);
  [[noreturn]] void fail(const std::string& problem, bool in_movetext);

  std::istream& in_;
  std::string line_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
  int game_ = 0;
  bool commented_ = false;  // a comment came since the last move
};

// Every readable game of the input; the broken ones are skipped and said in
// `problems` (one message each). Without `problems`, the first broken game throws.
std::vector<PgnGame> read_pgn(std::istream& in, std::vector<std::string>* problems = nullptr);

}  // namespace ai_players::app
