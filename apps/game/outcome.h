// How a game ends: the result and why.
#pragma once

#include <optional>
#include <string>

#include "ai_players/host/board.h"

namespace ai_players::app {

enum class Termination {
  Checkmate,
  Stalemate,
  FiftyMoves,
  Repetition,
  InsufficientMaterial,
  Resignation,
  Agreement,  // a draw offered and accepted
  TimeForfeit,
  Adjudication,
  Unterminated,  // stopped before the rules ended it (a ply limit, the user left)
  Abandoned,     // a player could not move at all
};

// "checkmate", "fifty-move rule", "time forfeit", ...
std::string termination_text(Termination why);
// The PGN Termination tag's standard value: "normal" for the rules of the
// game, a resignation and an agreed draw, else "time forfeit", "adjudication", "unterminated", "abandoned".
std::string pgn_termination(Termination why);
// Whether the rules of chess themselves ended the game.
bool by_the_rules(Termination why);

struct Outcome {
  std::string result;  // "1-0", "0-1", "1/2-1/2" or "*"
  Termination why = Termination::Unterminated;
};

// The outcome of a position in which the rules end the game, or none.
std::optional<Outcome> outcome_of(const board::Board& position);

// "1-0" for the side that wins (WHITE or BLACK).
std::string win_for(int side);

}  // namespace ai_players::app
