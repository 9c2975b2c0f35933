#include <iostream>
#include <string>

#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "cli/cli_options.h"
#include "cli/commands.h"

namespace ai_players::app {

void add_perft_command(CLI::App& app) {
  struct Options {
    std::string fen{common::FEN_New_Game};
    int depth = 4;
  };
  auto options = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand("perft", "count the move paths of a position, one line per root move");
  add_fen_option(cmd, options->fen, "the position (default: the initial position)");
  cmd->add_option("--depth", options->depth, "plies to count")->check(CLI::Range(1, 20))->capture_default_str();
  cmd->callback([options] {
    const board::Board position(options->fen);
    std::uint64_t total = 0;
    for (const auto& [move, nodes] : position.perft_divide(options->depth)) {
      std::cout << move << ": " << nodes << '\n';
      total += nodes;
    }
    std::cout << "\nNodes searched: " << total << '\n';
  });
}

}  // namespace ai_players::app
