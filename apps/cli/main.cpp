#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "cli/commands.h"
#include "game/user_error.h"

namespace {

// Every failure is one line on standard error.
int failed(std::string_view message, int status) {
  std::cerr << "ai-players: " << ai_players::app::message_line(message) << '\n';
  return status;
}

// The commands, a line each, for a call that names none or names one wrongly.
std::string command_list(const CLI::App& app) {
  std::string text = "Commands (ai-players COMMAND --help says more):\n";
  for (const CLI::App* cmd : app.get_subcommands({}))
    if (!cmd->get_group().empty())  // not the hidden ones
      text += fmt::format("  {:<11} {}\n", cmd->get_name(), cmd->get_description());
  return text;
}

std::vector<std::string> command_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* cmd : app.get_subcommands({}))
    if (!cmd->get_group().empty()) names.push_back(cmd->get_name());
  return names;
}

// A bare call, "help [COMMAND]" and a word that is no command, before CLI11
// sees them: it would only say that a command is required.
std::optional<int> no_command(CLI::App& app, int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "ai-players: say what to do.\n" << command_list(app);
    return 2;
  }
  const std::string first = argv[1];
  if (first.starts_with("-")) return std::nullopt;
  for (const CLI::App* cmd : app.get_subcommands({}))
    if (cmd->get_name() == first) return std::nullopt;
  const auto names = command_names(app);
  if (first == "help") {
    if (argc > 2 && std::find(names.begin(), names.end(), std::string(argv[2])) != names.end()) {
      std::cout << app.get_subcommand(argv[2])->help();
      return 0;
    }
    std::cout << app.get_description() << "\n\n" << command_list(app);
    return 0;
  }
  const auto meant = ai_players::app::did_you_mean(first, names);
  std::cerr << "ai-players: there is no command " << ai_players::app::echoed(first)
            << (meant ? "; did you mean '" + *meant + "'?" : ".") << '\n'
            << command_list(app);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ai-players: human-like computer chess opponents"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "ai-players " AI_PLAYERS_VERSION);
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
  if (const auto status = no_command(app, argc, argv)) return *status;
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
