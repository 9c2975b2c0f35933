#include "pgn/pgn_game.h"

#include <ctime>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/host/common.h"

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

std::string tag_line(const std::string& name, const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += (c == '\n' || c == '\r') ? ' ' : c;
  }
  return fmt::format("[{} \"{}\"]\n", name, escaped);
}

template <class T>
const T* at(const std::vector<T>& list, std::size_t i) {
  return i < list.size() && !list[i].empty() ? &list[i] : nullptr;
}

// Units are kept whole on a line, so a move number never ends a line;
// comments break at their blanks.
class MoveText {
 public:
  void add(const std::string& unit) { units_.push_back(unit); }
  void comment(const std::string& text) {
    std::istringstream words(pgn_comment(text));
    for (std::string word; words >> word;) units_.push_back(word);
  }
  std::string wrapped() const {
    std::string text, line;
    for (const auto& unit : units_) {
      if (!line.empty() && line.size() + 1 + unit.size() > kLineWidth) {
        text += line + '\n';
        line.clear();
      }
      line += (line.empty() ? "" : " ") + unit;
    }
    return text + line + '\n';
  }

 private:
  std::vector<std::string> units_;
};

// "12... Nf6" for any move, whoever moves.
std::string numbered(const std::string& fen, std::size_t index, const std::string& san) {
  const std::string unit = pgn_move_unit(fen, index, san);
  if (unit != san) return unit;
  const std::string before = pgn_move_unit(fen, index - 1, "x");
  return before.substr(0, before.find('.')) + "... " + san;
}

}  // namespace

std::string PgnGame::tag(std::string_view name) const {
  for (const auto& [n, v] : tags)
    if (n == name) return v;
  return "";
}

void PgnGame::set_tag(const std::string& name, const std::string& value) {
  for (auto& [n, v] : tags)
    if (n == name) {
      v = value;
      return;
    }
  tags.emplace_back(name, value);
}

std::string PgnGame::start_fen() const {
  const std::string fen = tag("FEN");
  return fen.empty() ? std::string(common::FEN_New_Game) : fen;
}

board::MoveList PgnGame::moves() const {
  board::Board position(start_fen());
  board::MoveList played;
  for (const auto& text : san) {
    try {
      played.push_back(position.parse_move(text));
    } catch (const board::IllegalMoveError& e) {
      throw std::runtime_error(fmt::format("move {}{} {} is not legal here: {}", position.MoveNumber,
                                           position.side_to_move == common::WHITE ? "." : "...", text, e.what()));
    }
    position.make_internal_move(*played.back());
  }
  return played;
}

std::string PgnGame::ending_comment() const {
  if (!final_comment.empty()) return final_comment;
  if (!san.empty() && comments.size() == san.size()) return comments.back();
  return {};
}

PgnGame with_roster(const std::string& event, const std::string& site, const std::string& round,
                    const std::string& white, const std::string& black, const std::string& result) {
  PgnGame game;
  game.tags = {{"Event", event}, {"Site", site},   {"Date", pgn_date_today()}, {"Round", round},
               {"White", white}, {"Black", black}, {"Result", result}};
  game.result = result;
  return game;
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

std::string to_pgn(const PgnGame& game) {
  std::string out;
  for (const auto& [name, value] : game.tags) out += tag_line(name, value);
  const std::string fen = game.start_fen();
  MoveText text;
  bool interrupted = false;  // a comment or variation came between the move number and this move
  for (std::size_t i = 0; i < game.san.size(); ++i) {
    text.add(interrupted ? numbered(fen, i, game.san[i]) : pgn_move_unit(fen, i, game.san[i]));
    if (const auto* nag = at(game.nags, i)) text.add(*nag);
    const auto* comment = at(game.comments, i);
    if (comment) text.comment(*comment);
    const auto* line = at(game.variations, i);
    if (line) {
      std::string variation = "(";
      for (std::size_t k = 0; k < line->size(); ++k)
        variation += (k ? " " : "") + (k == 0 ? numbered(fen, i, (*line)[k]) : pgn_move_unit(fen, i + k, (*line)[k]));
      std::istringstream words(variation + ")");
      for (std::string word; words >> word;) text.add(word);
    }
    interrupted = comment || line;
  }
  if (!game.final_comment.empty()) text.comment(game.final_comment);
  text.add(game.result);
  return out + '\n' + text.wrapped() + '\n';
}

std::string pgn_date_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return fmt::format("{:04}.{:02}.{:02}", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace ai_players::app
