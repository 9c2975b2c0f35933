#include "game/game.h"

#include <fmt/format.h>

namespace ai_players::app {

PlayedGame play_game(const Mover& white, const Mover& black, const GameSetup& setup, const MoveObserver& observer) {
  using Clock = std::chrono::steady_clock;
  GameState game(setup.start_fen, setup.clock);
  while (!game.over()) {
    if (setup.max_plies > 0 && static_cast<int>(game.record().moves.size()) >= setup.max_plies) {
      game.end({"*", Termination::Unterminated}, fmt::format("stopped at the {}-ply limit", setup.max_plies));
      break;
    }
    const Mover& mover = game.side_to_move() == common::WHITE ? white : black;
    const auto started = Clock::now();
    MoveReply reply;
    try {
      reply = mover(MoveRequest{game.record().moves, game.legal(), game.record().start_fen,
                                game.move_deadline(started, setup.fixed_movetime)});
    } catch (const MoverFailure& e) {
      game.end({"*", Termination::Abandoned}, e.what());
      break;
    }
    if (!game.charge(std::chrono::duration_cast<milliseconds>(Clock::now() - started))) break;
    if (!reply.move) throw std::logic_error("a player answered no move");
    game.play(*reply.move, std::move(reply.comment));
    if (observer) observer(game.record());
  }
  return game.record();
}

}  // namespace ai_players::app
