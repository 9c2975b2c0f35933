#include "commands.h"

namespace ai_players::app {

void add_uci_command(CLI::App& app) {
  app.add_subcommand("uci", "(not built yet)")->callback([] { throw std::runtime_error("not built yet"); });
}

}  // namespace ai_players::app
