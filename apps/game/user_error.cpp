#include "game/user_error.h"

#include <algorithm>
#include <cctype>

namespace ai_players::app {

std::string message_line(std::string_view message) {
  std::string line;
  bool broken = false;
  for (const char c : message) {
    if (c == '\n' || c == '\r' || (broken && c == ' ')) {
      broken = true;
      continue;
    }
    if (broken && !line.empty()) line += "; ";
    broken = false;
    if (line.size() >= kMessageLimit) {
      // Not in the middle of a character.
      while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
      if (!line.empty() && (static_cast<unsigned char>(line.back()) & 0x80)) line.pop_back();
      return line + "...";
    }
    line += c;
  }
  return line;
}

namespace {

// Letters changed, dropped, added or two neighbours swapped, case aside.
std::size_t distance(std::string_view a, std::string_view b) {
  const auto low = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i)
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = low(a[i - 1]) == low(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && low(a[i - 1]) == low(b[j - 2]) && low(a[i - 2]) == low(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> did_you_mean(std::string_view typed, const std::vector<std::string>& names) {
  const std::size_t allowed = typed.size() <= 4 ? 1 : 2;
  std::optional<std::string> best;
  std::size_t best_distance = allowed + 1;
  bool tied = false;
  for (const auto& name : names) {
    const std::size_t d = distance(typed, name);
    if (d < best_distance) {
      best = name, best_distance = d, tied = false;
    } else if (d == best_distance && best != name) {
      tied = true;
    }
  }
  if (tied) return std::nullopt;
  return best;
}

}  // namespace ai_players::app
