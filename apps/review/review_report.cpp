#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>

#include "pgn/pgn_game.h"
#include "game/numbers.h"
#include "review/review.h"
#include "review/review_text.h"

namespace ai_players::app {
namespace {

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

// The name column is as wide as the longest name, so that long names keep
// the numbers in their columns.
std::string tally_row(const std::string& who, const Tally& t, std::size_t width) {
  return fmt::format("{} {:>6} {:>6} {:>13} {:>9} {:>9}\n", padded(who, width), t.moves, t.acpl(),
                     t.counts[static_cast<int>(Judgement::Inaccuracy)], t.counts[static_cast<int>(Judgement::Mistake)],
                     t.counts[static_cast<int>(Judgement::Blunder)]);
}

std::string tally_header(std::size_t width) {
  return fmt::format("{} {:>6} {:>6} {:>13} {:>9} {:>9}\n", padded("Player", width), "Moves", "ACPL", "Inaccuracies",
                     "Mistakes", "Blunders");
}

std::size_t name_width(const std::vector<std::string>& names) {
  std::size_t width = 24;
  for (const auto& n : names) width = std::max(width, display_width(n));
  return width;
}

std::string worst_moves(std::vector<const MoveReview*> worst) {
  std::stable_sort(worst.begin(), worst.end(), [](const auto* a, const auto* b) { return a->loss > b->loss; });
  if (worst.size() > 3) worst.resize(3);
  std::string list;
  for (const auto* m : worst)
    list += fmt::format("{}{}{} (loss {}, best {})", list.empty() ? "" : ", ", move_label(*m), nag_mark(m->judgement),
                        m->loss, m->best_san);
  return list.empty() ? "none lost anything" : list;
}

}  // namespace

std::string annotated_pgn(const GameReview& review) {
  PgnGame pgn;
  pgn.tags = review.record.tags;
  if (pgn.tag("Annotator").empty()) pgn.set_tag("Annotator", fmt::format("ai-players review, depth {}", review.depth));
  pgn.result = review.record.result.empty() ? "*" : review.record.result;
  for (const auto& m : review.moves) {
    pgn.san.push_back(m.san);
    pgn.nags.push_back(nag_of(m.judgement));
    std::string comment = fmt::format("[%eval {}]", white_eval(m).eval_text());
    if (!m.played_best) {
      if (m.judgement != Judgement::Good)
        comment += fmt::format(" {} (loss {} cp).", judgement_name(m.judgement), m.loss);
      comment += fmt::format(" {} {}, best {} {}", m.side == common::WHITE ? "White" : "Black",
                             Score(m.played_score).text(), m.best_san, Score(m.best_score).text());
    }
    pgn.comments.push_back(comment);
    pgn.variations.push_back(m.played_best ? std::vector<std::string>{} : m.best_line);
  }
  return to_pgn(pgn);
}

std::string summary_text(const GameReview& review) {
  std::string out = fmt::format("Game {}: {}, {}, {} reviewed at depth {}\n", review.game, players_of(review),
                                review.record.result, counted(static_cast<long long>(review.moves.size()), "move"), review.depth);
  std::vector<std::string> labels;
  for (const char* tag : {"White", "Black"}) {
    const std::string name = review.record.tag(tag);
    labels.push_back(fmt::format("{:<6} {}", tag, name.empty() ? "?" : name));
  }
  const std::size_t width = name_width(labels);
  out += tally_header(width);
  for (int side : {common::WHITE, common::BLACK}) {
    Tally t;
    std::vector<const MoveReview*> lost;
    for (const auto& m : review.moves) {
      if (m.side != side) continue;
      t.add(m);
      if (m.loss > 0) lost.push_back(&m);
    }
    out += tally_row(labels[side == common::WHITE ? 0 : 1], t, width);
    if (t.moves > 0) out += fmt::format("       worst: {}\n", worst_moves(std::move(lost)));
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
  std::vector<std::string> names;
  for (const auto& entry : by_player) names.push_back(entry.first);
  const std::size_t width = name_width(names);
  std::string out = fmt::format("All {} games\n", reviews.size());
  out += tally_header(width);
  for (const auto& [name, t] : by_player) out += tally_row(name, t, width);
  return out;
}

}  // namespace ai_players::app
