// ai-players tournament, ratings, and the hidden game command that plays one
// tournament game in a process of its own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "ai_players/host/common.h"
#include "cli_options.h"
#include "commands.h"
#include "engine_judge.h"
#include "library_output.h"
#include "persona_factory.h"
#include "persona_mover.h"
#include "pgn_reader.h"
#include "rating_report.h"
#include "tournament.h"

extern char** environ;

namespace ai_players::app {
namespace {

// What the game command needs besides the players: shared by both commands.
struct GameOptions {
  std::string event = "ai-players tournament", site = "?";
  int max_plies = 0;
  bool adjudicate = false;
  std::string tc;
  std::optional<std::string> timeout_text;
  PersonaSettings settings;
};

void add_game_options(CLI::App* cmd, GameOptions& options) {
  cmd->add_option("--event", options.event, "the PGN Event tag");
  cmd->add_option("--site", options.site, "the PGN Site tag");
  cmd->add_option("--max-plies", options.max_plies,
                  "a game still going after this many plies (the opening's included) is drawn by adjudication")
      ->check(CLI::NonNegativeNumber);
  const AdjudicationRule rule;
  cmd->add_flag("--adjudicate", options.adjudicate,
                fmt::format("let Stockfish at depth {} end games: a win after {} plies in a row beyond {:g} pawns, a "
                            "draw after {} plies in a row within {:g} pawns once ply {} is reached",
                            rule.depth, rule.win_plies, rule.win_cp / 100.0, rule.draw_plies, rule.draw_cp / 100.0,
                            rule.draw_from_ply));
  cmd->add_option("--tc", options.tc, "a clock for each side: base seconds + increment, e.g. 60+1");
  cmd->add_option_function<std::string>(
         "--engine-timeout", [&options](const std::string& text) { options.timeout_text = text; },
         "seconds a search may run before the engine is told to stop; 0: no limit")
      ->type_name("SECONDS");
}

std::optional<TimeControl> clock_of(const GameOptions& options) {
  if (options.tc.empty()) return std::nullopt;
  return parse_time_control(options.tc);
}

// ---- one game, in this process ----

struct OneGame {
  GameOptions common;
  std::string white, black, round = "?", fen, moves, opening_name;
  std::optional<std::uint64_t> seed;
};

void run_one_game(OneGame& options) {
  if (options.common.timeout_text) options.common.settings.engine_timeout = parse_seconds(*options.common.timeout_text);
  GameTerms terms;
  terms.event = options.common.event;
  terms.site = options.common.site;
  terms.round = options.round;
  terms.white = canonical_persona_name(options.white);
  terms.black = canonical_persona_name(options.black);
  if (auto elo = roster_strength(terms.white)) terms.white_elo = std::to_string(*elo);
  if (auto elo = roster_strength(terms.black)) terms.black_elo = std::to_string(*elo);
  terms.opening.name = options.opening_name;
  terms.opening.fen = options.fen.empty() ? std::string(common::FEN_New_Game) : options.fen;
  std::istringstream moves(options.moves);
  for (std::string m; moves >> m;) terms.opening.moves.push_back(m);
  terms.max_plies = options.common.max_plies;
  terms.clock = clock_of(options.common);
  terms.seed = seed_or_random(options.seed);
  ai_players::seed(terms.seed);

  LibraryOutput output(false);
  PersonaPlayer white{terms.white, start_persona(terms.white, output, options.common.settings)};
  PersonaPlayer black{terms.black, start_persona(terms.black, output, options.common.settings)};
  std::unique_ptr<EngineJudge> judge_engine;
  Judge judge;
  const AdjudicationRule rule;
  if (options.common.adjudicate) {
    const auto engine = engine_config(options.common.settings, false).path;
    if (!engine) throw std::runtime_error("--adjudicate needs an engine, and none was found");
    judge_engine = std::make_unique<EngineJudge>(*engine, rule.depth);
    judge = [&judge_engine](const std::string& fen, const board::MoveList& moves) {
      return judge_engine->evaluate(fen, moves);
    };
  }
  // Fallbacks and failures are in the PGN comments; nothing to announce here.
  const PgnGame pgn =
      play_tournament_game(terms, persona_mover(white, {}), persona_mover(black, {}), judge, rule);
  std::cout << to_pgn(pgn) << std::flush;
}

// ---- the tournament ----

struct TournamentOptions {
  std::vector<std::string> names;
  std::string format = "round-robin";
  int rounds = 1;
  int concurrency = 1;
  std::string openings_file;
  std::string shard = "1/1";
  std::optional<std::uint64_t> seed;
  std::string pgn_file;
  std::string anchor;
  GameOptions common;
};

struct Finished {
  bool done = false;
  std::string pgn;
  std::string result;
};

// Runs this program's game command and returns what it printed; throws when it fails.
std::string spawn_game(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe for a game");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (error != 0) {
    ::close(fds[0]);
    throw std::runtime_error(fmt::format("cannot start a game process: {}", std::strerror(error)));
  }
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(fmt::format("the game process '{}' failed", fmt::join(args, " ")));
  return out;
}

std::vector<std::string> game_arguments(const TournamentOptions& options, const ScheduledGame& game,
                                        const Opening& opening) {
  std::vector<std::string> args{"ai-players", "game",    "--white", game.white, "--black", game.black,
                                "--seed",     std::to_string(game.seed), "--round", std::to_string(game.round),
                                "--event",    options.common.event, "--site", options.common.site,
                                "--fen",      opening.fen};
  std::string moves;
  for (const auto& m : opening.moves) moves += (moves.empty() ? "" : " ") + m;
  if (!moves.empty()) args.insert(args.end(), {"--moves", moves});
  if (!opening.name.empty()) args.insert(args.end(), {"--opening-name", opening.name});
  if (options.common.max_plies) args.insert(args.end(), {"--max-plies", std::to_string(options.common.max_plies)});
  if (options.common.adjudicate) args.push_back("--adjudicate");
  if (!options.common.tc.empty()) args.insert(args.end(), {"--tc", options.common.tc});
  if (options.common.timeout_text) args.insert(args.end(), {"--engine-timeout", *options.common.timeout_text});
  return args;
}

// Points and games per player as the games come in.
struct Standings {
  std::vector<std::string> names;
  std::map<std::string, std::pair<double, int>> score;
  void add(const std::string& white, const std::string& black, const std::string& result) {
    const auto points = white_points(result);
    if (!points) return;
    score[white].first += *points;
    score[white].second += 1;
    score[black].first += 1 - *points;
    score[black].second += 1;
  }
  std::string line(std::size_t limit) const {
    std::vector<std::string> order = names;
    std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
      const auto& x = score.count(a) ? score.at(a) : std::pair<double, int>{};
      const auto& y = score.count(b) ? score.at(b) : std::pair<double, int>{};
      return x.first * std::max(y.second, 1) > y.first * std::max(x.second, 1);
    });
    std::string out;
    for (const auto& name : order) {
      const auto s = score.count(name) ? score.at(name) : std::pair<double, int>{};
      const std::string item = fmt::format("{} {:g}/{}", name, s.first, s.second);
      if (out.size() + item.size() + 2 > limit) return out + " ...";
      out += (out.empty() ? "" : "  ") + item;
    }
    return out;
  }
};

void run_tournament(TournamentOptions& options) {
  if (options.common.timeout_text) parse_seconds(*options.common.timeout_text);  // say a bad value now
  clock_of(options.common);
  std::vector<std::string> names;
  for (const std::string& n : options.names) {
    const std::string canonical = canonical_persona_name(n);
    if (std::find(names.begin(), names.end(), canonical) != names.end())
      throw std::runtime_error(fmt::format("{} is named twice", canonical));
    names.push_back(canonical);
  }
  const auto format = options.format == "gauntlet" ? TournamentFormat::Gauntlet : TournamentFormat::RoundRobin;
  const std::vector<Opening> openings = read_openings_file(
      options.openings_file.empty() ? default_openings_path() : options.openings_file);
  const std::uint64_t seed = seed_or_random(options.seed);
  const Shard shard = parse_shard(options.shard);
  const auto all = schedule_games(names, format, options.rounds, openings.size(), seed);
  const auto games = shard_of(all, shard);

  std::ofstream pgn_out;
  if (!options.pgn_file.empty()) {
    pgn_out.open(options.pgn_file);
    if (!pgn_out) throw std::runtime_error(fmt::format("cannot write the PGN file '{}'", options.pgn_file));
  }
  std::cerr << fmt::format("{} {}: {} players, {} openings, {} games{}, seed {}, {} at a time\n", options.format,
                           fmt::join(names, ", "), names.size(), openings.size(), games.size(),
                           shard.n > 1 ? fmt::format(" (shard {}/{} of {})", shard.k, shard.n, all.size()) : "",
                           seed, options.concurrency);

  std::mutex mutex;
  std::vector<Finished> finished(games.size());
  std::size_t written = 0;
  int done = 0;
  Standings standings{names, {}};
  std::string failure;
  std::atomic<std::size_t> next{0};
  static const bool terminal = ::isatty(STDERR_FILENO) == 1;
  auto worker = [&] {
    for (;;) {
      const std::size_t i = next++;
      if (i >= games.size()) return;
      {
        std::lock_guard lock(mutex);
        if (!failure.empty()) return;
      }
      const ScheduledGame& game = games[i];
      std::string pgn, problem;
      std::vector<PgnRecord> records;
      try {
        pgn = spawn_game(game_arguments(options, game, openings[game.opening]));
        std::istringstream in(pgn);
        records = read_pgn(in);
        if (records.size() != 1) problem = fmt::format("game {} gave no PGN", game.index + 1);
      } catch (const std::exception& e) {
        problem = e.what();
      }
      std::lock_guard lock(mutex);
      if (!problem.empty()) {
        if (failure.empty()) failure = problem;
        return;
      }
      finished[i] = Finished{true, pgn, records[0].result};
      standings.add(game.white, game.black, records[0].result);
      ++done;
      while (written < finished.size() && finished[written].done) {
        if (pgn_out) pgn_out << finished[written].pgn << std::flush;
        ++written;
      }
      constexpr int width = 20;
      const int filled = done * width / static_cast<int>(games.size());
      std::cerr << fmt::format("{}[{}{}] {}/{}  {}", terminal ? "\r\033[K" : "", std::string(filled, '#'),
                               std::string(width - filled, '-'), done, games.size(), standings.line(terminal ? 50 : 400));
      if (!terminal || done == static_cast<int>(games.size())) std::cerr << '\n';
      std::cerr << std::flush;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < options.concurrency; ++t) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  if (!failure.empty()) throw std::runtime_error(failure);

  std::vector<GameScore> scores;
  int unfinished = 0;
  for (std::size_t i = 0; i < games.size(); ++i) {
    if (auto points = white_points(finished[i].result)) scores.push_back({games[i].white, games[i].black, *points});
    else ++unfinished;
  }
  std::cout << fmt::format("{} games, seed {}{}{}\n", games.size(), seed,
                           shard.n > 1 ? fmt::format(", shard {}/{}", shard.k, shard.n) : "",
                           unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : "");
  std::string why = "given with --anchor";
  const Anchor anchor = options.anchor.empty() ? default_anchor(names, why) : parse_anchor(options.anchor);
  std::cout << format_rating_table(fit_ratings(scores, anchor), why);
  if (pgn_out) std::cout << fmt::format("PGN written to {}\n", options.pgn_file);
}

// ---- ratings from PGN files ----

struct RatingsOptions {
  std::vector<std::string> files;
  std::string anchor;
};

void run_ratings(const RatingsOptions& options) {
  std::vector<GameScore> scores;
  int unfinished = 0, total = 0;
  for (const std::string& file : options.files) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error(fmt::format("cannot read '{}'", file));
    std::vector<PgnRecord> records;
    try {
      records = read_pgn(in);
    } catch (const PgnError& e) {
      throw std::runtime_error(fmt::format("{}: {}", file, e.what()));
    }
    total += static_cast<int>(records.size());
    for (const GameScore& g : scores_from_pgn(records, unfinished)) scores.push_back(g);
  }
  std::cout << fmt::format("{} games from {} file{}{}\n", total, options.files.size(),
                           options.files.size() == 1 ? "" : "s",
                           unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : "");
  std::string why = "given with --anchor";
  Anchor anchor;
  if (options.anchor.empty()) {
    anchor = default_anchor(players_of(scores), why);
  } else {
    anchor = parse_anchor(options.anchor);
    // Let the anchor's name be typed in any case.
    for (const std::string& p : players_of(scores))
      if (p.size() == anchor.name.size() &&
          std::equal(p.begin(), p.end(), anchor.name.begin(),
                     [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); }))
        anchor.name = p;
  }
  std::cout << format_rating_table(fit_ratings(scores, anchor), why);
}

}  // namespace

void add_tournament_commands(CLI::App& app) {
  auto options = std::make_shared<TournamentOptions>();
  CLI::App* cmd = app.add_subcommand("tournament", "play a tournament between personas and rate them all");
  cmd->add_option("names", options->names, "the personas (HOUD20c:N for the engine at strength N)")
      ->required()
      ->expected(2, -1);
  cmd->add_option("--format", options->format, "round-robin (default) or gauntlet (the first against each other)")
      ->check(CLI::IsMember({"round-robin", "gauntlet"}));
  cmd->add_option("--rounds", options->rounds,
                  "rounds; in each, every pairing plays one opening with both colours")
      ->check(CLI::Range(1, 100000));
  cmd->add_option("--concurrency", options->concurrency, "games at once, each in a process of its own")
      ->check(CLI::Range(1, 256));
  cmd->add_option("--openings", options->openings_file,
                  "start positions: EPD, or PGN games whose moves are played first; default: the shipped suite");
  cmd->add_option("--shard", options->shard, "play only the K-th of N slices of the games, e.g. 3/10");
  add_seed_option(cmd, options->seed, "fixes who plays what and every game; printed when drawn");
  cmd->add_option("--pgn", options->pgn_file, "write the games to this PGN file");
  cmd->add_option("--anchor", options->anchor,
                  "NAME=ELO: the rating fixed; default: the first HOUD20c:N at N, else the first name at its "
                  "roster strength");
  add_game_options(cmd, options->common);
  cmd->callback([options] { run_tournament(*options); });

  auto ratings = std::make_shared<RatingsOptions>();
  CLI::App* rcmd = app.add_subcommand("ratings", "rate the players of PGN files by maximum likelihood");
  rcmd->add_option("files", ratings->files, "PGN files (shards of one tournament, or any games)")
      ->required()
      ->expected(1, -1);
  rcmd->add_option("--anchor", ratings->anchor,
                   "NAME=ELO: the rating fixed; default: the first HOUD20c:N at N, else the first player at its "
                   "roster strength (or 0)");
  rcmd->callback([ratings] { run_ratings(*ratings); });

  auto game = std::make_shared<OneGame>();
  CLI::App* gcmd = app.add_subcommand("game", "play one tournament game and print its PGN");
  gcmd->group("");  // the tournament's own worker, not for people
  gcmd->add_option("--white", game->white)->required();
  gcmd->add_option("--black", game->black)->required();
  add_seed_option(gcmd, game->seed, "seed of the game");
  gcmd->add_option("--round", game->round);
  gcmd->add_option("--fen", game->fen);
  gcmd->add_option("--moves", game->moves);
  gcmd->add_option("--opening-name", game->opening_name);
  add_game_options(gcmd, game->common);
  gcmd->callback([game] { run_one_game(*game); });
}

}  // namespace ai_players::app
