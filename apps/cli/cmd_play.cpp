// ai-players play: a human plays a persona in the terminal.
#include <unistd.h>

#include <iostream>
#include <memory>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "game/numbers.h"
#include "review/review.h"
#include "terminal/terminal_play.h"

namespace ai_players::app {
namespace {

// The 'review' command: every move judged by the game's adviser, as `review` prints it.
std::string review_text(HumanGame& game) {
  const PgnGame pgn = game.pgn("ai-players play", "?");
  const int depth = game.preview_depth();
  const GameReview r = game.with_adviser([&](Verevovera& adviser) {
    return review_game(
        1, pgn,
        [&](const board::MoveList& history, const board::Move& move, const board::MoveList& legal,
            const std::string& fen) { return adviser.Ask_For_Preview(history, move, legal, fen, depth); },
        depth);
  });
  return summary_text(r);
}

void run_play(TerminalPlay play) {
  // Ctrl-C and SIGTERM end the game as if the person left: the PGN is saved.
  LineInput* input = nullptr;
  std::mutex input_mutex;
  const StopSignals signals([&](int) {
    const std::lock_guard lock(input_mutex);
    if (input) input->interrupt();
  });
  LineInput lines(std::cin);
  {
    const std::lock_guard lock(input_mutex);
    input = &lines;
    if (signals.received()) lines.interrupt();
  }
  play_in_terminal(play, lines, std::cout);
  {
    const std::lock_guard lock(input_mutex);
    input = nullptr;
  }
  if (signals.received()) throw CLI::RuntimeError(128 + signals.received());
}

}  // namespace

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
  cmd->add_option("--pgn", o->play.pgn_file, "save the games to this PGN file when they end or you leave");
  add_seed_option(cmd, o->seed, "seed of the persona's random draws");
  add_clock_options(cmd, o->clock, "a clock for each side, yours too: base seconds + increment, e.g. 300+5",
                    fmt::format("milliseconds the persona may think per move (default {}; 0: no limit)",
                                kDefaultThinkLimit.count()),
                    true);
  add_engine_timeout_option(cmd, o->play.game.settings);
  cmd->add_flag("!--no-preview", o->play.game.preview, "do not judge your moves with Verevovera");
  cmd->add_flag("--verbose", o->play.verbose, "show the personas' own messages on standard error");
  cmd->callback([o] {
    ai_players::seed(seed_or_random(o->seed));
    TerminalPlay play = o->play;
    play.game.human_side = o->color == "white" ? common::WHITE : common::BLACK;
    play.game.clock = o->clock.clock;
    play.game.think_limit = o->clock.think_limit(kDefaultThinkLimit);
    play.live = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    play.review = review_text;
    run_play(std::move(play));
  });
}

}  // namespace ai_players::app
