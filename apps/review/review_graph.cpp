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

namespace {

// Plot area and scale: ±5 pawns keeps ordinary advantages readable; bigger
// scores and mates sit on the edge.
struct Plot {
  static constexpr double kWidth = 900, kHeight = 420, kLeft = 70, kRight = 30, kTop = 50, kBottom = 60;
  static constexpr double kClip = 5.0;
  static constexpr double w = kWidth - kLeft - kRight, h = kHeight - kTop - kBottom;
  std::size_t n;
  double x(std::size_t i) const { return kLeft + w * (static_cast<double>(i) + 0.5) / std::max<std::size_t>(n, 1); }
  double y(double pawns) const { return kTop + h * (kClip - std::clamp(pawns, -kClip, kClip)) / (2 * kClip); }
};

double pawns(const MoveReview& m) { return capped(m.white_score()) / 100.0; }

// The title, the two halves, the pawn lines and the axis labels.
std::string frame(const GameReview& review, const Plot& p) {
  std::string s = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n",
      Plot::kWidth, Plot::kHeight);
  s += fmt::format("<text x=\"{}\" y=\"24\" font-size=\"16\" text-anchor=\"middle\">{}</text>\n", Plot::kWidth / 2,
                   xml_escaped(fmt::format("Game {}: {}, {} (depth {})", review.game, players_of(review),
                                           review.record.result, review.depth)));
  // White's half light, Black's half shaded.
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#f4f4f4\" stroke=\"none\"/>\n",
                   Plot::kLeft, Plot::kTop, Plot::w, Plot::h / 2);
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#d0d0d0\" stroke=\"none\"/>\n",
                   Plot::kLeft, Plot::kTop + Plot::h / 2, Plot::w, Plot::h / 2);
  for (int pawn = -5; pawn <= 5; ++pawn) {
    const double y = p.y(pawn);
    s += fmt::format("<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"{}\" stroke-width=\"{}\"/>\n",
                     Plot::kLeft, y, Plot::kLeft + Plot::w, y, pawn == 0 ? "#555555" : "#bbbbbb", pawn == 0 ? 1.5 : 0.5);
    s += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>\n", Plot::kLeft - 8, y + 4,
                     pawn == 0 ? "0" : fmt::format("{:+d}", pawn));
  }
  s += fmt::format(
      "<text x=\"18\" y=\"{0:.1f}\" transform=\"rotate(-90 18 {0:.1f})\" text-anchor=\"middle\">"
      "White's advantage (pawns)</text>\n",
      Plot::kTop + Plot::h / 2);
  s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\">move number</text>\n", Plot::kLeft + Plot::w,
                   Plot::kHeight - 14);
  return s;
}

// Move numbers under the first ply of every step-th move.
std::string move_numbers(const GameReview& review, const Plot& p) {
  std::string s;
  const auto& moves = review.moves;
  const int span = moves.empty() ? 1 : moves.back().number - moves.front().number + 1;
  const int step = span <= 20 ? 2 : span <= 50 ? 5 : span <= 100 ? 10 : 20;
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const auto& m = moves[i];
    const bool first_of_number = i == 0 || moves[i - 1].number != m.number;
    if (!first_of_number || (m.number % step != 0 && i != 0)) continue;
    s += fmt::format("<line x1=\"{0:.1f}\" y1=\"{1}\" x2=\"{0:.1f}\" y2=\"{2}\" stroke=\"#555555\"/>\n", p.x(i),
                     Plot::kTop + Plot::h, Plot::kTop + Plot::h + 5);
    s += fmt::format("<text x=\"{:.1f}\" y=\"{}\" text-anchor=\"middle\">{}</text>\n", p.x(i), Plot::kTop + Plot::h + 20,
                     m.number);
  }
  return s + fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#555555\"/>\n",
                         Plot::kLeft, Plot::kTop, Plot::w, Plot::h);
}

// The line through every move, and one point per move; its title is what a viewer shows on hover.
std::string curve(const GameReview& review, const Plot& p) {
  std::string s, points;
  for (std::size_t i = 0; i < review.moves.size(); ++i)
    points += fmt::format("{}{:.1f},{:.1f}", i ? " " : "", p.x(i), p.y(pawns(review.moves[i])));
  if (!points.empty())
    s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"#1f4e9a\" stroke-width=\"1.5\"/>\n", points);
  for (std::size_t i = 0; i < review.moves.size(); ++i) {
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
                     cls, p.x(i), p.y(pawns(m)), r, fill, xml_escaped(title));
  }
  return s;
}

// The legend, and which half belongs to whom.
std::string legend() {
  const double ly = Plot::kHeight - 14, left = Plot::kLeft;
  std::string s;
  s += fmt::format("<circle cx=\"{}\" cy=\"{}\" r=\"6\" fill=\"#d62020\"/>\n", left + 6, ly - 4);
  s += fmt::format("<text x=\"{}\" y=\"{}\">blunder (loss \u2265 {} cp)</text>\n", left + 16, ly, kBlunderLoss);
  s += fmt::format("<circle cx=\"{}\" cy=\"{}\" r=\"4.5\" fill=\"#f08c00\"/>\n", left + 176, ly - 4);
  s += fmt::format("<text x=\"{}\" y=\"{}\">mistake (loss \u2265 {} cp)</text>\n", left + 186, ly, kMistakeLoss);
  s += fmt::format("<text x=\"{}\" y=\"{}\" fill=\"#777777\">White better</text>\n", left + 6, Plot::kTop + 14);
  s += fmt::format("<text x=\"{}\" y=\"{}\" fill=\"#555555\">Black better</text>\n", left + 6, Plot::kTop + Plot::h - 6);
  return s;
}

}  // namespace

std::string evaluation_svg(const GameReview& review) {
  const Plot plot{review.moves.size()};
  return frame(review, plot) + move_numbers(review, plot) + curve(review, plot) + legend() + "</svg>\n";
}

}  // namespace ai_players::app
