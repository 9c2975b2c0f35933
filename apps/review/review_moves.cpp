// The moves of a reviewed game laid out as a game score, marks and all.
#include <algorithm>

#include <fmt/format.h>

#include "review/review.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

// "Bxd7+ ?? (−8.7) best: Qb8+"; the move alone when it earned no mark.
std::string entry(const MoveReview& m) {
  if (m.judgement == Judgement::Good) return m.san;
  return fmt::format("{} {} (\u2212{:.1f}) best: {}", m.san, nag_mark(m.judgement), m.loss / 100.0, m.best_san);
}

struct Line {
  int number = 0;
  std::string white, black;
};

}  // namespace

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t shown = display_width(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string moves_text(const GameReview& review) {
  std::vector<Line> lines;
  for (const auto& m : review.moves) {
    if (m.side == common::WHITE || lines.empty() || lines.back().number != m.number) {
      lines.push_back({m.number, "", ""});
      if (m.side == common::BLACK) lines.back().white = "...";
    }
    (m.side == common::WHITE ? lines.back().white : lines.back().black) = entry(m);
  }
  std::size_t column = 0, digits = 1;
  for (const auto& l : lines) {
    column = std::max(column, display_width(l.white));
    digits = std::max(digits, std::to_string(l.number).size());
  }
  std::string out;
  for (const auto& l : lines) {
    const std::string number = fmt::format("{:>{}}.", l.number, digits);
    out += l.black.empty() ? fmt::format("{} {}\n", number, l.white)
                           : fmt::format("{} {}  {}\n", number, padded(l.white, column), l.black);
  }
  return out;
}

}  // namespace ai_players::app
