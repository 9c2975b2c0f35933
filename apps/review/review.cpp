#include "review/review.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
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

std::string players_of(const PgnGame& record) {
  const std::string white = record.tag("White"), black = record.tag("Black");
  return fmt::format("{} - {}", white.empty() ? "?" : white, black.empty() ? "?" : black);
}



std::string start_fen_of(const PgnGame& record) { return board::Board(record.start_fen()).export_FEN(); }

namespace {

// A position of the game and the move played in it.
struct Ply {
  board::MoveList history;
  board::MovePtr move;
  board::MoveList legal;
};

// Every position with its move; the review's moves get what needs no engine.
std::vector<Ply> plies_of(GameReview& review) {
  std::vector<Ply> plies;
  board::Board position(review.start_fen);
  board::MoveList history;
  for (const auto& san : review.record.san) {
    Ply ply{history, nullptr, position.legal_moves()};
    ply.move = board::find_move(ply.legal, san);
    MoveReview m;
    m.side = position.side_to_move;
    m.number = position.MoveNumber;
    m.san = ply.move->to_SAN(ply.legal);
    m.coord = ply.move->to_coord();
    m.fen = position.export_FEN();
    review.moves.push_back(std::move(m));
    position.make_internal_move(*ply.move);
    history.push_back(ply.move);
    plies.push_back(std::move(ply));
  }
  return plies;
}

void settle(MoveReview& m, const Preview& p) {
  // The engine ranks the two moves itself: when the move played comes
  // first, the best score is the move's own.
  m.played_best = p.best_line.empty() || p.best_line.front() == m.coord;
  m.best_score = p.best_score;
  if (!m.played_best && !p.actual_score)
    throw EngineError(fmt::format("The engine had no time to judge the move {}", m.san));
  m.played_score = m.played_best ? p.best_score : *p.actual_score;
  m.best_line = san_line(m.fen, p.best_line, 10);
  m.best_san = m.best_line.empty() ? m.san : m.best_line.front();
  m.best_coord = p.best_line.empty() ? m.coord : p.best_line.front();
  m.loss = m.played_best ? 0 : loss_of(m.best_score, m.played_score);
  m.judgement = judgement_of(m.loss, m.played_score);
}

// The workers' shared state: the count for progress and the first failure.
struct Shared {
  std::mutex mutex;
  std::size_t done = 0;
  std::exception_ptr failure;
  std::atomic<bool> failed{false};
};

// Worker `first` judges every step-th move from `first` on.
void judge_plies(GameReview& review, const std::vector<Ply>& plies, std::size_t first, std::size_t step,
                 const JudgeMaker& make_judge, const ReviewProgress& progress, Shared& shared) {
  try {
    PreviewFn judge = make_judge();
    bool restarted = false;
    for (std::size_t i = first; i < plies.size() && !shared.failed; i += step) {
      const Ply& ply = plies[i];
      Preview p{};
      try {
        p = judge(ply.history, *ply.move, ply.legal, review.start_fen);
      } catch (const EngineError&) {
        if (restarted) throw;
        restarted = true;  // a dead or stuck engine: once more on a fresh one
        judge = make_judge();
        p = judge(ply.history, *ply.move, ply.legal, review.start_fen);
      }
      settle(review.moves[i], p);
      const std::lock_guard lock(shared.mutex);
      ++shared.done;
      if (progress) progress({shared.done, plies.size(), &review.moves[i], i});
    }
  } catch (...) {
    const std::lock_guard lock(shared.mutex);
    if (!shared.failure) shared.failure = std::current_exception();
    shared.failed = true;
  }
}

}  // namespace

GameReview review_game(int game, const PgnGame& record, const JudgeMaker& make_judge, int jobs, int depth,
                       const ReviewProgress& progress) {
  record.moves();  // a move that is not legal ends the review before any engine starts
  GameReview review{game, record, start_fen_of(record), depth, {}};
  const std::vector<Ply> plies = plies_of(review);
  if (progress) progress({0, plies.size(), nullptr, 0, &review.moves});
  const std::size_t workers = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), 1,
                                                      std::max<std::size_t>(plies.size(), 1));
  Shared shared;
  if (workers == 1) {
    judge_plies(review, plies, 0, 1, make_judge, progress, shared);
  } else {
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < workers; ++k)
      threads.emplace_back([&, k] { judge_plies(review, plies, k, workers, make_judge, progress, shared); });
    for (auto& t : threads) t.join();
  }
  if (shared.failure) std::rethrow_exception(shared.failure);
  return review;
}

GameReview review_game(int game, const PgnGame& record, const PreviewFn& preview, int depth,
                       const ReviewProgress& progress) {
  return review_game(game, record, [&preview] { return preview; }, 1, depth, progress);
}

}  // namespace ai_players::app
