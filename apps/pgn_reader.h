// Reads PGN as other chess programs write it: tags, move text with numbers,
// comments, variations and NAGs. Moves stay SAN text; the board checks them.
#pragma once

#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ai_players::app {

struct PgnRecord {
  std::vector<std::pair<std::string, std::string>> tags;  // file order, values unescaped
  std::vector<std::string> san;                           // main line only, without numbers or NAGs
  std::string result;  // the termination marker; the Result tag (or "*") when the game has none

  // The value of the first tag of that name; empty when there is none.
  std::string tag(std::string_view name) const;
};

// A game the reader could not read: which game (counted from 1), the line,
// and what was wrong there.
struct PgnError : std::runtime_error {
  PgnError(int game, int line, const std::string& problem);
  int game;
  int line;
  std::string problem;
};

class PgnReader {
 public:
  explicit PgnReader(std::istream& in);

  // The next game, or none at the end of the input. A broken game throws
  // PgnError once it has been skipped, so the next call reads the game after it.
  std::optional<PgnRecord> next();

  // Games met so far, broken ones included.
  int games_seen() const { return game_; }

 private:
  bool next_line();
  void skip_comment();
  void read_tag(PgnRecord& record);
  void add_token(PgnRecord& record, std::string token);
  [[noreturn]] void fail(const std::string& problem, bool in_movetext);

  std::istream& in_;
  std::string line_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
  int game_ = 0;
};

// Every game of the input; the first broken one throws PgnError.
std::vector<PgnRecord> read_pgn(std::istream& in);

}  // namespace ai_players::app
