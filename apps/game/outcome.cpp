#include "game/outcome.h"

namespace ai_players::app {

std::string termination_text(Termination why) {
  switch (why) {
    case Termination::Checkmate: return "checkmate";
    case Termination::Stalemate: return "stalemate";
    case Termination::FiftyMoves: return "fifty-move rule";
    case Termination::Repetition: return "threefold repetition";
    case Termination::InsufficientMaterial: return "insufficient material";
    case Termination::Resignation: return "resignation";
    case Termination::Agreement: return "draw agreed";
    case Termination::TimeForfeit: return "time forfeit";
    case Termination::Adjudication: return "adjudication";
    case Termination::Unterminated: return "unterminated";
    case Termination::Abandoned: return "abandoned";
  }
  return "?";
}

bool by_the_rules(Termination why) { return why <= Termination::InsufficientMaterial; }

std::string pgn_termination(Termination why) {
  return by_the_rules(why) || why == Termination::Resignation || why == Termination::Agreement ? "normal" : termination_text(why);
}

std::string win_for(int side) { return side == common::WHITE ? "1-0" : "0-1"; }

std::optional<Outcome> outcome_of(const board::Board& position) {
  using board::GameEnd;
  switch (position.game_end()) {
    case GameEnd::None: return std::nullopt;
    case GameEnd::Checkmate: return Outcome{win_for(-position.side_to_move), Termination::Checkmate};
    case GameEnd::Stalemate: return Outcome{"1/2-1/2", Termination::Stalemate};
    case GameEnd::FiftyMoves: return Outcome{"1/2-1/2", Termination::FiftyMoves};
    case GameEnd::Repetition: return Outcome{"1/2-1/2", Termination::Repetition};
    case GameEnd::InsufficientMaterial: return Outcome{"1/2-1/2", Termination::InsufficientMaterial};
  }
  return std::nullopt;
}

}  // namespace ai_players::app
