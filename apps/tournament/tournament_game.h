// One tournament game: its terms (what a worker process is sent), played
// from its opening to a PGN record, adjudicated when asked.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "game/game.h"
#include "pgn/openings.h"
#include "pgn/pgn_game.h"
#include "players/persona_factory.h"
#include "tournament/adjudication.h"

namespace ai_players::app {

struct GameTerms {
  std::string event = "?", site = "?", round = "?";
  std::string white, black;  // persona names
  Opening opening;
  int max_plies = 0;  // 0: none; the limit counts the opening's moves too
  std::optional<TimeControl> clock;
  std::uint64_t seed = 0;
  bool adjudicate = false;
  AdjudicationRule adjudication;  // the judge's rule, when adjudicate
  PersonaSettings settings;
  // The players' strengths: for HOUD20c the one its engine offers, asked once
  // per tournament (a worker need not ask again); in the PGN, what they played at.
  std::optional<int> white_elo, black_elo;
  // The engine persona's own search limits ("depth 8"); empty: its default.
  std::string white_search, black_search;
};

// One line of JSON, and back; terms_from_json throws UserError for anything else.
std::string terms_to_json(const GameTerms& terms);
GameTerms terms_from_json(const std::string& line);

// Scores the position of a game (start FEN plus moves) from White's side.
using Judge = std::function<Score(const std::string& start_fen, const board::MoveList& moves)>;

// Plays the opening's moves (coordinates or SAN), then the movers; a game over max_plies is a
// draw by adjudication, and so is a judge's verdict (with a judge, by terms.adjudication). The PGN
// has the standard Termination value and the specific reason as a comment.
PgnGame play_tournament_game(const GameTerms& terms, const Mover& white, const Mover& black, const Judge& judge = {});

}  // namespace ai_players::app
