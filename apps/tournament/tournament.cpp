#include "tournament/tournament.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "game/numbers.h"
#include "pgn/pgn_reader.h"
#include "players/persona_factory.h"
#include "tournament/progress.h"
#include "tournament/rating_report.h"
#include "tournament/worker_pool.h"

namespace ai_players::app {
namespace {

std::vector<std::string> checked_names(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& n : names) {
    const std::string canonical = playable_persona_name(n);
    if (std::find(out.begin(), out.end(), canonical) != out.end())
      throw UserError(fmt::format("{} is named twice", canonical));
    out.push_back(canonical);
  }
  return out;
}

// "2.17": the round, and the game's number in the whole tournament, so that a
// game written out of order (or kept by --resume) says where it belongs.
std::string round_tag(const ScheduledGame& g) { return fmt::format("{}.{}", g.round, g.index + 1); }

std::vector<PgnGame> read_games(const std::string& file, std::ostream& log) {
  std::ifstream in(file);
  if (!in) throw UserError(fmt::format("cannot read {}", quoted_excerpt(file, 100)));
  std::vector<std::string> problems;
  auto games = read_pgn(in, &problems);
  for (const auto& p : problems) log << fmt::format("{}: {}; game skipped\n", file, p);
  return games;
}

// The games of an earlier run of this tournament, by their index.
std::map<int, PgnGame> kept_games(const TournamentPlan& plan, const std::vector<ScheduledGame>& games,
                                  std::ostream& log) {
  std::map<int, PgnGame> kept;
  if (!plan.resume || plan.pgn_file.empty() || !std::filesystem::exists(plan.pgn_file)) return kept;
  for (PgnGame& pgn : read_games(plan.pgn_file, log)) {
    const ScheduledGame* match = nullptr;
    for (const auto& g : games)
      if (round_tag(g) == pgn.tag("Round")) match = &g;
    if (!match || match->white != pgn.tag("White") || match->black != pgn.tag("Black"))
      throw UserError(fmt::format("{} holds a game ({} vs {}, round {}) that is not in this tournament; resume with "
                                  "the names, rounds, openings and --seed it was started with",
                                  plan.pgn_file, pgn.tag("White"), pgn.tag("Black"), pgn.tag("Round")));
    if (white_points(pgn.result)) kept[match->index] = std::move(pgn);
  }
  return kept;
}

std::ofstream open_output(const TournamentPlan& plan) {
  std::ofstream out;
  if (plan.pgn_file.empty()) return out;
  std::error_code ec;
  if (!plan.resume && std::filesystem::file_size(plan.pgn_file, ec) > 0 && !ec)
    throw UserError(fmt::format("{} already holds games; give --resume to keep them and play the rest, or name "
                                "another file",
                                plan.pgn_file));
  out.open(plan.pgn_file, std::ios::app);
  if (!out) throw UserError(fmt::format("cannot write the PGN file {}", quoted_excerpt(plan.pgn_file, 100)));
  return out;
}

Anchor anchor_of(const std::optional<Anchor>& given, const std::vector<std::string>& players, std::string& why) {
  if (!given) return default_anchor(players, why);
  why = "given with --anchor";
  Anchor anchor = *given;
  for (const std::string& p : players)  // its name may be typed in any case
    if (lower(p) == lower(anchor.name)) anchor.name = p;
  return anchor;
}

}  // namespace

void run_tournament(const TournamentPlan& plan, std::ostream& out, std::ostream& log) {
  const std::vector<std::string> names = checked_names(plan.names);
  if (plan.anchor && std::none_of(names.begin(), names.end(), [&](const auto& n) { return lower(n) == lower(plan.anchor->name); }))
    throw UserError(fmt::format("the anchor {} plays in none of the games", plan.anchor->name));
  const std::vector<Opening> openings =
      read_openings_file(plan.openings_file.empty() ? default_openings_path() : plan.openings_file);
  const std::uint64_t seed = seed_or_random(plan.seed);
  const auto all = schedule_games(names, plan.format, plan.rounds, openings.size(), seed);
  const auto games = shard_of(all, plan.shard);
  if (plan.resume && !plan.seed) throw UserError("--resume needs the --seed the tournament was started with");
  std::map<int, PgnGame> kept = kept_games(plan, games, log);
  std::ofstream pgn_out = open_output(plan);

  std::vector<GameTerms> terms;
  std::vector<const ScheduledGame*> todo;
  for (const ScheduledGame& g : games) {
    if (kept.count(g.index)) continue;
    GameTerms t = plan.terms;
    t.round = round_tag(g);
    t.white = g.white;
    t.black = g.black;
    t.opening = openings[g.opening];
    t.seed = g.seed;
    terms.push_back(std::move(t));
    todo.push_back(&g);
  }
  log << fmt::format("{} {}: {} players, {} openings, {} games{}{}, seed {}, {} at a time\n",
                     plan.format == TournamentFormat::Gauntlet ? "gauntlet" : "round-robin", fmt::join(names, ", "),
                     names.size(), openings.size(), games.size(),
                     plan.shard.n > 1 ? fmt::format(" (shard {}/{} of {})", plan.shard.k, plan.shard.n, all.size()) : "",
                     kept.empty() ? "" : fmt::format(", {} kept from {}", kept.size(), plan.pgn_file), seed,
                     plan.concurrency);

  TournamentLog progress(log, names, terms.size());
  std::vector<std::string> failures;
  std::atomic<bool> stop{false};
  const auto patience = plan.terms.settings.engine_timeout
                            ? std::optional(2 * *plan.terms.settings.engine_timeout + std::chrono::seconds(5))
                            : std::nullopt;
  play_games(terms, plan.concurrency, patience, [&](const FinishedGame& done) {
    const ScheduledGame& g = *todo[done.index];
    if (!done.error.empty()) {
      progress.failed(g, done.error);
      failures.push_back(done.error);
      return;
    }
    std::istringstream in(done.pgn);
    auto read = read_pgn(in);
    if (read.size() != 1) return progress.failed(g, "its PGN could not be read back");
    if (pgn_out) pgn_out << done.pgn << std::flush;
    progress.finished(g, read.front());
    kept[g.index] = std::move(read.front());
  }, stop);

  if (kept.empty())
    throw Error(failures.empty() ? "no game was played" : "no game could be played: " + failures.front());
  std::vector<GameScore> scores;
  int unfinished = 0;
  std::vector<PgnGame> all_games;
  for (auto& [index, pgn] : kept) all_games.push_back(pgn);
  scores = scores_from_pgn(all_games, unfinished);
  out << fmt::format("{} games, seed {}{}{}{}\n", kept.size(), seed,
                     plan.shard.n > 1 ? fmt::format(", shard {}/{}", plan.shard.k, plan.shard.n) : "",
                     unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : "",
                     failures.empty() ? "" : fmt::format(", {} could not be played", failures.size()));
  std::string why;
  const Anchor anchor = anchor_of(plan.anchor, names, why);
  out << format_rating_table(fit_ratings(scores, anchor), why);
  if (pgn_out) out << fmt::format("PGN written to {}\n", plan.pgn_file);
}

void rate_files(const std::vector<std::string>& files, const std::optional<Anchor>& anchor, std::ostream& out,
                std::ostream& log) {
  std::vector<GameScore> scores;
  int unfinished = 0, total = 0;
  for (const std::string& file : files) {
    const auto games = read_games(file, log);
    total += static_cast<int>(games.size());
    for (const GameScore& g : scores_from_pgn(games, unfinished)) scores.push_back(g);
  }
  out << fmt::format("{} games from {} file{}{}\n", total, files.size(), files.size() == 1 ? "" : "s",
                     unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : "");
  std::string why;
  const Anchor chosen = anchor_of(anchor, players_of(scores), why);
  out << format_rating_table(fit_ratings(scores, chosen), why);
}

}  // namespace ai_players::app
