#include <exception>
#include <iostream>

#include "ai_players/core/errors.h"
#include "cli/commands.h"
#include "game/user_error.h"

namespace {

// Every failure is one line on standard error.
int failed(std::string_view message, int status) {
  std::cerr << "ai-players: " << ai_players::app::message_line(message) << '\n';
  return status;
}

}  // namespace

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
  ai_players::app::add_games_command(app);
  ai_players::app::add_tournament_commands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a command's own status (a signal), said already
  } catch (const CLI::ParseError& e) {
    return failed(e.what(), 2);  // a command line that cannot be read is a user error too
  } catch (const ai_players::app::UserError& e) {
    return failed(e.what(), 2);
  } catch (const ai_players::AssertionError& e) {
    return failed(ai_players::describe(e), 1);
  } catch (const std::exception& e) {
    return failed(e.what(), 1);
  }
  return 0;
}
