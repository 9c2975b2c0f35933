#include "players/move_judgement.h"

#include <fmt/format.h>

#include "players/move_marks.h"

namespace ai_players::app {

std::vector<std::string> san_line(const std::string& fen, const std::vector<std::string>& coords, std::size_t limit) {
  std::vector<std::string> out;
  board::Board position(fen);
  for (const auto& coord : coords) {
    const board::MoveList legal = position.legal_moves();
    const auto m = board::find_move(legal, coord);
    if (!m || out.size() == limit) break;
    out.push_back(m->to_SAN(legal));
    position.make_internal_move(*m);
  }
  return out;
}

std::string judgement_text(const MoveJudgement& j) {
  const std::string& move = j.played_san;
  if (!j.judged) return fmt::format("Your move {}: no time to judge this move", move);
  if (j.played.is_mate() && j.played.mate() == 1) return fmt::format("Your move {} mates", move);
  if (j.played_best) return fmt::format("Your move {} is the engine's best ({})", move, j.played.text());
  if (j.played == j.best)
    return fmt::format("Your move {} is as good as the engine's best {} ({})", move, j.best_san, j.best.text());
  if (j.best.is_mate() && j.best.mate() > 0 && !(j.played.is_mate() && j.played.mate() > 0))
    return fmt::format("Your move {} ({}) misses {}: {}", move, j.played.text(), j.best.text(), j.best_san);
  // Named as the review names it, with the loss in pawns.
  const int loss = loss_of(j.best.value(), j.played.value());
  const Judgement mark = judgement_of(loss, j.played.value());
  if (mark == Judgement::Good)
    return fmt::format("Your move {} is good ({}); the engine's best {} gives {}", move, j.played.text(), j.best_san,
                       j.best.text());
  return fmt::format("Your move {} is {} {}: it loses {:.1f} pawn{} ({}; the engine's best {}: {})", move,
                     mark == Judgement::Inaccuracy ? "an" : "a", judgement_name(mark), loss / 100.0, loss == 100 ? "" : "s",
                     j.played.text(), j.best_san, j.best.text());
}

MoveJudgement judge_move(Verevovera& adviser, const GameState& game, const board::Move& move, int depth) {
  const PlayedGame& record = game.record();
  const Preview p = adviser.Ask_For_Preview(record.moves, move, game.legal(), record.start_fen, depth);
  MoveJudgement j;
  j.played_san = move.to_SAN(game.legal());
  j.best_line = san_line(game.position().export_FEN(), p.best_line);
  j.best_san = j.best_line.empty() ? "?" : j.best_line.front();
  j.played_best = p.best_line.empty() || p.best_line.front() == move.to_coord();
  j.best_coord = p.best_line.empty() ? move.to_coord() : p.best_line.front();
  j.best = Score(p.best_score);
  j.judged = j.played_best || p.actual_score.has_value();
  j.played = j.played_best || !j.judged ? j.best : Score(*p.actual_score);
  j.text = judgement_text(j);
  return j;
}

MoveJudgement best_move(Verevovera& adviser, const GameState& game, int depth) {
  // Judging any move names the best one too; the first legal move will do.
  MoveJudgement j = judge_move(adviser, game, *game.legal().front(), depth);
  if (j.played_best) j.best_san = j.played_san;
  if (j.best_line.empty()) j.best_line = {j.best_san};
  j.text = fmt::format("The engine's best: {} ({})", j.best_san, j.best.text());
  return j;
}

}  // namespace ai_players::app
