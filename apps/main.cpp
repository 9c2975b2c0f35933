#include <unistd.h>

#include <exception>
#include <iostream>

#include "ai_players/core/errors.h"
#include "ai_players/engine/platform.h"
#include "commands.h"

namespace {

// Debian's stockfish serves every persona unless AI_PLAYERS_ENGINE says otherwise.
constexpr const char* kDefaultEngine = "/usr/games/stockfish";

}  // namespace

int main(int argc, char** argv) {
  if (::access(kDefaultEngine, X_OK) == 0) ai_players::engine::set_default_engine(kDefaultEngine);

  CLI::App app{"ai-players: human-like computer chess opponents"};
  app.require_subcommand(1);
  ai_players::app::add_perft_command(app);
  ai_players::app::add_analyse_command(app);
  ai_players::app::add_list_command(app);
  ai_players::app::add_match_command(app);
  ai_players::app::add_play_command(app);
  ai_players::app::add_uci_command(app);
  ai_players::app::add_review_command(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const ai_players::AssertionError&) {
    std::cerr << "ai-players: an internal check failed\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "ai-players: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
