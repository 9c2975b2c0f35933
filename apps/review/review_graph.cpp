#include <algorithm>

#include <fmt/format.h>

#include "review/review.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string evaluation_svg(const GameReview& review) {
  // Plot area and scale: ±5 pawns keeps ordinary advantages readable; bigger
  // scores and mates sit on the edge.
  constexpr double kWidth = 900, kHeight = 420, kLeft = 70, kRight = 30, kTop = 50, kBottom = 60;
  constexpr double kClip = 5.0;
  const double plot_w = kWidth - kLeft - kRight, plot_h = kHeight - kTop - kBottom;
  const std::size_t n = review.moves.size();
  auto x_of = [&](std::size_t i) { return kLeft + plot_w * (static_cast<double>(i) + 0.5) / std::max<std::size_t>(n, 1); };
  auto y_of = [&](double pawns) { return kTop + plot_h * (kClip - std::clamp(pawns, -kClip, kClip)) / (2 * kClip); };

  std::string s = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n",
      kWidth, kHeight);
  s += fmt::format("<text x=\"{}\" y=\"24\" font-size=\"16\" text-anchor=\"middle\">{}</text>\n", kWidth / 2,
                   xml_escaped(fmt::format("Game {}: {}, {} (depth {})", review.game, players_of(review),
                                           review.record.result, review.depth)));
  // White's half light, Black's half shaded.
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#f4f4f4\" stroke=\"none\"/>\n", kLeft,
                   kTop, plot_w, plot_h / 2);
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#d0d0d0\" stroke=\"none\"/>\n", kLeft,
                   kTop + plot_h / 2, plot_w, plot_h / 2);
  for (int p = -5; p <= 5; ++p) {
    const double y = y_of(p);
    s += fmt::format("<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"{}\" stroke-width=\"{}\"/>\n", kLeft,
                     y, kLeft + plot_w, y, p == 0 ? "#555555" : "#bbbbbb", p == 0 ? 1.5 : 0.5);
    s += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>\n", kLeft - 8, y + 4,
                     p == 0 ? "0" : fmt::format("{:+d}", p));
  }
  s += fmt::format(
      "<text x=\"18\" y=\"{0:.1f}\" transform=\"rotate(-90 18 {0:.1f})\" text-anchor=\"middle\">"
      "White's advantage (pawns)</text>\n",
      kTop + plot_h / 2);
  s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\">move number</text>\n", kLeft + plot_w, kHeight - 14);

  // Move numbers under the first ply of every step-th move.
  const int moves_span = n ? review.moves.back().number - review.moves.front().number + 1 : 1;
  const int step = moves_span <= 20 ? 2 : moves_span <= 50 ? 5 : moves_span <= 100 ? 10 : 20;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& m = review.moves[i];
    const bool first_of_number = i == 0 || review.moves[i - 1].number != m.number;
    if (!first_of_number || (m.number % step != 0 && i != 0)) continue;
    const double x = x_of(i);
    s += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" y2=\"{2}\" stroke=\"#555555\"/>\n", x,
                     kTop + plot_h, kTop + plot_h + 5);
    s += fmt::format("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", x, kTop + plot_h + 20, m.number);
  }
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#555555\"/>\n", kLeft,
                   kTop, plot_w, plot_h);

  auto pawns = [](const MoveReview& m) { return capped(m.white_score()) / 100.0; };
  if (n > 0) {
    std::string points;
    for (std::size_t i = 0; i < n; ++i)
      points += fmt::format("{}{:.1f},{:.1f}", i ? " " : "", x_of(i), y_of(pawns(review.moves[i])));
    s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"#1f4e9a\" stroke-width=\"1.5\"/>\n", points);
  }
  // One point per move; its title is what a viewer shows on hover.
  for (std::size_t i = 0; i < n; ++i) {
    const auto& m = review.moves[i];
    const char* cls = "move";
    const char* fill = "#1f4e9a";
    double r = 2.5;
    if (m.judgement == Judgement::Blunder) cls = "move blunder", fill = "#d62020", r = 6;
    else if (m.judgement == Judgement::Mistake) cls = "move mistake", fill = "#f08c00", r = 4.5;
    const std::string title = fmt::format("{}{} {} (White {})", move_label(m), nag_mark(m.judgement),
                                          m.judgement == Judgement::Good ? "" : judgement_name(m.judgement),
                                          white_eval(m).eval_text());
    s += fmt::format("<circle class=\"{}\" cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"{}\" fill=\"{}\"><title>{}</title></circle>\n",
                     cls, x_of(i), y_of(pawns(m)), r, fill, xml_escaped(title));
  }
  // Legend, and which half belongs to whom.
  const double ly = kHeight - 14;
  s += fmt::format("<circle cx=\"{}\" cy=\"{}\" r=\"6\" fill=\"#d62020\"/>\n", kLeft + 6, ly - 4);
  s += fmt::format("<text x=\"{}\" y=\"{}\">blunder (loss \u2265 {} cp)</text>\n", kLeft + 16, ly, kBlunderLoss);
  s += fmt::format("<circle cx=\"{}\" cy=\"{}\" r=\"4.5\" fill=\"#f08c00\"/>\n", kLeft + 176, ly - 4);
  s += fmt::format("<text x=\"{}\" y=\"{}\">mistake (loss \u2265 {} cp)</text>\n", kLeft + 186, ly, kMistakeLoss);
  s += fmt::format("<text x=\"{}\" y=\"{}\" fill=\"#777777\">White better</text>\n", kLeft + 6, kTop + 14);
  s += fmt::format("<text x=\"{}\" y=\"{}\" fill=\"#555555\">Black better</text>\n", kLeft + 6, kTop + plot_h - 6);
  return s + "</svg>\n";
}

}  // namespace ai_players::app
