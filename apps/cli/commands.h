// The subcommands of the ai-players program; each lives in its own file.
#pragma once

#include <CLI/CLI.hpp>

namespace ai_players::app {

void add_perft_command(CLI::App& app);
void add_analyse_command(CLI::App& app);
void add_list_command(CLI::App& app);
void add_match_command(CLI::App& app);
void add_play_command(CLI::App& app);
void add_uci_command(CLI::App& app);
void add_review_command(CLI::App& app);
void add_serve_command(CLI::App& app);
void add_games_command(CLI::App& app);
// tournament, ratings and the hidden game command.
void add_tournament_commands(CLI::App& app);

}  // namespace ai_players::app
