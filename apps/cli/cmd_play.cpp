// ai-players play: a human plays a persona in the terminal.
#include <iostream>
#include <memory>

#include "ai_players/core/random.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "game/numbers.h"
#include "terminal/terminal_play.h"

namespace ai_players::app {

void add_play_command(CLI::App& app) {
  struct Options {
    TerminalPlay play;
    std::string color = "white";
    std::optional<std::uint64_t> seed;
    ClockOptions clock;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand("play", "play a persona in the terminal");
  cmd->add_option("--persona", o->play.game.persona, "your opponent ('ai-players list' shows them)")->required();
  cmd->add_option("--color", o->color, "your colour")->check(CLI::IsMember({"white", "black"}));
  add_fen_option(cmd, o->play.game.start_fen, "start position (FEN)");
  cmd->add_option("--pgn", o->play.pgn_file, "save the game to this PGN file when it ends or you quit");
  add_seed_option(cmd, o->seed, "seed of the persona's random draws");
  add_clock_options(cmd, o->clock, "a clock for each side: base seconds + increment, e.g. 60+1",
                    "milliseconds the persona may think per move");
  add_engine_timeout_option(cmd, o->play.game.settings);
  cmd->add_flag("!--no-preview", o->play.game.preview, "do not judge your moves with Verevovera");
  cmd->add_flag("--verbose", o->play.verbose, "show the personas' own messages on standard error");
  cmd->callback([o] {
    ai_players::seed(seed_or_random(o->seed));
    o->play.game.human_side = o->color == "white" ? common::WHITE : common::BLACK;
    o->play.game.clock = o->clock.clock;
    o->play.game.think_limit = o->clock.movetime;
    play_in_terminal(o->play, std::cin, std::cout);
  });
}

}  // namespace ai_players::app
