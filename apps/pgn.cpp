#include "pgn.h"

#include <ctime>
#include <sstream>

#include <fmt/format.h>

namespace ai_players::app {
namespace {

constexpr std::size_t kLineWidth = 80;


// First move number and side to move of a FEN; the standard start when the
// fields are missing or unreadable.
std::pair<int, bool> first_move(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling, ep;
  int number = 1, halfmoves = 0;
  in >> placement >> side >> castling >> ep >> halfmoves >> number;
  if (!in || number < 1) number = 1;
  return {number, side == "b"};
}

}  // namespace

std::string pgn_tag(const std::string& name, const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return fmt::format("[{} \"{}\"]\n", name, escaped);
}

std::string pgn_move_unit(const std::string& fen, std::size_t index, const std::string& san) {
  const auto [first_number, black_first] = first_move(fen);
  const std::size_t ply = index + (black_first ? 1 : 0);  // plies since White's first move
  const int number = first_number + static_cast<int>(ply / 2);
  if (ply % 2 == 0) return fmt::format("{}. {}", number, san);
  if (index == 0) return fmt::format("{}... {}", number, san);
  return san;
}

std::string pgn_comment(const std::string& text) {
  std::string clean;
  for (char c : text) clean += (c == '{' ? '(' : c == '}' ? ')' : (c == '\n' || c == '\r') ? ' ' : c);
  return "{" + clean + "}";
}

std::string pgn_movetext(const std::vector<std::string>& san, const std::string& fen,
                         const std::string& result, const std::vector<std::string>& comments,
                         const std::string& final_comment) {
  // Units are kept whole on a line, so a move number never ends a line;
  // comments may break at their blanks.
  std::vector<std::string> units;
  const auto add_comment = [&units](const std::string& text) {
    std::istringstream words(pgn_comment(text));
    for (std::string word; words >> word;) units.push_back(word);
  };
  bool after_comment = false;
  for (std::size_t i = 0; i < san.size(); ++i) {
    std::string unit = pgn_move_unit(fen, i, san[i]);
    if (after_comment && unit == san[i]) {
      // Black's move after a comment takes its number again: "12... Nf6".
      const std::string numbered = pgn_move_unit(fen, i - 1, "x");
      unit = numbered.substr(0, numbered.find('.')) + "... " + san[i];
    }
    units.push_back(unit);
    after_comment = i < comments.size() && !comments[i].empty();
    if (after_comment) add_comment(comments[i]);
  }
  if (!final_comment.empty()) add_comment(final_comment);
  units.push_back(result);

  std::string text, line;
  for (const auto& unit : units) {
    if (!line.empty() && line.size() + 1 + unit.size() > kLineWidth) {
      text += line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + unit;
  }
  return text + line + '\n';
}

std::string to_pgn(const PgnGame& game) {
  std::string out = pgn_tag("Event", game.event) + pgn_tag("Site", game.site) + pgn_tag("Date", game.date) +
                    pgn_tag("Round", game.round) + pgn_tag("White", game.white) + pgn_tag("Black", game.black) +
                    pgn_tag("Result", game.result);
  if (!game.fen.empty()) out += pgn_tag("SetUp", "1") + pgn_tag("FEN", game.fen);
  if (!game.termination.empty()) out += pgn_tag("Termination", game.termination);
  for (const auto& [name, value] : game.more_tags) out += pgn_tag(name, value);
  out += pgn_tag("PlyCount", std::to_string(game.san.size()));
  return out + '\n' + pgn_movetext(game.san, game.fen, game.result, game.comments, game.final_comment) + '\n';
}

std::string pgn_date_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return fmt::format("{:04}.{:02}.{:02}", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace ai_players::app
