// ai-players analyse: the engine's best candidates for a position, as the
// players see them.
#include <iostream>
#include <memory>

#include <fmt/format.h>

#include "ai_players/engine/uci_tokens.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "engine_client/analyst.h"
#include "game/user_error.h"

namespace ai_players::app {
namespace {

struct AnalyseOptions {
  std::string fen{common::FEN_New_Game};
  std::string moves;
  int multipv = 1;
  int depth = 0;
  long long nodes = 0;
  PersonaSettings settings;
};

// Plays the moves (coordinates or SAN) from the FEN; each must be legal where it is played.
board::MoveList play_moves(const std::string& fen, const std::string& moves) {
  board::Board position(fen);
  board::MoveList played;
  for (const std::string& text : engine::split_tokens(moves)) {
    const auto move = board::find_move(position.legal_moves(), text);
    if (!move)
      throw UserError(fmt::format("move {} of --moves, {}, is not legal in {}", played.size() + 1,
                                  quoted_excerpt(text, 20), position.export_FEN()));
    played.push_back(move);
    position.make_internal_move(*move);
  }
  return played;
}

void run_analyse(const AnalyseOptions& o) {
  const board::MoveList history = play_moves(o.fen, o.moves);
  // Diagnostics go to standard error, so that standard output holds only the analyses.
  const ScopedBugprintSink diagnostics([](std::string_view s) { std::cerr << s << '\n'; });
  Analyst analyst(engine_config(o.settings, false), o.settings.engine_timeout);
  const auto analyses = analyst.analyse(o.fen, history, o.multipv, o.depth,
                                        o.nodes ? std::optional(o.nodes) : std::nullopt);
  if (o.nodes) common::echo("probe depth: " + std::to_string(analyst.last_depth()));
  for (const auto& a : analyses) a.print_me();
}

}  // namespace

void add_analyse_command(CLI::App& app) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* cmd = app.add_subcommand("analyse", "the engine's best candidate moves for a position, best first");
  add_fen_option(cmd, options->fen, "the position (default: the initial position)");
  cmd->add_option("--moves", options->moves, "moves played from it, e.g. \"e2e4 e7e5\"");
  cmd->add_option("--multipv", options->multipv, "how many candidates")->check(CLI::Range(1, 500))->capture_default_str();
  auto* depth = cmd->add_option("--depth", options->depth, "search depth in plies")->check(CLI::Range(1, 99));
  auto* nodes = cmd->add_option("--nodes", options->nodes, "node budget, turned into a depth by a probe search")
                    ->check(CLI::Range(40001LL, 1000000000000LL));
  add_engine_timeout_option(cmd, options->settings);
  depth->excludes(nodes);
  nodes->excludes(depth);
  cmd->callback([options, depth, nodes] {
    if (depth->count() == 0 && nodes->count() == 0) throw CLI::ValidationError("analyse", "give --depth or --nodes");
    run_analyse(*options);
  });
}

}  // namespace ai_players::app
