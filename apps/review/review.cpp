#include "review/review.h"

#include <algorithm>
#include <stdexcept>

#include <fmt/format.h>

#include "players/move_judgement.h"
#include "review/review_text.h"

namespace ai_players::app {

// White's view of the position after the move, for [%eval]: the engine
// counts a mate from before the move, so the mover's own mate is one move nearer.
Score white_eval(const MoveReview& m) {
  const Score played(m.played_score);
  const Score after = played.is_mate() && played.value() > 0 ? Score(played.value() + common::MATECP) : played;
  return PovScore{after, m.side}.white();
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

std::string players_of(const GameReview& r) {
  const std::string white = r.record.tag("White"), black = r.record.tag("Black");
  return fmt::format("{} - {}", white.empty() ? "?" : white, black.empty() ? "?" : black);
}

Judgement judge(int loss) {
  if (loss >= kBlunderLoss) return Judgement::Blunder;
  if (loss >= kMistakeLoss) return Judgement::Mistake;
  if (loss >= kInaccuracyLoss) return Judgement::Inaccuracy;
  return Judgement::Good;
}

Judgement judgement_of(int loss, int played_score) {
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

int capped(int score) { return Score(score).clamped(kScoreCap); }

int loss_of(int best_score, int played_score) { return std::max(0, capped(best_score) - capped(played_score)); }


std::string start_fen_of(const PgnGame& record) { return board::Board(record.start_fen()).export_FEN(); }

void check_moves(const PgnGame& record) {
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

GameReview review_game(int game, const PgnGame& record, const PreviewFn& preview, int depth,
                       const ReviewProgress& progress) {
  check_moves(record);
  GameReview review{game, record, start_fen_of(record), depth, {}};
  board::Board position(review.start_fen);
  board::MoveList history;
  for (std::size_t i = 0; i < record.san.size(); ++i) {
    if (progress) progress(i, record.san.size());
    const board::MoveList legal = position.legal_moves();
    const board::MovePtr move = board::find_move(legal, record.san[i]);
    const std::string coord = move->to_coord();

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
    m.best_line = san_line(position.export_FEN(), p.best_line, 10);
    m.best_san = m.best_line.empty() ? m.san : m.best_line.front();
    m.loss = m.played_best ? 0 : loss_of(m.best_score, m.played_score);
    m.judgement = judgement_of(m.loss, m.played_score);
    review.moves.push_back(std::move(m));

    position.make_internal_move(*move);
    history.push_back(move);
  }
  if (progress) progress(record.san.size(), record.san.size());
  return review;
}

}  // namespace ai_players::app
