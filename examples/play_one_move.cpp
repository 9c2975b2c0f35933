// A host program in a few lines, as in docs/library.md: the human has
// played 1.d4, a persona answers.
#include <iostream>

#include "ai_players/ai_players.h"

using namespace ai_players;

int main() {
  // The persona's chatter goes to standard error; standard output gets the move.
  const auto to_stderr = [](std::string_view line) { std::cerr << line << '\n'; };
  const common::ScopedEchoSink echo(to_stderr);
  const ScopedBugprintSink diagnostics(to_stderr);
  try {
    // The engine the persona drives: AI_PLAYERS_ENGINE, else /usr/games/stockfish.
    engine::EngineConfig config;
    config.path = engine::find_engine();
    if (!config.path) {
      std::cerr << "no chess engine: install stockfish or set AI_PLAYERS_ENGINE\n";
      return 1;
    }

    board::Board position;    // the standard initial position, or board::Board(fen)
    board::MoveList history;  // the moves played so far
    board::MovePtr human = position.parse_move("d4");
    position.make_internal_move(*human);
    history.push_back(human);

    BEGINNER_GANG gnome("Gnome", Number(0.27), 750, config);  // starts its engine
    const board::MoveList legal = position.legal_moves();
    board::MovePtr reply = gnome.GetReply(history, legal);  // one of `legal`
    std::cout << "1. d4 " << reply->to_SAN(legal) << '\n';
    position.make_internal_move(*reply);
    history.push_back(reply);
    return 0;
  } catch (const AssertionError& e) {  // a bug: say where
    std::cerr << describe(e) << '\n';
  } catch (const Error& e) {  // anything else the library reports
    std::cerr << e.what() << '\n';
  }
  return 1;
}
