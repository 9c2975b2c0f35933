// A whole tournament: its games scheduled, played by workers, written to PGN
// as each ends (or kept from an earlier run), and rated.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tournament/rating_fit.h"
#include "tournament/schedule.h"
#include "tournament/sprt.h"
#include "tournament/tournament_game.h"

namespace ai_players::app {

struct TournamentPlan {
  std::vector<std::string> names;
  TournamentFormat format = TournamentFormat::RoundRobin;
  int span = 2;  // neighbours: how many of the next names each one meets
  int rounds = 1;
  int concurrency = 1;
  std::string openings_file;  // empty: the shipped suite
  Shard shard;
  std::optional<std::uint64_t> seed;
  std::string pgn_file;  // empty: none
  bool resume = false;   // keep the games already in pgn_file, play the others
  bool force = false;    // replace what pgn_file holds
  std::vector<Anchor> anchors;  // none: every HOUD20c:N at N, else one chosen by the games
  std::optional<SprtBounds> sprt;  // two players only: stop once the test decides
  // A player's own search limits (HOUD20c only), by name: "depth 8".
  std::map<std::string, std::string> search;
  GameTerms terms;  // what every game shares: event, site, max plies, clock, adjudication, engine
};

// Plays the plan: a line per game on `log`, the rating table on `out`.
// Throws UserError for a plan that cannot be played and Error when no game
// could be played.
void run_tournament(const TournamentPlan& plan, std::ostream& out, std::ostream& log);

// The table of the games in PGN files: broken games are skipped and said on
// `log`. With `tsv_file`, the table is also written there as the program
// reads measured strengths.
void rate_files(const std::vector<std::string>& files, const std::vector<Anchor>& anchors, std::ostream& out,
                std::ostream& log, const std::string& tsv_file = {}, double prior_draws = kPriorDraws);

}  // namespace ai_players::app
