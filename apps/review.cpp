#include "review.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "pgn.h"
#include "score_text.h"

namespace ai_players::app {
namespace {

bool is_mate(int score) { return std::abs(score) > common::MATE / 2; }

int mate_moves(int score) { return (common::MATE - std::abs(score) + common::MATECP / 2) / common::MATECP; }

// White's view of the position after the move, for [%eval]: the engine
// counts a mate from before the move, so the mover's own mate is one move nearer.
int white_eval(const MoveReview& m) {
  const int after = is_mate(m.played_score) && m.played_score > 0 ? m.played_score + common::MATECP : m.played_score;
  return m.side == common::WHITE ? after : -after;
}

std::string move_label(const MoveReview& m) {
  return fmt::format("{}{} {}", m.number, m.side == common::WHITE ? "." : "...", m.san);
}

std::string nag_mark(Judgement j) {
  switch (j) {
    case Judgement::Inaccuracy: return "?!";
    case Judgement::Mistake: return "?";
    case Judgement::Blunder: return "??";
    case Judgement::Good: break;
  }
  return "";
}


// Words joined into lines of at most 80 characters; PGN ignores where they break.
std::string wrap(const std::vector<std::string>& words) {
  std::string text, line;
  for (const auto& w : words) {
    if (!line.empty() && line.size() + 1 + w.size() > 80) {
      text += line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + w;
  }
  return text + line + '\n';
}

void split_into(std::vector<std::string>& words, const std::string& text) {
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
}

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

std::string players_of(const GameReview& r) {
  const std::string white = r.record.tag("White"), black = r.record.tag("Black");
  return fmt::format("{} - {}", white.empty() ? "?" : white, black.empty() ? "?" : black);
}

struct Tally {
  int moves = 0;
  long long loss = 0;
  int counts[4] = {0, 0, 0, 0};

  void add(const MoveReview& m) {
    ++moves;
    loss += m.loss;
    ++counts[static_cast<int>(m.judgement)];
  }
  long long acpl() const { return moves ? std::llround(static_cast<double>(loss) / moves) : 0; }
};

std::string tally_row(const std::string& who, const Tally& t) {
  return fmt::format("{:<24} {:>6} {:>6} {:>13} {:>9} {:>9}\n", who, t.moves, t.acpl(),
                     t.counts[static_cast<int>(Judgement::Inaccuracy)], t.counts[static_cast<int>(Judgement::Mistake)],
                     t.counts[static_cast<int>(Judgement::Blunder)]);
}

const char* kTallyHeader = "Player                    Moves   ACPL  Inaccuracies  Mistakes  Blunders\n";

}  // namespace

Judgement judge(int loss) {
  if (loss >= kBlunderLoss) return Judgement::Blunder;
  if (loss >= kMistakeLoss) return Judgement::Mistake;
  if (loss >= kInaccuracyLoss) return Judgement::Inaccuracy;
  return Judgement::Good;
}

Judgement judge_move(int loss, int played_score) {
  return capped(played_score) >= kStillWinning ? Judgement::Good : judge(loss);
}

std::string nag_of(Judgement judgement) {
  switch (judgement) {
    case Judgement::Inaccuracy: return "$6";
    case Judgement::Mistake: return "$2";
    case Judgement::Blunder: return "$4";
    case Judgement::Good: break;
  }
  return "";
}

std::string judgement_name(Judgement judgement) {
  switch (judgement) {
    case Judgement::Inaccuracy: return "inaccuracy";
    case Judgement::Mistake: return "mistake";
    case Judgement::Blunder: return "blunder";
    case Judgement::Good: break;
  }
  return "good";
}

int capped(int score) { return std::clamp(score, -kScoreCap, kScoreCap); }

int loss_of(int best_score, int played_score) { return std::max(0, capped(best_score) - capped(played_score)); }

std::string eval_text(int white_score) {
  if (is_mate(white_score)) return fmt::format("#{}{}", white_score < 0 ? "-" : "", mate_moves(white_score));
  return fmt::format("{:.2f}", white_score / 100.0);
}

std::string start_fen_of(const PgnRecord& record) {
  const std::string fen = record.tag("FEN");
  if (fen.empty()) return std::string(common::FEN_New_Game);
  return board::Board(fen).export_FEN();
}

void check_moves(const PgnRecord& record) {
  board::Board position(start_fen_of(record));
  for (const auto& san : record.san) {
    const std::string label = fmt::format("{}{} {}", position.MoveNumber,
                                          position.side_to_move == common::WHITE ? "." : "...", san);
    try {
      position.make_internal_move(*position.parse_move(san));
    } catch (const board::IllegalMoveError& e) {
      throw std::runtime_error(fmt::format("move {} is not legal here: {}", label, e.what()));
    }
  }
}

GameReview review_game(int game, const PgnRecord& record, const PreviewFn& preview, int depth,
                       const ReviewProgress& progress) {
  check_moves(record);
  GameReview review{game, record, start_fen_of(record), depth, {}};
  board::Board position(review.start_fen);
  board::MoveList history;
  for (std::size_t i = 0; i < record.san.size(); ++i) {
    if (progress) progress(i, record.san.size());
    const board::MoveList legal = position.legal_moves();
    const std::string coord = position.parse_move(record.san[i])->to_coord();
    board::MovePtr move;
    for (const auto& m : legal)
      if (m->to_coord() == coord) move = m;

    MoveReview m;
    m.side = position.side_to_move;
    m.number = position.MoveNumber;
    m.san = move->to_SAN(legal);
    const Preview p = preview(history, *move, legal, review.start_fen);
    // The engine ranks the two moves itself: when the move played comes
    // first, the preview's best score is the move's own.
    m.played_best = p.best_line.empty() || p.best_line.front() == coord;
    m.best_score = p.best_score;
    m.played_score = m.played_best ? p.best_score : p.actual_score;
    board::Board line_board = position;
    for (const auto& c : p.best_line) {
      const board::MoveList line_legal = line_board.legal_moves();
      const auto found = std::find_if(line_legal.begin(), line_legal.end(),
                                      [&](const board::MovePtr& x) { return x->to_coord() == c; });
      if (found == line_legal.end() || m.best_line.size() == 10) break;
      m.best_line.push_back((*found)->to_SAN(line_legal));
      line_board.make_internal_move(**found);
    }
    m.best_san = m.best_line.empty() ? m.san : m.best_line.front();
    m.loss = m.played_best ? 0 : loss_of(m.best_score, m.played_score);
    m.judgement = judge_move(m.loss, m.played_score);
    review.moves.push_back(std::move(m));

    position.make_internal_move(*move);
    history.push_back(move);
  }
  if (progress) progress(record.san.size(), record.san.size());
  return review;
}

std::string annotated_pgn(const GameReview& review) {
  std::string out;
  bool annotator = false;
  for (const auto& [name, value] : review.record.tags) {
    out += pgn_tag(name, value);
    annotator = annotator || name == "Annotator";
  }
  if (!annotator) out += pgn_tag("Annotator", fmt::format("ai-players review, depth {}", review.depth));
  out += '\n';

  std::vector<std::string> words;
  for (const auto& m : review.moves) {
    // Every move follows a comment, so Black's moves carry their number too.
    words.push_back(move_label(m));
    if (m.judgement != Judgement::Good) words.push_back(nag_of(m.judgement));
    std::string comment = fmt::format("{{[%eval {}]", eval_text(white_eval(m)));
    if (!m.played_best) {
      if (m.judgement != Judgement::Good)
        comment += fmt::format(" {} (loss {} cp).", judgement_name(m.judgement), m.loss);
      comment += fmt::format(" {} {}, best {} {}", m.side == common::WHITE ? "White" : "Black",
                             score_text(m.played_score), m.best_san, score_text(m.best_score));
    }
    split_into(words, comment + "}");
    if (!m.played_best && !m.best_line.empty()) {
      std::string line = "(";
      int number = m.number;
      int side = m.side;
      for (std::size_t i = 0; i < m.best_line.size(); ++i) {
        if (side == common::WHITE) line += fmt::format("{}. ", number);
        else if (i == 0) line += fmt::format("{}... ", number);
        line += m.best_line[i] + (i + 1 < m.best_line.size() ? " " : "");
        if (side == common::BLACK) ++number;
        side = -side;
      }
      split_into(words, line + ")");
    }
  }
  words.push_back(review.record.result.empty() ? "*" : review.record.result);
  return out + wrap(words) + '\n';
}

std::string summary_text(const GameReview& review) {
  std::string out = fmt::format("Game {}: {}, {}, {} moves reviewed at depth {}\n", review.game, players_of(review),
                                review.record.result, review.moves.size(), review.depth);
  out += kTallyHeader;
  for (int side : {common::WHITE, common::BLACK}) {
    Tally t;
    std::vector<const MoveReview*> worst;
    for (const auto& m : review.moves) {
      if (m.side != side) continue;
      t.add(m);
      if (m.loss > 0) worst.push_back(&m);
    }
    const std::string tag = side == common::WHITE ? "White" : "Black";
    const std::string name = review.record.tag(tag);
    out += tally_row(fmt::format("{:<6} {}", tag, name.empty() ? "?" : name), t);
    std::stable_sort(worst.begin(), worst.end(), [](const auto* a, const auto* b) { return a->loss > b->loss; });
    if (worst.size() > 3) worst.resize(3);
    std::string list;
    for (const auto* m : worst)
      list += fmt::format("{}{}{} (loss {}, best {})", list.empty() ? "" : ", ", move_label(*m),
                          nag_mark(m->judgement), m->loss, m->best_san);
    if (t.moves > 0) out += fmt::format("       worst: {}\n", list.empty() ? "none lost anything" : list);
  }
  return out;
}

std::string totals_text(const std::vector<GameReview>& reviews) {
  if (reviews.size() < 2) return "";
  std::map<std::string, Tally> by_player;
  for (const auto& r : reviews)
    for (const auto& m : r.moves) {
      const std::string name = r.record.tag(m.side == common::WHITE ? "White" : "Black");
      by_player[name.empty() ? "?" : name].add(m);
    }
  std::string out = fmt::format("All {} games\n", reviews.size());
  out += kTallyHeader;
  for (const auto& [name, t] : by_player) out += tally_row(name, t);
  return out;
}

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
                                          eval_text(white_eval(m)));
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
