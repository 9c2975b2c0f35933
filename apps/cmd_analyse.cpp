// ai-players analyse: the engine's best candidates for a position, as the
// players see them.
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "ai_players/core/analysis.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/platform.h"
#include "ai_players/engine/uci_tokens.h"
#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "cli_options.h"
#include "commands.h"
#include "persona_factory.h"

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
board::MoveList play_moves(const std::string& fen, const std::string& moves, board::Board& position) {
  position = board::Board(fen);
  board::MoveList played;
  int number = 0;
  for (const std::string& text : engine::split_tokens(moves)) {
    ++number;
    try {
      played.push_back(position.parse_move(text));
    } catch (const board::IllegalMoveError& e) {
      throw std::runtime_error("move " + std::to_string(number) + " of --moves: " + e.what());
    }
    position.make_internal_move(*played.back());
  }
  return played;
}

struct DiagnosticsToStderr {
  LineSink saved = set_bugprint_sink([](std::string_view s) { std::cerr << s << '\n'; });
  ~DiagnosticsToStderr() { set_bugprint_sink(saved); }
};

struct QuietEcho {
  common::TextSink saved = common::set_echo_sink([](std::string_view) {});
  ~QuietEcho() { common::set_echo_sink(saved); }
};

void run_analyse(const AnalyseOptions& o) {
  board::Board position;
  board::MoveList history = play_moves(o.fen, o.moves, position);
  board::MoveList legal = position.legal_moves();
  if (legal.empty()) throw std::runtime_error("the position has no legal moves: " + position.export_FEN());

  std::unique_ptr<AI_BASIC> player;
  std::vector<Analysis> analyses;
  {
    // Diagnostics go to standard error, so that standard output holds only the analyses.
    DiagnosticsToStderr diagnostics;
    {
      QuietEcho quiet;  // the player's start-up line
      player = std::make_unique<AI_BASIC>("analyse", 0, std::nullopt, engine_config(o.settings, false));
    }
    player->engine_timeout = o.settings.engine_timeout;
    player->start_fen = o.fen;
    player->game_history = history;
    player->legalmoves = legal;
    analyses = o.nodes ? player->obtain_engine_thoughts(o.multipv, 0, o.nodes)
                       : player->obtain_engine_thoughts(o.multipv, o.depth);
  }
  if (o.nodes) common::echo("probe depth: " + std::to_string(player->last_search_depth));
  for (const auto& a : analyses) a.print_me();
}

}  // namespace

void add_analyse_command(CLI::App& app) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* cmd = app.add_subcommand("analyse", "the engine's best candidate moves for a position, best first");
  cmd->add_option("--fen", options->fen, "the position (default: the initial position)");
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
