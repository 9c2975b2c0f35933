#include "game.h"

#include <stdexcept>

#include <fmt/format.h>

namespace ai_players::app {

using board::GameEnd;

std::optional<Outcome> outcome_of(const board::Board& position) {
  switch (position.game_end()) {
    case GameEnd::None:
      return std::nullopt;
    case GameEnd::Checkmate:
      return Outcome{position.side_to_move == common::WHITE ? "0-1" : "1-0", "checkmate"};
    case GameEnd::Stalemate:
      return Outcome{"1/2-1/2", "stalemate"};
    case GameEnd::FiftyMoves:
      return Outcome{"1/2-1/2", "fifty-move rule"};
    case GameEnd::Repetition:
      return Outcome{"1/2-1/2", "threefold repetition"};
    case GameEnd::InsufficientMaterial:
      return Outcome{"1/2-1/2", "insufficient material"};
  }
  return std::nullopt;
}

std::string pgn_termination(const std::string& termination) {
  for (const char* rule :
       {"checkmate", "stalemate", "fifty-move rule", "threefold repetition", "insufficient material"})
    if (termination == rule) return "normal";
  return termination;
}

namespace {

// A side's clock in a game with a time control.
struct SideClock {
  milliseconds left;
};

std::string side_name(int side) { return side == common::WHITE ? "white" : "black"; }

// Whether `side` has anything beyond its king: a lone king cannot win on time.
bool has_more_than_king(const board::Board& position, int side) {
  for (int piece : position.posTable)
    if (piece * side > 0 && piece * side != common::King) return true;
  return false;
}

}  // namespace

PlayedGame play_game(const Mover& white, const Mover& black, const GameSetup& setup,
                     const MoveObserver& observer) {
  using Clock = std::chrono::steady_clock;
  board::Board position(setup.start_fen);
  PlayedGame game;
  game.start_fen = setup.start_fen;
  SideClock clocks[2] = {{setup.clock ? setup.clock->base : milliseconds(0)},
                         {setup.clock ? setup.clock->base : milliseconds(0)}};
  while (true) {
    if (auto end = outcome_of(position)) {
      game.outcome = *end;
      return game;
    }
    if (setup.max_plies > 0 && static_cast<int>(game.moves.size()) >= setup.max_plies) {
      game.outcome = {"*", "unterminated"};
      return game;
    }
    const int side = position.side_to_move;
    const board::MoveList legal = position.legal_moves();
    const Mover& mover = side == common::WHITE ? white : black;
    SideClock& clock = clocks[side == common::WHITE ? 0 : 1];

    const auto started = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (setup.clock) {
      ClockReading reading;
      reading.remaining = clock.left;
      reading.increment = setup.clock->increment;
      reading.overhead = milliseconds(10);  // no GUI between us and our own clock
      deadline = started + *move_budget(reading);
    } else if (setup.fixed_movetime) {
      ClockReading reading;
      reading.movetime = setup.fixed_movetime;
      reading.overhead = milliseconds(10);
      deadline = started + *move_budget(reading);
    }
    MoveReply reply;
    try {
      reply = mover(MoveRequest{game.moves, legal, game.start_fen, deadline});
    } catch (const MoverFailure& e) {
      game.outcome = {"*", "abandoned"};
      game.final_comment = e.what();
      return game;
    }
    if (setup.clock) {
      clock.left -= std::chrono::duration_cast<milliseconds>(Clock::now() - started);
      if (clock.left < milliseconds(0)) {
        // Lost on time, unless the other side cannot mate at all.
        game.outcome = {side == common::WHITE ? "0-1" : "1-0", "time forfeit"};
        if (!has_more_than_king(position, -side)) game.outcome.result = "1/2-1/2";
        game.final_comment = fmt::format("{} ran out of time", side_name(side));
        return game;
      }
      clock.left += setup.clock->increment;
    }
    const std::string coord = reply.move ? reply.move->to_coord() : "(none)";
    board::MovePtr played;
    for (const auto& m : legal)
      if (m->to_coord() == coord) played = m;
    if (!played)
      throw std::runtime_error(fmt::format("the {} player answered {}, which is not a legal move in {}",
                                           side_name(side), coord, position.export_FEN()));
    game.san.push_back(played->to_SAN(legal));
    game.comments.push_back(reply.comment);
    position.make_internal_move(*played);
    game.moves.push_back(played);
    if (observer) observer(game);
  }
}

}  // namespace ai_players::app
