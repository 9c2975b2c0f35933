#include "ai_players/personas/verevovera.h"

#include <utility>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"

namespace ai_players {

Verevovera::Verevovera(engine::EngineConfig config) : AI_BASIC("Verevovera", 2500, std::nullopt, std::move(config)) {}

MovePtr Verevovera::FallbackReply_() { return GetReply_(9); }

Preview Verevovera::Ask_For_Preview(const MoveList& game_plies, const board::Move& human_move,
                                    const MoveList& legalmoves, std::string_view start_fen,
                                    int depth) {
  ReplyScope reply_scope(*this);
  game_history = game_plies;
  this->legalmoves = legalmoves;
  this->start_fen = std::string(start_fen);

  const std::vector<Analysis> first = obtain_engine_thoughts(2, depth);
  require_candidates_(first);
  const Analysis& best = first.at(0);
  const std::string best_cmove = best.pv_list.at(0);
  const std::string actual_move = human_move.to_coord();
  if (actual_move == best_cmove) return {best.score, best.score, best.pv_list};

  // Compare the two moves head to head; the engine ranks them.
  const std::vector<Analysis> second =
      obtain_engine_thoughts(2, depth, std::nullopt, format_s("%s %s", actual_move, best_cmove));
  // Cut short with less than both lines, the human's move not ranked first:
  // nothing is known of how good it is.
  if (cut_short() && second.size() < 2 && (second.empty() || second[0].pv_list.at(0) != actual_move)) {
    common::echo(format_s("Preview: best:%s -> %s, actual:%s -> no time to judge this move", best_cmove, best.score,
                          actual_move));
    return {best.score, std::nullopt, best.pv_list};
  }
  if (second.size() == 1) {
    common::echo(format_s("Preview: best:%s -> %s, actual:%s", best_cmove, best.score, actual_move));
    return {best.score, best.score, best.pv_list};
  }
  if (second.size() != 2)
    throw Error(format_s("preview: expected 1 or 2 values from the head-to-head search, got %s",
                         second.size()));
  const Analysis& ranked_best = second[0];
  const Analysis& actual = second[1];
  common::echo(format_s("Preview: best:%s -> %s, actual:%s -> %s", best_cmove, ranked_best.score,
                        actual_move, actual.score));
  return {ranked_best.score, actual.score, ranked_best.pv_list};
}

MovePtr Verevovera::GetReply_(std::optional<double> error_margin) {
  const double margin = error_margin.value_or(9);
  const TopMoves top = ListTopMoves(margin, 5, 0, 1048576, 2);
  common::echo(format_s("bestline: score %s; pv %s", top.bestline.score, top.bestline.pv_list.at(0)));
  return choice(top.topmoves);
}

}  // namespace ai_players
