#include "tournament/game_worker.h"

#include <map>
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

// What a worker keeps from one game to the next: the personas it has played
// with and the judge's engine, engines running. Each is told of every new
// game, so that a game depends on its terms alone, not on the games before.
class WarmPlayers {
 public:
  explicit WarmPlayers(const LibraryOutput& output) : output_(output) {}

  // `slot` tells apart two players of one name in one game.
  // With its own search limits for this game (empty: its default).
  PersonaPlayer& ready(const std::string& name, std::optional<int> strength, const PersonaSettings& settings,
                       int slot, const std::string& search) {
    const std::string key = key_of(name, settings, slot);
    auto it = players_.find(key);
    if (it == players_.end()) {
      Warm warm{resolve_persona(name), PersonaPlayer{name, nullptr}};
      warm.player.persona = start_persona(warm.id, output_, settings, strength);
      it = players_.emplace(key, std::move(warm)).first;
    }
    AI_BASIC& persona = *it->second.player.persona;
    persona.engine_timeout = settings.engine_timeout;
    persona.new_game();
    set_search_limits(it->second.id, persona, search);
    return it->second.player;
  }

  Analyst& analyst(const PersonaSettings& settings) {
    if (!analyst_) analyst_ = std::make_unique<Analyst>(engine_config(settings, false), settings.engine_timeout);
    analyst_->new_game();
    return *analyst_;
  }

  // After a failed game none of its engines is trusted again.
  void forget() {
    players_.clear();
    analyst_.reset();
  }

 private:
  static std::string key_of(const std::string& name, const PersonaSettings& settings, int slot) {
    return name + '\n' + settings.engine.value_or("") + '\n' + std::to_string(slot);
  }

  struct Warm {
    PersonaId id;
    PersonaPlayer player;
  };
  const LibraryOutput& output_;
  std::map<std::string, Warm> players_;
  std::unique_ptr<Analyst> analyst_;
};

PgnGame play_terms(GameTerms terms, WarmPlayers& warm, std::ostream& out) {
  PersonaPlayer& white = warm.ready(terms.white, terms.white_elo, terms.settings, 0, terms.white_search);
  PersonaPlayer& black =
      warm.ready(terms.black, terms.black_elo, terms.settings, terms.black == terms.white, terms.black_search);
  terms.white_elo = white.strength();
  terms.black_elo = black.strength();
  Judge judge;
  if (terms.adjudicate) {
    Analyst& analyst = warm.analyst(terms.settings);
    judge = [&analyst, depth = terms.adjudication.depth](const std::string& fen, const board::MoveList& moves) {
      return analyst.evaluate(fen, moves, depth).white();
    };
  }
  ai_players::seed(terms.seed);  // after every new game: the seed alone fixes the game
  // Fallbacks and failures are in the PGN comments; a mark per move shows the game is alive.
  const auto mover = [&out](PersonaPlayer& player) {
    Mover inner = persona_mover(player, {});
    return Mover([inner, &out](const MoveRequest& request) {
      MoveReply reply = inner(request);
      out << kMoveMark << reply.move->to_coord() << std::endl;
      return reply;
    });
  };
  return play_tournament_game(terms, mover(white), mover(black), judge);
}

}  // namespace

void run_game_worker(std::istream& in, std::ostream& out) {
  const LibraryOutput output(false);
  WarmPlayers warm(output);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    try {
      out << to_pgn(play_terms(terms_from_json(line), warm, out));
    } catch (const std::exception& e) {
      warm.forget();
      std::string message = failure_text(e);
      for (char& c : message)
        if (c == '\n' || c == '\r') c = ' ';
      out << kErrorMark << message << '\n';
    }
    out << kEndOfGame << std::endl;
  }
}

}  // namespace ai_players::app
