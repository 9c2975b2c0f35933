#include "terminal/board_view.h"

#include <algorithm>
#include <sstream>

#include <fmt/format.h>

namespace ai_players::app {
namespace {

// The 8x8 letters of a FEN's placement, rank 8 first; '.' for empty squares.
std::vector<std::string> placement(const std::string& fen) {
  std::vector<std::string> ranks(1);
  for (const char c : fen.substr(0, fen.find(' '))) {
    if (c == '/') ranks.emplace_back();
    else if (c >= '1' && c <= '8') ranks.back().append(static_cast<std::size_t>(c - '0'), '.');
    else ranks.back() += c;
  }
  ranks.resize(8);
  for (auto& r : ranks) r.resize(8, '.');
  return ranks;
}

}  // namespace

std::vector<std::string> board_lines(const std::string& fen, bool black_view, const std::string& last_move) {
  const auto ranks = placement(fen);
  const auto marked = [&](int file, int rank) {
    if (last_move.size() < 4 || file < 0 || file > 7) return false;
    const std::string sq{static_cast<char>('a' + file), static_cast<char>('1' + rank)};
    return last_move.compare(0, 2, sq) == 0 || last_move.compare(2, 2, sq) == 0;
  };
  std::vector<std::string> lines{"  +-----------------+"};
  for (int row = 0; row < 8; ++row) {
    const int rank = black_view ? row : 7 - row;
    std::string line = fmt::format("{} |", rank + 1);
    for (int col = 0; col <= 8; ++col) {
      // The gap left of column `col`: a bracket where a marked square begins or ends.
      const int file = black_view ? 7 - col : col;
      const int before = black_view ? file + 1 : file - 1;
      const bool left = col > 0 && marked(before, rank), right = col < 8 && marked(file, rank);
      line += left && right ? '|' : left ? ']' : right ? '[' : ' ';
      if (col < 8) line += ranks[static_cast<std::size_t>(7 - rank)][static_cast<std::size_t>(file)];
    }
    lines.push_back(line + "|");
  }
  lines.push_back("  +-----------------+");
  lines.push_back(black_view ? "    h g f e d c b a" : "    a b c d e f g h");
  return lines;
}

std::vector<std::string> move_rows(const PlayedGame& record, std::size_t rows) {
  std::istringstream fields(record.start_fen);
  std::string field, side = "w";
  int number = 1;
  for (int i = 0; fields >> field; ++i) {
    if (i == 1) side = field;
    if (i == 5) number = std::max(1, std::atoi(field.c_str()));
  }
  std::vector<std::string> out;
  std::size_t i = 0;
  if (side == "b" && !record.san.empty()) out.push_back(fmt::format("{:>3}. {:<8}{}", number++, "...", record.san[i++]));
  for (; i < record.san.size(); i += 2, ++number)
    out.push_back(fmt::format("{:>3}. {:<8}{}", number, record.san[i], i + 1 < record.san.size() ? record.san[i + 1] : ""));
  if (out.size() > rows) out.erase(out.begin(), out.end() - static_cast<std::ptrdiff_t>(rows));
  return out;
}

std::string side_by_side(const std::vector<std::string>& left, const std::vector<std::string>& right,
                         std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    std::string line = i < left.size() ? left[i] : "";
    if (i < right.size() && !right[i].empty()) line = fmt::format("{:<{}}{}", line, width, right[i]);
    out += line + '\n';
  }
  return out;
}

std::string clock_text(milliseconds left) {
  const long long ms = std::max<long long>(0, left.count());
  if (ms < 10000) return fmt::format("0:{:02}.{}", ms / 1000, ms / 100 % 10);
  const long long s = ms / 1000;
  return s >= 3600 ? fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60) : fmt::format("{}:{:02}", s / 60, s % 60);
}

std::string wrapped(const std::string& text, std::size_t width) {
  std::istringstream words(text);
  std::string out, line, word;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line;
}

}  // namespace ai_players::app
