// ai-players match: games between two personas, with PGN and an Elo estimate.
#include <iostream>
#include <memory>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "tournament/match.h"

namespace ai_players::app {

void add_match_command(CLI::App& app) {
  struct Options {
    MatchPlan plan;
    ClockOptions clock;
    PgnOptions pgn;
  };
  auto o = std::make_shared<Options>();
  MatchPlan& plan = o->plan;
  CLI::App* cmd = app.add_subcommand("match", "play games between two personas");
  cmd->add_option("--white", plan.white, "persona with White in the first game")->required();
  cmd->add_option("--black", plan.black, "persona with Black in the first game")->required();
  cmd->add_option("--games", plan.games, "number of games; colours alternate")->check(CLI::Range(1, 1000000));
  add_fen_option(cmd, plan.start_fen, "start position (FEN) of every game");
  add_pgn_options(cmd, o->pgn, "write the games to this PGN file, each as it ends",
                  "add the games to those --pgn already holds");
  add_seed_option(cmd, plan.seed, "seed of the random draws, for a repeatable match");
  add_clock_options(cmd, o->clock,
                    "a clock for each side: base seconds + increment, e.g. 60+1; a persona out of time loses",
                    "milliseconds for every move");
  add_engine_timeout_option(cmd, plan.settings);
  cmd->add_option("--max-plies", plan.max_plies, "stop a game unfinished after this many plies")
      ->check(CLI::Range(0, 100000));
  cmd->add_flag("--verbose", plan.verbose, "show the personas' own messages on standard error");
  cmd->callback([o] {
    o->plan.clock = o->clock.clock;
    o->plan.movetime = o->clock.movetime;
    o->plan.pgn_file = o->pgn.file;
    o->plan.pgn_mode = o->pgn.mode();
    run_match(o->plan, std::cout, std::cerr);
  });
}

}  // namespace ai_players::app
