// ai-players review: every move of the games in a PGN file judged against the
// engine's best, as annotated PGN, a summary per player and evaluation graphs.
#include <unistd.h>

#include <iostream>
#include <memory>

#include <fmt/format.h>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "review/review.h"
#include "review/review_run.h"

namespace ai_players::app {

void add_review_command(CLI::App& app) {
  auto plan = std::make_shared<ReviewPlan>();
  auto settings = std::make_shared<PersonaSettings>();
  CLI::App* cmd = app.add_subcommand("review", "judge every move of the games in a PGN file");
  cmd->add_option("GAME", plan->file, "the PGN file")->required();
  cmd->add_option("--depth", plan->depth, fmt::format("search depth of each judgement (default {})", kReviewDepth))
      ->check(CLI::Range(1, 40));
  cmd->add_option("--jobs", plan->jobs,
                  fmt::format("engines judging positions at once (default {}, the number of cores)", default_review_jobs()))
      ->check(CLI::Range(1, 256));
  cmd->add_option("--games", plan->games, "review only the first K games")->check(CLI::Range(1, 1000000));
  cmd->add_option("--out", plan->out, "write the annotated games to this PGN file");
  cmd->add_option("--svg", plan->svg, "write the evaluation graph (graph-N.svg for several games)");
  cmd->add_flag("--moves", plan->moves, "print the moves with their marks, losses and the best moves");
  add_engine_timeout_option(cmd, *settings);
  cmd->add_flag("--verbose", plan->verbose, "show the persona's own messages on standard error");
  cmd->callback([plan, settings] {
    plan->engine_timeout = settings->engine_timeout;
    plan->live = ::isatty(STDERR_FILENO) == 1;
    run_review(*plan, std::cout, std::cerr);
  });
}

}  // namespace ai_players::app
