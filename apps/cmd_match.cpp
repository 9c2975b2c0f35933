// ai-players match: games between two personas, with PGN and an Elo estimate.
#include <cmath>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "commands.h"
#include "game.h"
#include "cli_options.h"
#include "library_output.h"
#include "match_stats.h"
#include "persona_factory.h"
#include "persona_mover.h"
#include "pgn.h"
#include "start_position.h"

namespace ai_players::app {
namespace {

struct MatchOptions {
  std::string white, black;
  int games = 1;
  std::string fen;
  std::string pgn_file;
  std::optional<std::uint64_t> seed;
  int max_plies = 0;
  bool verbose = false;
  std::string tc;
  long long movetime_ms = 0;
  PersonaSettings settings;
};

using Player = PersonaPlayer;

// Writes the moves of a game as they are played, wrapped like PGN move text.
class MovePrinter {
 public:
  void operator()(const PlayedGame& game) {
    const std::size_t i = game.san.size() - 1;
    put(pgn_move_unit(game.start_fen, i, game.san[i]));
    if (!game.comments[i].empty()) put(pgn_comment(game.comments[i]));
  }
  void put(const std::string& unit) {
    if (column_ > 0 && column_ + 1 + unit.size() > 80) {
      std::cout << '\n';
      column_ = 0;
    }
    std::cout << (column_ > 0 ? " " : "") << unit << std::flush;
    column_ += (column_ > 0 ? 1 : 0) + unit.size();
  }
  void abandon() {
    if (column_ > 0) std::cout << std::endl;
    column_ = 0;
  }
  void finish(const PlayedGame& game) {
    if (column_ > 0) std::cout << '\n';
    std::cout << fmt::format("{} ({})\n", game.outcome.result, game.outcome.termination);
    if (!game.final_comment.empty()) std::cout << game.final_comment << '\n';
  }

 private:
  std::size_t column_ = 0;
};

void show_progress(int done, int total, const Player& first, const Player& second, const Tally& tally) {
  constexpr int width = 30;
  const int filled = done * width / total;
  // On a terminal the bar redraws in place; elsewhere (a log file) each state gets its own line.
  static const bool terminal = ::isatty(STDERR_FILENO) == 1;
  std::cerr << fmt::format("{}[{}{}] {}/{}  {} {:g} - {:g} {}", terminal ? "\r" : "", std::string(filled, '#'),
                           std::string(width - filled, '-'), done, total, first.name, tally.points(),
                           tally.scored_games() - tally.points(), second.name);
  if (!terminal || done == total) std::cerr << '\n';
  std::cerr << std::flush;
}

PgnGame pgn_record(const PlayedGame& game, const Player& white, const Player& black, int round,
                   const std::optional<TimeControl>& clock) {
  PgnGame pgn;
  pgn.event = "ai-players match";
  pgn.date = pgn_date_today();
  pgn.round = std::to_string(round);
  pgn.white = white.name;
  pgn.black = black.name;
  pgn.result = game.outcome.result;
  if (game.start_fen != common::FEN_New_Game) pgn.fen = game.start_fen;
  pgn.termination = pgn_termination(game.outcome.termination);
  pgn.more_tags = {{"WhiteElo", fmt::format("{:.0f}", white.persona->ELO.value())},
                   {"BlackElo", fmt::format("{:.0f}", black.persona->ELO.value())}};
  if (clock) pgn.more_tags.emplace_back("TimeControl", clock->pgn());
  pgn.san = game.san;
  pgn.comments = game.comments;
  pgn.final_comment = game.final_comment;
  if (pgn.final_comment.empty() && pgn.termination == "normal") pgn.final_comment = game.outcome.termination;
  return pgn;
}

void print_summary(const Player& first, const Player& second, int games, std::uint64_t seed,
                   const Tally& tally, const std::map<std::string, int>& terminations) {
  std::cout << fmt::format("\n{} vs {}: {} game{}, seed {}\n", first.name, second.name, games,
                           games == 1 ? "" : "s", seed);
  std::cout << fmt::format("{}: {} win{}, {} draw{}, {} loss{}", first.name, tally.wins,
                           tally.wins == 1 ? "" : "s", tally.draws, tally.draws == 1 ? "" : "s",
                           tally.losses, tally.losses == 1 ? "" : "es");
  if (tally.unfinished) std::cout << fmt::format(" ({} unfinished, not scored)", tally.unfinished);
  std::cout << '\n';
  if (tally.scored_games()) {
    std::cout << fmt::format("Score: {:g}/{} ({:.1f} %)\n", tally.points(), tally.scored_games(),
                             100 * tally.score());
    const EloEstimate elo = estimate_elo(tally);
    if (std::isinf(elo.difference))
      std::cout << fmt::format("Elo difference: {} (a {} score gives no finite estimate)\n", format_elo(elo),
                               elo.difference > 0 ? "perfect" : "zero");
    else
      std::cout << fmt::format("Elo difference: {} (95 % confidence)\n", format_elo(elo));
  }
  std::string ends;
  for (const auto& [why, count] : terminations) ends += fmt::format("{}{} {}", ends.empty() ? "" : ", ", why, count);
  std::cout << "Endings: " << ends << '\n';
  for (const Player* p : {&first, &second}) {
    if (p->fallbacks)
      std::cout << fmt::format("{}: {} fallback move{} in {} game{}\n", p->name, p->fallbacks,
                               p->fallbacks == 1 ? "" : "s", games, games == 1 ? "" : "s");
    if (p->engine_restarts)
      std::cout << fmt::format("{}: its engine was restarted {} time{}\n", p->name, p->engine_restarts,
                               p->engine_restarts == 1 ? "" : "s");
    if (p->failed_games)
      std::cout << fmt::format("{}: could not finish {} game{} (abandoned, not scored)\n", p->name,
                               p->failed_games, p->failed_games == 1 ? "" : "s");
  }
}

void run_match(const MatchOptions& options) {
  const std::string start_fen = checked_start_fen(options.fen);
  Player first{canonical_persona_name(options.white), nullptr};
  Player second{canonical_persona_name(options.black), nullptr};
  const std::uint64_t seed = seed_or_random(options.seed);
  ai_players::seed(seed);
  std::optional<TimeControl> clock;
  if (!options.tc.empty()) clock = parse_time_control(options.tc);

  std::ofstream pgn_out;
  if (!options.pgn_file.empty()) {
    pgn_out.open(options.pgn_file);
    if (!pgn_out) throw std::runtime_error(fmt::format("cannot write the PGN file '{}'", options.pgn_file));
  }

  LibraryOutput output(options.verbose);
  first.persona = start_persona(first.name, output, options.settings);
  second.persona = start_persona(second.name, output, options.settings);
  const bool single = options.games == 1;
  const auto announce = [single](const std::string& note) {
    if (!single) std::cerr << '\n' << note << '\n';  // a single game shows it in its move list
  };

  Tally tally;
  std::map<std::string, int> terminations;
  for (int i = 0; i < options.games; ++i) {
    const bool first_is_white = i % 2 == 0;
    Player& white = first_is_white ? first : second;
    Player& black = first_is_white ? second : first;
    start_new_game(*white.persona);
    start_new_game(*black.persona);
    MovePrinter printer;
    if (options.games == 1) std::cout << fmt::format("{} (white) vs {} (black)\n", white.name, black.name);
    PlayedGame game;
    GameSetup setup{start_fen, options.max_plies, clock, std::nullopt};
    if (options.movetime_ms > 0) setup.fixed_movetime = std::chrono::milliseconds(options.movetime_ms);
    try {
      game = play_game(persona_mover(white, announce), persona_mover(black, announce), setup,
                       options.games == 1 ? MoveObserver(std::ref(printer)) : MoveObserver());
    } catch (...) {
      printer.abandon();
      if (options.games > 1) std::cerr << '\n';  // off the progress bar's line
      throw;
    }
    if (options.games == 1) printer.finish(game);

    tally.add(game.outcome.result, first_is_white);
    ++terminations[game.outcome.termination];
    if (pgn_out) pgn_out << to_pgn(pgn_record(game, white, black, i + 1, clock)) << std::flush;
    if (options.games > 1) show_progress(i + 1, options.games, first, second, tally);
  }
  print_summary(first, second, options.games, seed, tally, terminations);
  if (pgn_out) std::cout << fmt::format("PGN written to {}\n", options.pgn_file);
}

}  // namespace

void add_match_command(CLI::App& app) {
  auto options = std::make_shared<MatchOptions>();
  CLI::App* cmd = app.add_subcommand("match", "play games between two personas");
  cmd->add_option("--white", options->white, "persona with White in the first game")->required();
  cmd->add_option("--black", options->black, "persona with Black in the first game")->required();
  cmd->add_option("--games", options->games, "number of games; colours alternate")
      ->check(CLI::Range(1, 1000000));
  cmd->add_option("--fen", options->fen, "start position (FEN) of every game");
  cmd->add_option("--pgn", options->pgn_file, "write the games to this PGN file");
  add_seed_option(cmd, options->seed, "seed of the random draws, for a repeatable match");
  add_clock_options(cmd, options->tc, options->movetime_ms,
                    "a clock for each side: base seconds + increment, e.g. 60+1; a persona out of time loses",
                    "milliseconds for every move");
  add_engine_timeout_option(cmd, options->settings);
  cmd->add_option("--max-plies", options->max_plies, "stop a game unfinished after this many plies")
      ->check(CLI::NonNegativeNumber);
  cmd->add_flag("--verbose", options->verbose, "show the personas' own messages on standard error");
  cmd->callback([options] { run_match(*options); });
}

}  // namespace ai_players::app
