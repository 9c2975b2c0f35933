#include "commands.h"

namespace ai_players::app {

void add_list_command(CLI::App& app) {
  app.add_subcommand("list", "(not built yet)")->callback([] { throw std::runtime_error("not built yet"); });
}

}  // namespace ai_players::app
