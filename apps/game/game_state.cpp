#include "game/game_state.h"

#include <stdexcept>

#include <fmt/format.h>

namespace ai_players::app {
namespace {

int slot(int side) { return side == common::WHITE ? 0 : 1; }

// Whether `side` has anything beyond its king: a lone king cannot win on time.
bool has_more_than_king(const board::Board& position, int side) {
  for (int piece : position.posTable)
    if (piece * side > 0 && piece * side != common::King) return true;
  return false;
}

}  // namespace

GameState::GameState(const std::string& start_fen, std::optional<TimeControl> clock, bool first_moves_free)
    : position_(start_fen), clock_(clock), first_moves_free_(first_moves_free) {
  record_.start_fen = start_fen;
  legal_ = position_.legal_moves();
  record_.outcome = outcome_of(position_);
  if (clock_) left_[0] = left_[1] = clock_->base;
}

board::MovePtr GameState::play(const board::Move& move, std::string comment) {
  const board::MovePtr played = board::find_move(legal_, move.to_coord());
  if (!played || over())
    throw std::logic_error(fmt::format("{} is not a legal move in {}", move.to_coord(), position_.export_FEN()));
  record_.san.push_back(played->to_SAN(legal_));
  record_.comments.push_back(std::move(comment));
  record_.moves.push_back(played);
  position_.make_internal_move(*played);
  legal_ = position_.legal_moves();
  record_.outcome = outcome_of(position_);
  return played;
}

void GameState::end(Outcome outcome, std::string final_comment) {
  record_.outcome = std::move(outcome);
  record_.final_comment = std::move(final_comment);
}

void GameState::take_back(std::size_t plies) {
  plies = std::min(plies, record_.moves.size());
  const std::size_t keep = record_.moves.size() - plies;
  record_.moves.resize(keep);
  record_.san.resize(keep);
  record_.comments.resize(keep);
  record_.final_comment.clear();
  rebuild();
}

void GameState::rebuild() {
  // Replayed from the start, so that the repetition count stays right.
  position_ = board::Board(record_.start_fen);
  for (const auto& m : record_.moves) position_.make_internal_move(*m);
  legal_ = position_.legal_moves();
  record_.outcome = outcome_of(position_);
}

std::optional<milliseconds> GameState::time_left(int side) const {
  if (!clock_) return std::nullopt;
  return left_[slot(side)];
}

std::optional<std::chrono::steady_clock::time_point> GameState::move_deadline(
    std::chrono::steady_clock::time_point now, std::optional<milliseconds> fixed_movetime,
    milliseconds overhead) const {
  ClockReading reading;
  reading.overhead = overhead;
  if (clock_) {
    reading.remaining = left_[slot(side_to_move())];
    reading.increment = clock_->increment;
  } else if (fixed_movetime) {
    reading.movetime = fixed_movetime;
  }
  const auto budget = move_budget(reading);
  if (!budget) return std::nullopt;
  return now + *budget;
}

bool GameState::charge(milliseconds spent) {
  if (!clock_runs()) return true;
  const int side = side_to_move();
  milliseconds& left = left_[slot(side)];
  left -= spent;
  if (left < milliseconds(0)) {
    left = milliseconds(0);
    end(Outcome{has_more_than_king(position_, -side) ? win_for(-side) : "1/2-1/2", Termination::TimeForfeit},
        fmt::format("{} ran out of time", side == common::WHITE ? "White" : "Black"));
    return false;
  }
  left += clock_->increment;
  return true;
}

}  // namespace ai_players::app
