#include "tournament/game_worker.h"

#include <memory>
#include <string>

#include "ai_players/core/random.h"
#include "ai_players/personas/safe_reply.h"
#include "engine_client/analyst.h"
#include "players/library_output.h"
#include "players/persona_player.h"
#include "tournament/tournament_game.h"

namespace ai_players::app {
namespace {

PgnGame play_terms(GameTerms terms, std::ostream& out) {
  ai_players::seed(terms.seed);
  const LibraryOutput output(false);
  PersonaPlayer white{terms.white, start_persona(terms.white, output, terms.settings)};
  PersonaPlayer black{terms.black, start_persona(terms.black, output, terms.settings)};
  terms.white_elo = white.strength();
  terms.black_elo = black.strength();
  std::unique_ptr<Analyst> analyst;
  Judge judge;
  const AdjudicationRule rule;
  if (terms.adjudicate) {
    analyst = std::make_unique<Analyst>(engine_config(terms.settings, false), terms.settings.engine_timeout);
    judge = [&analyst, &rule](const std::string& fen, const board::MoveList& moves) {
      return analyst->evaluate(fen, moves, rule.depth).white();
    };
  }
  // Fallbacks and failures are in the PGN comments; a mark per move shows the game is alive.
  const auto mover = [&out](PersonaPlayer& player) {
    Mover inner = persona_mover(player, {});
    return Mover([inner, &out](const MoveRequest& request) {
      MoveReply reply = inner(request);
      out << kMoveMark << reply.move->to_coord() << std::endl;
      return reply;
    });
  };
  return play_tournament_game(terms, mover(white), mover(black), judge, rule);
}

}  // namespace

void run_game_worker(std::istream& in, std::ostream& out) {
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    try {
      out << to_pgn(play_terms(terms_from_json(line), out));
    } catch (const std::exception& e) {
      std::string message = failure_text(e);
      for (char& c : message)
        if (c == '\n' || c == '\r') c = ' ';
      out << kErrorMark << message << '\n';
    }
    out << kEndOfGame << std::endl;
  }
}

}  // namespace ai_players::app
