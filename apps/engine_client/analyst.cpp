#include "engine_client/analyst.h"

#include <stdexcept>

namespace ai_players::app {

Analyst::Analyst(engine::EngineConfig config, std::optional<std::chrono::milliseconds> timeout) {
  // Its start-up line is no news to anyone.
  const common::ScopedEchoSink quiet([](std::string_view) {});
  player_ = std::make_unique<AI_BASIC>("analyst", 0, std::nullopt, std::move(config));
  player_->engine_timeout = timeout;
}

std::vector<Analysis> Analyst::analyse(const std::string& start_fen, const board::MoveList& moves, int multipv,
                                       int depth, std::optional<long long> nodes) {
  board::Board position(start_fen);
  for (const auto& m : moves) position.make_internal_move(*m);
  board::MoveList legal = position.legal_moves();
  if (legal.empty()) throw board::IllegalMoveError("the position has no legal moves: " + position.export_FEN());
  player_->begin_request();
  player_->start_fen = start_fen;
  player_->game_history = moves;
  player_->legalmoves = std::move(legal);
  auto lines = nodes ? player_->obtain_engine_thoughts(multipv, 0, nodes) : player_->obtain_engine_thoughts(multipv, depth);
  // A search the watchdog had to cut before its first line found nothing to show.
  if (lines.empty())
    throw EngineError("The chess engine " + player_->engine_name() + " found no line" +
                      (player_->engine_trouble.empty() ? "" : ": " + player_->engine_trouble));
  return lines;
}

PovScore Analyst::evaluate(const std::string& start_fen, const board::MoveList& moves, int depth) {
  const int first = board::Board(start_fen).side_to_move;
  const int mover = moves.size() % 2 == 0 ? first : -first;
  // A finished game needs no engine: mated, or a stalemate's level score.
  board::Board position(start_fen);
  for (const auto& m : moves) position.make_internal_move(*m);
  if (position.legal_moves().empty())
    return PovScore{position.in_check() ? -Score::mate_in(0) : Score(0), mover};
  const auto lines = analyse(start_fen, moves, 1, depth);
  return PovScore{Score(lines.front().score), mover};
}

}  // namespace ai_players::app
