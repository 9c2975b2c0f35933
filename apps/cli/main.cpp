#include <exception>
#include <iostream>

#include "ai_players/core/errors.h"
#include "cli/commands.h"
#include "game/user_error.h"

int main(int argc, char** argv) {
  CLI::App app{"ai-players: human-like computer chess opponents"};
  app.require_subcommand(1);
  ai_players::app::add_perft_command(app);
  ai_players::app::add_analyse_command(app);
  ai_players::app::add_list_command(app);
  ai_players::app::add_match_command(app);
  ai_players::app::add_play_command(app);
  ai_players::app::add_uci_command(app);
  ai_players::app::add_review_command(app);
  ai_players::app::add_serve_command(app);
  ai_players::app::add_tournament_commands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const ai_players::app::UserError& e) {
    std::cerr << "ai-players: " << e.what() << '\n';
    return 2;
  } catch (const ai_players::AssertionError& e) {
    std::cerr << "ai-players: " << ai_players::describe(e) << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "ai-players: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
