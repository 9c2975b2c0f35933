#include <algorithm>
#include <cmath>

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

// White's winning chances from -1 to 1: a pawn matters near equality and
// little when a side is far ahead, so +3 and +9 stay apart and a mate sits
// on the edge.
double chances(const Score& white) {
  if (white.is_mate()) return white.value() > 0 ? 1.0 : -1.0;  // #0 included: the mate is on the board
  return 2.0 / (1.0 + std::exp(-0.00368208 * white.value())) - 1.0;
}

// Plot area: the labels of both axes and of the halves sit outside it, so
// no point hides them.
struct Plot {
  static constexpr double kWidth = 900, kHeight = 380, kLeft = 60, kRight = 100, kTop = 44, kBottom = 62;
  static constexpr double w = kWidth - kLeft - kRight, h = kHeight - kTop - kBottom;
  std::size_t n;
  double x(std::size_t i) const { return kLeft + w * (static_cast<double>(i) + 0.5) / std::max<std::size_t>(n, 1); }
  double y(double chance) const { return kTop + h * (1.0 - chance) / 2.0; }
};

struct Style {
  const char* kind;
  const char* fill;
  double r;
};

Style style_of(Judgement j) {
  switch (j) {
    case Judgement::Blunder: return {"blunder", "#d62020", 6};
    case Judgement::Mistake: return {"mistake", "#e08a00", 5};
    case Judgement::Inaccuracy: return {"inaccuracy", "#2f9fd8", 4};
    case Judgement::Good: break;
  }
  return {"good", "#1f4e9a", 2.5};
}

// The title, the two halves, the score lines and the labels around the plot.
std::string frame(const GameReview& review, const Plot& p) {
  std::string s = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"13\">\n<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n",
      Plot::kWidth, Plot::kHeight);
  s += fmt::format("<text x=\"{}\" y=\"24\" font-size=\"16\" text-anchor=\"middle\">{}</text>\n", Plot::kWidth / 2,
                   xml_escaped(fmt::format("Game {}: {}, {} (depth {})", review.game, players_of(review),
                                           review.record.result, review.depth)));
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#f4f4f4\"/>\n", Plot::kLeft, Plot::kTop,
                   Plot::w, Plot::h / 2);
  s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#d4d4d4\"/>\n", Plot::kLeft,
                   Plot::kTop + Plot::h / 2, Plot::w, Plot::h / 2);
  for (int pawns : {-5, -3, -2, -1, 0, 1, 2, 3, 5}) {
    const double y = p.y(chances(Score(pawns * 100)));
    s += fmt::format("<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" stroke=\"{}\" stroke-width=\"{}\"/>\n",
                     Plot::kLeft, y, Plot::kLeft + Plot::w, y, pawns ? "#b0b0b0" : "#555555", pawns ? 0.5 : 1.5);
    s += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\">{}</text>\n", Plot::kLeft - 8, y + 4,
                     pawns ? fmt::format("{:+d}", pawns) : "0");
  }
  for (const double edge : {1.0, -1.0})
    s += fmt::format("<text x=\"{}\" y=\"{:.1f}\" text-anchor=\"end\" font-size=\"11\">mate</text>\n", Plot::kLeft - 8,
                     p.y(edge) + (edge > 0 ? 4 : 0));
  const double right = Plot::kLeft + Plot::w + 10;
  s += fmt::format("<text x=\"{}\" y=\"{}\">White better</text>\n", right, Plot::kTop + 16);
  s += fmt::format("<text x=\"{}\" y=\"{}\">Black better</text>\n", right, Plot::kTop + Plot::h - 6);
  s += fmt::format("<text x=\"{}\" y=\"{}\" font-size=\"11\">pawns</text>\n", 8, Plot::kTop - 20);
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
  s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"start\">move</text>\n", Plot::kLeft + Plot::w + 10,
                   Plot::kTop + Plot::h + 20);
  return s + fmt::format("<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" stroke=\"#555555\"/>\n",
                         Plot::kLeft, Plot::kTop, Plot::w, Plot::h);
}

// The line through every move, and one point per move: its title is what a
// viewer shows on hover, its data-ply what the page steps to on a click.
std::string curve(const GameReview& review, const Plot& p) {
  std::string s, points;
  for (std::size_t i = 0; i < review.moves.size(); ++i)
    points += fmt::format("{}{:.1f},{:.1f}", i ? " " : "", p.x(i), p.y(chances(white_eval(review.moves[i]))));
  if (!points.empty())
    s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"#1f4e9a\" stroke-width=\"1.5\"/>\n", points);
  for (std::size_t i = 0; i < review.moves.size(); ++i) {
    const auto& m = review.moves[i];
    const Style style = style_of(m.judgement);
    const std::string title = fmt::format("{}{} {}(White {})", move_label(m), nag_mark(m.judgement),
                                          m.judgement == Judgement::Good ? "" : judgement_name(m.judgement) + " ",
                                          white_eval(m).eval_text());
    s += fmt::format(
        "<circle class=\"move {}\" data-ply=\"{}\" cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"{}\" fill=\"{}\"><title>{}</title>"
        "</circle>\n",
        style.kind, i, p.x(i), p.y(chances(white_eval(m))), style.r, style.fill, xml_escaped(title));
  }
  return s;
}

std::string legend() {
  const double y = Plot::kHeight - 14;
  double x = Plot::kLeft;
  std::string s;
  for (const Judgement j : {Judgement::Blunder, Judgement::Mistake, Judgement::Inaccuracy}) {
    const Style style = style_of(j);
    const int from = j == Judgement::Blunder ? kBlunderLoss : j == Judgement::Mistake ? kMistakeLoss : kInaccuracyLoss;
    s += fmt::format("<circle cx=\"{}\" cy=\"{}\" r=\"{}\" fill=\"{}\"/>\n", x + 6, y - 4, style.r, style.fill);
    s += fmt::format("<text x=\"{}\" y=\"{}\">{} (loss \u2265 {} cp)</text>\n", x + 16, y, style.kind, from);
    x += 200;
  }
  return s;
}

}  // namespace

std::string evaluation_svg(const GameReview& review) {
  const Plot plot{review.moves.size()};
  return frame(review, plot) + move_numbers(review, plot) + curve(review, plot) + legend() + "</svg>\n";
}

}  // namespace ai_players::app
