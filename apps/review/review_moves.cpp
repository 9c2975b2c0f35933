// The moves of a reviewed game laid out as a game score, marks and all.
#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "review/review.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

// "Bxd7+ ?? loses 8.7, best Qb8+"; the move alone when it earned no mark.
std::string entry(const MoveReview& m) {
  if (m.judgement == Judgement::Good) return m.san;
  return fmt::format("{} {} loses {:.1f}, best {}", m.san, nag_mark(m.judgement), m.loss / 100.0, m.best_san);
}

constexpr std::size_t kMovesWidth = 80;

struct Line {
  int number = 0;
  std::string white, black;
};

}  // namespace

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t shown = display_width(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

std::string ReviewMarks::line(const ReviewStep& step, std::size_t width) {
  if (step.judged && step.judged->judgement != Judgement::Good) {
    ++counts_[static_cast<int>(step.judged->judgement)];
    latest_ = move_label(*step.judged) + nag_mark(step.judged->judgement);
  }
  constexpr std::size_t kBar = 12;
  const std::size_t filled = step.total ? step.done * kBar / step.total : kBar;
  std::string text = fmt::format("[{}{}] {}/{} moves", std::string(filled, '#'), std::string(kBar - filled, '.'),
                                 step.done, step.total);
  std::vector<std::string> marks;
  for (const Judgement j : {Judgement::Blunder, Judgement::Mistake, Judgement::Inaccuracy})
    if (const std::size_t n = counts_[static_cast<int>(j)])
      marks.push_back(fmt::format("{} {}{}", n, judgement_name(j), n == 1 ? "" : "s"));
  // Each part whole or not at all; only a width too small for the bar cuts it.
  const auto add = [&](const std::string& part) {
    if (display_width(text) + display_width(part) <= width) text += part;
  };
  if (!marks.empty()) add(fmt::format("; {}", fmt::join(marks, ", ")));
  if (!latest_.empty()) add("; latest " + latest_);
  while (display_width(text) > width) text.pop_back();
  return padded(text, width);
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
    std::string both = l.black.empty() ? fmt::format("{} {}", number, l.white)
                                       : fmt::format("{} {}  {}", number, padded(l.white, column), l.black);
    // Within a terminal's 80 columns: Black's move on a line of its own when both do not fit.
    if (display_width(both) > kMovesWidth)
      both = fmt::format("{} {}\n{:>{}}... {}", number, l.white, l.number, digits, l.black);
    out += both + '\n';
  }
  return out;
}

}  // namespace ai_players::app
