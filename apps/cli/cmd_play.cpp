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
#include "games_db/player_rating.h"
#include "review/review.h"
#include "review/review_engine.h"
#include "review/review_run.h"
#include "review/review_text.h"
#include "terminal/board_view.h"
#include "terminal/terminal_play.h"

namespace ai_players::app {
namespace {

// The 'review' command: the game judged as `ai-players review` judges it
// (its depth, an engine per core), marks and all, with progress meanwhile.
std::string review_text(HumanGame& game, const PersonaSettings& settings) {
  const PgnGame pgn = game.pgn("ai-players play", "?");
  const GameReview r = review_game(
      1, pgn, engine_judges(engine_config(settings, false), settings.engine_timeout, kReviewDepth),
      default_review_jobs(), kReviewDepth, [marks = ReviewMarks{}](const ReviewStep& step) mutable {
        std::cerr << "\r" << marks.line(step, 79) << (step.done == step.total ? "\n" : "") << std::flush;
      });
  return summary_text(r) + '\n' + moves_text(r);
}

// The persona `games` suggests, said; from the stored games when there are any.
std::string suggested_persona(const std::optional<std::string>& db, std::ostream& out) {
  std::vector<StoredGame> games;
  if (db) {
    try {
      games = GameStore(*db).games();
    } catch (const StoreError&) {
      // said once the game starts, by the session that keeps it
    }
  }
  const PlayerStanding standing = rate_player(games, measured_ratings());
  const auto next = suggest_opponent(standing.rating ? standing.rating->rating : kNewPlayerRating, 0.5, measured_ratings());
  if (!next) throw UserError("no persona has a measured rating to suggest; --persona names one");
  out << wrapped(suggestion_text(*next, standing)) << '\n';
  return next->name;
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
    PgnOptions pgn;
    DbOptions db;
    bool instant = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand("play", "play a persona in the terminal");
  cmd->add_option("--persona", o->play.game.persona,
                  "your opponent ('ai-players list' shows them); default: the one 'ai-players games' suggests");
  cmd->add_option("--color,--colour", o->color, "your colour: white or black")
      ->transform(CLI::IsMember({"white", "black"}, CLI::ignore_case));
  add_fen_option(cmd, o->play.game.start_fen, "start position (FEN)");
  add_pgn_options(cmd, o->pgn, "save the games to this PGN file, each when it ends or you leave",
                  "add the games to those --pgn already holds");
  add_seed_option(cmd, o->seed, "seed of the persona's random draws");
  add_clock_options(cmd, o->clock,
                    "a clock for each side, yours too: base minutes + increment seconds, e.g. 5+3 (or 90s+1, 3:00+2)",
                    fmt::format("milliseconds the persona may think per move (default {}; 0: no limit)",
                                kDefaultThinkLimit.count()),
                    true, PlainBase::Minutes);
  add_engine_timeout_option(cmd, o->play.game.settings);
  cmd->add_flag("!--no-preview", o->play.game.preview, "do not judge your moves with Verevovera");
  cmd->add_flag("--instant", o->instant, "the persona plays as soon as it has chosen, not at a person's pace");
  add_db_options(cmd, o->db);
  cmd->add_flag("--verbose", o->play.verbose, "show the personas' own messages on standard error");
  cmd->callback([o] {
    const std::uint64_t seed = seed_or_random(o->seed);
    ai_players::seed(seed);
    TerminalPlay play = o->play;
    play.game.human_pace = !o->instant;
    play.game.pace_seed = pace_seed(seed);
    play.pgn_file = o->pgn.file;
    play.pgn_mode = o->pgn.mode();
    play.game.human_side = o->color == "white" ? common::WHITE : common::BLACK;
    play.game.clock = o->clock.clock;
    play.game.think_limit = o->clock.think_limit(kDefaultThinkLimit);
    play.live = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    try {
      play.db = o->db.chosen();
    } catch (const StoreError& e) {
      std::cout << e.what() << '\n';
    }
    if (play.game.persona.empty()) play.game.persona = suggested_persona(play.db, std::cout);
    play.review = [settings = play.game.settings](HumanGame& game) { return review_text(game, settings); };
    run_play(std::move(play));
  });
}

}  // namespace ai_players::app
