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
#include "pgn/pgn_file.h"
#include "pgn/pgn_reader.h"
#include "players/persona_factory.h"
#include "tournament/progress.h"
#include "tournament/rating_report.h"
#include "tournament/run_output.h"
#include "tournament/worker_pool.h"
#include "game/user_error.h"

namespace ai_players::app {
namespace {

// The players, each name resolved once.
std::vector<PersonaId> checked_personas(const std::vector<std::string>& names) {
  std::vector<PersonaId> out;
  for (const std::string& n : names) {
    PersonaId id = resolve_playable(n);
    if (std::any_of(out.begin(), out.end(), [&](const PersonaId& o) { return o.name == id.name; }))
      throw UserError(fmt::format("{} is named twice", id.name));
    out.push_back(std::move(id));
  }
  return out;
}

std::vector<std::string> names_of(const std::vector<PersonaId>& personas) {
  std::vector<std::string> out;
  for (const PersonaId& id : personas) out.push_back(id.name);
  return out;
}

// "2.17": the round, and the game's number in the whole tournament, so that a
// game written out of order (or kept by --resume) says where it belongs.
std::string round_tag(const ScheduledGame& g) { return fmt::format("{}.{}", g.round, g.index + 1); }

std::vector<PgnGame> read_games(const std::string& file, std::ostream& log) {
  std::ifstream in(file);
  if (!in) throw UserError(fmt::format("cannot read {}", echoed(file)));
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

std::unique_ptr<PgnFile> open_output(const TournamentPlan& plan) {
  if (plan.pgn_file.empty()) return nullptr;
  return std::make_unique<PgnFile>(plan.pgn_file, plan.resume ? PgnWrite::Append
                                                 : plan.force ? PgnWrite::Overwrite
                                                              : PgnWrite::Fresh);
}

std::string format_name(const TournamentPlan& plan) {
  switch (plan.format) {
    case TournamentFormat::Gauntlet: return "gauntlet";
    case TournamentFormat::Neighbours: return fmt::format("neighbours (span {})", plan.span);
    case TournamentFormat::RoundRobin: break;
  }
  return "round-robin";
}

std::vector<Anchor> anchors_of(const std::vector<Anchor>& given, const std::vector<std::string>& players,
                               const std::vector<GameScore>& games, std::string& why) {
  if (given.empty()) return default_anchors(players, games, why);
  why = "given with --anchor";
  std::vector<Anchor> anchors = given;
  for (Anchor& anchor : anchors)
    for (const std::string& p : players)  // its name may be typed in any case
      if (lower(p) == lower(anchor.name)) anchor.name = p;
  return anchors;
}

}  // namespace

namespace {

// One run of a plan: what is kept from an earlier run, what is still to play, what came of it.
class TournamentRun {
 public:
  TournamentRun(const TournamentPlan& plan, std::ostream& out, std::ostream& log)
      : plan_(plan), log_(log), personas_(checked_personas(plan.names)), names_(names_of(personas_)) {
    for (const Anchor& a : plan.anchors)
      if (std::none_of(names_.begin(), names_.end(), [&](const auto& n) { return lower(n) == lower(a.name); }))
        throw UserError(fmt::format("the anchor {} plays in none of the games", a.name));
    if (plan.resume && !plan.seed) throw UserError("--resume needs the --seed the tournament was started with");
    if (plan.sprt && names_.size() != 2) throw UserError("--sprt tests two players, not " + std::to_string(names_.size()));
    if (plan.sprt) sprt_.emplace(*plan.sprt);
    openings_ = read_openings_file(plan.openings_file.empty() ? default_openings_path() : plan.openings_file);
    seed_ = seed_or_random(plan.seed);
    for (const PersonaId& id : personas_) strengths_[id.name] = playing_strength(id, plan.terms.settings);
    for (const auto& [named, limits] : plan.search) {
      const std::string name = named;  // clang 14 cannot capture a structured binding
      const auto it = std::find_if(names_.begin(), names_.end(), [&](const auto& n) { return lower(n) == lower(name); });
      if (it == names_.end()) throw UserError(fmt::format("--search names {}, who plays in none of the games", name));
      search_[*it] = checked_search_limits(personas_[it - names_.begin()], limits);
    }
    all_ = schedule_games(names_, plan.format, plan.rounds, openings_.size(), seed_, plan.span);
    games_ = shard_of(all_, plan.shard);
    std::unique_ptr<PgnFile> pgn = open_output(plan);  // first: a file that is no file is not read either
    kept_ = kept_games(plan, games_, log);
    if (pgn) outputs_.add(pgn_output(std::move(pgn), out));
    outputs_.add(game_lines_output(log)).add(rating_table_output(out)).add(head_to_head_output(out));
    if (sprt_) outputs_.add(sprt_output(log, out));
  }

  void play() {
    std::vector<GameTerms> terms;
    std::vector<const ScheduledGame*> todo;
    for (const ScheduledGame& g : games_) {
      if (kept_.count(g.index)) continue;
      terms.push_back(terms_of(g));
      todo.push_back(&g);
    }
    const std::string heading = fmt::format("{} {}: {} players, {} openings, {} games{}{}, seed {}, {} at a time\n",
                        format_name(plan_), fmt::join(names_, ", "),
                        names_.size(), openings_.size(), games_.size(),
                        plan_.shard.n > 1 ? fmt::format(" (shard {}/{} of {})", plan_.shard.k, plan_.shard.n, all_.size()) : "",
                        kept_.empty() ? "" : fmt::format(", {} kept from {}", kept_.size(), plan_.pgn_file), seed_,
                        plan_.concurrency);
    outputs_.started({heading, names_, terms.size()});
    std::size_t ended = 0;  // games that ended or could not be played
    const auto& timeout = plan_.terms.settings.engine_timeout;
    // A move may take a whole reply's bound, then a fresh engine's watchdog and its
    // stop: the worker is ended only past that.
    const auto patience =
        timeout ? std::optional((AI_BASIC::kReplyTimeoutFactor + 2) * *timeout + std::chrono::seconds(5)) : std::nullopt;
    std::atomic<bool> stop{false};
    play_games(terms, plan_.concurrency, patience, [&](const FinishedGame& done) {
      const ScheduledGame& g = *todo[done.index];
      std::istringstream in(done.pgn);
      auto read = done.error.empty() ? read_pgn(in) : std::vector<PgnGame>{};
      if (read.size() != 1) {
        failures_.push_back(done.error.empty() ? "its PGN could not be read back" : done.error);
        ++ended;
        outputs_.game(GameEnd{g.index + 1, g.white, g.black, nullptr, "", failures_.back(), nullptr});
      } else {
        try {
          outputs_.game(GameEnd{g.index + 1, g.white, g.black, &read.front(), done.pgn, "", nullptr});
        } catch (const Error& e) {
          // No game played from now on could be kept either; the error is said at the end.
          if (write_error_.empty()) log_ << "Stopping: the PGN file cannot be written.\n";
          write_error_ = e.what();
          stop = true;
          return;
        }
        ++ended;
        if (!white_points(read.front().result)) failures_.push_back(read.front().ending_comment());
        kept_[g.index] = std::move(read.front());
        if (sprt_ && test_pair(g.index)) stop = true;
      }
      // The first game to end could not be finished: a persona or its engine is broken, and
      // every other game would wait on it as long.
      if (failures_.size() == ended && !stop) {
        log_ << "Stopping: the first game could not be finished.\n";
        stop = true;
      }
    }, stop);
    if (!write_error_.empty()) throw Error(write_error_);
  }

  void report() {
    const bool any_scored = std::any_of(kept_.begin(), kept_.end(), [](const auto& k) { return white_points(k.second.result); });
    if (!any_scored)
      throw Error(failures_.empty() ? "no game was played" : "no game could be finished: " + failures_.front());
    std::vector<PgnGame> played;
    for (const auto& [index, pgn] : kept_) played.push_back(pgn);
    int unfinished = 0;
    const std::vector<GameScore> scores = scores_from_pgn(played, unfinished);
    outputs_.counted(fmt::format("{} games, seed {}{}{}{}\n", kept_.size(), seed_,
                       plan_.shard.n > 1 ? fmt::format(", shard {}/{}", plan_.shard.k, plan_.shard.n) : "",
                       unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : "",
                       failures_.empty() ? "" : fmt::format(", {} could not be played", failures_.size())));
    std::string why;
    const std::vector<Anchor> anchors = anchors_of(plan_.anchors, names_, scores, why);
    const RatingTable table = fit_ratings(scores, anchors);
    outputs_.report(RunReport{&scores, &table, why, sprt_ ? &*sprt_ : nullptr, nullptr});
    outputs_.finish();
    // Games the plan has and the file lacks a result for (not those a decided test leaves out).
    if (sprt_ && sprt_->verdict()) return;
    std::vector<int> missing;
    for (const ScheduledGame& g : games_)
      if (const auto k = kept_.find(g.index); k == kept_.end() || !white_points(k->second.result))
        missing.push_back(g.index + 1);
    if (!missing.empty())
      throw Error(fmt::format("{} of the {} games have no result (game {}; the log above says why); --resume with the "
                              "same --seed plays them",
                              missing.size(), games_.size(), fmt::join(missing, ", ")));
  }

 private:
  // Feeds the test the pair a game completes (a pairing's two games on one
  // opening, next to each other in the schedule); true once it decides.
  bool test_pair(int index) {
    const int first = index - index % 2;
    const auto a = kept_.find(first), b = kept_.find(first + 1);
    if (a == kept_.end() || b == kept_.end()) return false;
    double points = 0;
    for (const auto& it : {a, b}) {
      const auto white = white_points(it->second.result);
      if (!white) return false;  // an unfinished game leaves the pair out
      points += it->second.tag("White") == names_[0] ? *white : 1 - *white;
    }
    sprt_->add_pair(points);
    outputs_.tested(*sprt_);
    return sprt_->verdict().has_value();
  }

  GameTerms terms_of(const ScheduledGame& g) const {
    GameTerms t = plan_.terms;
    t.round = round_tag(g);
    t.white = g.white;
    t.black = g.black;
    t.opening = openings_[g.opening];
    t.seed = g.seed;
    t.white_elo = strengths_.at(g.white);
    t.black_elo = strengths_.at(g.black);
    if (const auto it = search_.find(g.white); it != search_.end()) t.white_search = it->second;
    if (const auto it = search_.find(g.black); it != search_.end()) t.black_search = it->second;
    return t;
  }

  const TournamentPlan& plan_;
  std::ostream& log_;
  std::vector<PersonaId> personas_;
  std::vector<std::string> names_;  // theirs, in canonical spelling
  std::vector<Opening> openings_;
  std::uint64_t seed_ = 0;
  std::map<std::string, std::optional<int>> strengths_;
  std::map<std::string, std::string> search_;  // by canonical name  // asked once per run, not once per worker
  std::vector<ScheduledGame> all_, games_;
  std::map<int, PgnGame> kept_;
  RunOutputs outputs_;  // the PGN file, the lines per game, the table, the head-to-head, the SPRT
  std::vector<std::string> failures_;
  std::string write_error_;
  std::optional<Sprt> sprt_;
};

}  // namespace

void run_tournament(const TournamentPlan& plan, std::ostream& out, std::ostream& log) {
  TournamentRun run(plan, out, log);
  run.play();
  run.report();
}

void rate_files(const std::vector<std::string>& files, const std::vector<Anchor>& anchors, std::ostream& out,
                std::ostream& log, const std::string& tsv_file, double prior_draws) {
  std::vector<GameScore> scores;
  int unfinished = 0, total = 0;
  for (const std::string& file : files) {
    const auto games = read_games(file, log);
    total += static_cast<int>(games.size());
    for (const GameScore& g : scores_from_pgn(games, unfinished)) scores.push_back(g);
  }
  RunOutputs outputs;
  outputs.add(rating_table_output(out)).add(head_to_head_output(out));
  if (!tsv_file.empty()) outputs.add(ratings_tsv_output(tsv_file));
  outputs.counted(fmt::format("{} games from {} file{}{}\n", total, files.size(), files.size() == 1 ? "" : "s",
                              unfinished ? fmt::format(", {} unfinished (not rated)", unfinished) : ""));
  std::string why;
  const std::vector<Anchor> chosen = anchors_of(anchors, players_of(scores), scores, why);
  const RatingTable table = fit_ratings(scores, chosen, prior_draws);
  outputs.report(RunReport{&scores, &table, why, nullptr, nullptr});
}

}  // namespace ai_players::app
