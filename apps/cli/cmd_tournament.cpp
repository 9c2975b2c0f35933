// ai-players tournament and ratings, and the hidden worker that plays
// tournament games in processes of their own.
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>

#include <fmt/format.h>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "game/numbers.h"
#include "tournament/adjudication.h"
#include "tournament/game_worker.h"
#include "tournament/rating_report.h"
#include "tournament/tournament.h"

namespace ai_players::app {
namespace {

void add_anchor_option(CLI::App* cmd, std::vector<Anchor>& anchors, const std::string& help) {
  cmd->add_option_function<std::vector<std::string>>(
      "--anchor",
      [&anchors](const std::vector<std::string>& texts) {
        try {
          for (const std::string& text : texts) anchors.push_back(parse_anchor(text));
        } catch (const UserError& e) {
          throw CLI::ValidationError("--anchor", e.what());
        }
      },
      help);
}

// How each game is played and tagged.
void add_game_options(CLI::App* cmd, GameTerms& terms, ClockOptions& clock) {
  cmd->add_option("--event", terms.event, "the PGN Event tag");
  cmd->add_option("--site", terms.site, "the PGN Site tag");
  cmd->add_option("--max-plies", terms.max_plies,
                  "a game still going after this many plies (the opening's included) is drawn by adjudication")
      ->check(CLI::Range(0, 100000));
  const AdjudicationRule rule;
  cmd->add_flag("--adjudicate", terms.adjudicate,
                fmt::format("let the engine at depth {} end games: a win after {} plies in a row beyond {:g} pawns, a "
                            "draw after {} plies in a row within {:g} pawns once ply {} is reached",
                            rule.depth, rule.win_plies, rule.win_cp / 100.0, rule.draw_plies, rule.draw_cp / 100.0,
                            rule.draw_from_ply));
  cmd->add_option_function<std::string>(
         "--adjudicate-win",
         [&terms](const std::string& text) {
           try {
             terms.adjudication = with_win_rule(terms.adjudication, text);
           } catch (const UserError& e) {
             throw CLI::ValidationError("--adjudicate-win", e.what());
           }
           terms.adjudicate = true;
         },
         "--adjudicate, but a win is a lead of CP centipawns for PLIES plies in a row, e.g. 300/8; safe only between "
         "strong players, who do not give such a lead back")
      ->type_name("CP/PLIES");
  add_clock_options(cmd, clock, "a clock for each side: base seconds + increment, e.g. 60+1",
                    "milliseconds for every move");
  add_engine_timeout_option(cmd, terms.settings);
}

void add_tournament(CLI::App& app) {
  struct Options {
    TournamentPlan plan;
    std::string format = "round-robin";
    std::string shard = "1/1";
    ClockOptions clock;
    PgnOptions pgn;
  };
  auto o = std::make_shared<Options>();
  TournamentPlan& plan = o->plan;
  plan.terms.event = "ai-players tournament";
  CLI::App* cmd = app.add_subcommand("tournament", "play a tournament between personas and rate them all");
  cmd->add_option("names", plan.names, "the personas (HOUD20c:N for the engine at strength N)")->required()->expected(2, -1);
  cmd->add_option("--format", o->format,
                  "round-robin (default), gauntlet (the first against each other) or neighbours (each against the "
                  "next --span names: list them in order of strength)")
      ->transform(CLI::IsMember({"round-robin", "gauntlet", "neighbours"}, CLI::ignore_case));
  cmd->add_option("--span", plan.span, "neighbours: how many of the next names each one meets (default 2)")
      ->check(CLI::Range(1, 1000));
  cmd->add_option("--rounds", plan.rounds,
                  "rounds; in each, every pairing plays one opening with both colours (with --sprt: the most)")
      ->check(CLI::Range(1, 100000));
  cmd->add_option("--concurrency", plan.concurrency, "games at once, each worker a process of its own")
      ->check(CLI::Range(1, 256));
  cmd->add_option("--openings", plan.openings_file,
                  "start positions: EPD, or PGN games whose moves are played first; default: the shipped suite");
  cmd->add_option("--shard", o->shard, "play only the K-th of N slices of the games, e.g. 3/10");
  add_seed_option(cmd, plan.seed, "fixes who plays what and every game; printed when drawn");
  add_pgn_options(cmd, o->pgn, "write each game to this PGN file as it ends",
                  "keep the games already in --pgn and play only the others (same --seed)");
  add_anchor_option(cmd, plan.anchors,
                    "NAME=ELO: a rating fixed (repeat for several); default: every HOUD20c:N at N, else one player at "
                    "its roster strength");
  add_game_options(cmd, plan.terms, o->clock);
  cmd->add_option_function<std::vector<std::string>>(
      "--search",
      [&plan](const std::vector<std::string>& items) {
        for (const std::string& item : items) {
          const auto eq = item.find('=');
          if (eq == std::string::npos || eq == 0)
            throw CLI::ValidationError("--search", "write NAME=LIMITS, e.g. 'HOUD20c:2000=depth 8'");
          plan.search[item.substr(0, eq)] = item.substr(eq + 1);
        }
      },
      "NAME=LIMITS: HOUD20c:N's own search instead of depth 30 or the clock's share, e.g. 'HOUD20c:2000=depth 8' "
      "(repeat for each)");
  cmd->add_option_function<std::string>(
      "--sprt",
      [&plan](const std::string& text) {
        try {
          plan.sprt = parse_sprt(text);
        } catch (const UserError& e) {
          throw CLI::ValidationError("--sprt", e.what());
        }
      },
      "ELO0,ELO1[,ALPHA,BETA]: for two players, stop once the games accept one hypothesis (alpha, beta 0.05)");
  cmd->callback([o] {
    o->plan.format = o->format == "gauntlet"     ? TournamentFormat::Gauntlet
                     : o->format == "neighbours" ? TournamentFormat::Neighbours
                                                 : TournamentFormat::RoundRobin;
    o->plan.shard = parse_shard(o->shard);
    o->plan.pgn_file = o->pgn.file;
    o->plan.resume = o->pgn.resume;
    o->plan.force = o->pgn.force;
    o->plan.terms.clock = o->clock.clock;
    if (o->clock.movetime) throw UserError("a tournament takes --tc, not --movetime");
    run_tournament(o->plan, std::cout, std::cerr);
  });
}

void add_ratings(CLI::App& app) {
  struct Options {
    std::vector<std::string> files;
    std::vector<Anchor> anchors;
    std::string tsv;
    double prior = kPriorDraws;
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand("ratings", "rate the players of PGN files by maximum likelihood");
  cmd->add_option("files", o->files, "PGN files (shards of one tournament, or any games)")->required()->expected(1, -1);
  add_anchor_option(cmd, o->anchors,
                    "NAME=ELO: a rating fixed (repeat for several); default: every HOUD20c:N at N, else one player "
                    "at its roster strength (or 0)");
  cmd->add_option("--tsv", o->tsv,
                  "also write the table here as the program reads measured strengths "
                  "(data/calibration/ratings.tsv)");
  cmd->add_option("--prior", o->prior,
                  fmt::format("virtual draws on each pairing that met, among the rated players (default {:g}; 0: none)",
                              kPriorDraws))
      ->check(CLI::Range(0.0, 100.0));
  cmd->callback([o] { rate_files(o->files, o->anchors, std::cout, std::cerr, o->tsv, o->prior); });
}

void add_game_worker(CLI::App& app) {
  CLI::App* cmd = app.add_subcommand("game-worker", "play tournament games whose terms come on standard input");
  cmd->group("");  // the tournament's own worker, not for people
  cmd->callback([] {
    // A worker ends with the tournament that started it, however that ends.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) return;
    run_game_worker(std::cin, std::cout);
  });
}

}  // namespace

void add_tournament_commands(CLI::App& app) {
  add_tournament(app);
  add_ratings(app);
  add_game_worker(app);
}

}  // namespace ai_players::app
