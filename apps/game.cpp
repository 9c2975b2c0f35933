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

PlayedGame play_game(const Mover& white, const Mover& black, const GameSetup& setup,
                     const MoveObserver& observer) {
  board::Board position(setup.start_fen);
  PlayedGame game;
  game.start_fen = setup.start_fen;
  while (true) {
    if (auto end = outcome_of(position)) {
      game.outcome = *end;
      return game;
    }
    if (setup.max_plies > 0 && static_cast<int>(game.moves.size()) >= setup.max_plies) {
      game.outcome = {"*", "unterminated"};
      return game;
    }
    const board::MoveList legal = position.legal_moves();
    const Mover& mover = position.side_to_move == common::WHITE ? white : black;
    const board::MovePtr reply = mover(game.moves, legal, game.start_fen);
    const std::string coord = reply ? reply->to_coord() : "(none)";
    board::MovePtr played;
    for (const auto& m : legal)
      if (m->to_coord() == coord) played = m;
    if (!played)
      throw std::runtime_error(fmt::format("the {} player answered {}, which is not a legal move in {}",
                                           position.side_to_move == common::WHITE ? "white" : "black",
                                           coord, position.export_FEN()));
    game.san.push_back(played->to_SAN(legal));
    position.make_internal_move(*played);
    game.moves.push_back(played);
    if (observer) observer(game);
  }
}

}  // namespace ai_players::app
