// Tournaments and matches: the rating fit, the schedule and its shards,
// adjudication, the PGN a tournament game leaves, the command's workers, and
// a match's tally and games.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "tournament/match_stats.h"
#include "tournament/rating_report.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "tournament/game_worker.h"
#include "tournament/progress.h"
#include "tournament/sprt.h"
#include "players/measured_ratings.h"
#include "tournament/tournament_game.h"

namespace ai_players::app {
namespace {

using testing_support::FakeEngine;
using testing_support::run_cli;
using testing_support::transcript;
using V = std::vector<std::string>;

const PlayerRating& row_of(const RatingTable& table, const std::string& name) {
  return table.players.at(std::ranges::find(table.players, name, &PlayerRating::name) - table.players.begin());
}

TEST(RatingFit, RecoversKnownRatingsFromSeveralAnchorsAndMatchesTheOnePairFormulas) {
  // Expected scores as fractional results: with no prior the maximum is exactly the truth.
  const std::map<std::string, double> truth{{"A", 0}, {"B", 250}, {"C", -180}, {"D", 600}, {"E", 90}};
  std::vector<GameScore> games;
  for (const auto& [a, ra] : truth)
    for (const auto& [b, rb] : truth)
      if (a < b && !(a == "A" && b == "D"))  // not every pair needs to meet
        for (int i = 0; i < 3; ++i) games.push_back({a, b, 1 / (1 + std::pow(10.0, (rb - ra) / 400))});
  const RatingTable fit = fit_ratings(games, {{"A", 0}, {"D", 600}}, 0);
  for (const auto& [name, rating] : truth) EXPECT_NEAR(row_of(fit, name).rating, rating, 1e-4) << name;
  EXPECT_TRUE(row_of(fit, "D").anchor && row_of(fit, "D").margin == 0 && !row_of(fit, "C").anchor);
  // A prior pulls every gap towards even, and says by how much.
  const RatingTable pulled = fit_ratings(games, {{"A", 0}}, 1);
  EXPECT_LT(row_of(pulled, "D").rating, 600);
  EXPECT_NEAR(row_of(pulled, "D").prior_shift,
              std::max(std::abs(row_of(fit_ratings(games, {{"A", 0}}, 2), "D").rating - row_of(pulled, "D").rating),
                       std::abs(row_of(fit_ratings(games, {{"A", 0}}, 0.5), "D").rating - row_of(pulled, "D").rating)),
              1e-6);

  // One pair: the logistic formula of a match, and the interval where twice
  // the binomial log-likelihood ratio reaches 3.84 times the share of a
  // game's variance that its draws leave (their rate counted over 16 more
  // games), found here by bisection.
  for (const auto& [wins, draws, losses] : {std::tuple{5, 3, 2}, {1, 8, 1}, {2, 0, 7}, {30, 10, 60}}) {
    std::vector<GameScore> pair(wins, {"X", "Y", 1});  // X wins as White, draws and loses as Black
    pair.insert(pair.end(), draws, {"Y", "X", 0.5});
    pair.insert(pair.end(), losses, {"Y", "X", 1});
    const PlayerRating x = row_of(fit_ratings(pair, {{"Y", 0}}, 0), "X");
    const int n = wins + draws + losses;
    const double s = (wins + 0.5 * draws) / n;
    EXPECT_NEAR(x.rating, elo_from_score(s), 1e-6) << wins << "-" << draws;
    EXPECT_EQ(std::make_tuple(x.wins, x.draws, x.losses, x.games), std::make_tuple(wins, draws, losses, n));
    const auto ratio = [&](double p) { return 2 * n * (s * std::log(s / p) + (1 - s) * std::log((1 - s) / (1 - p))); };
    const double left = 1 - draws / (n + 16.0) / (4 * s * (1 - s));
    const auto edge = [&](double lo, double hi) {  // ratio falls from lo to hi
      for (int i = 0; i < 100; ++i) ((ratio((lo + hi) / 2) > 3.841459 * left) ? lo : hi) = (lo + hi) / 2;
      return elo_from_score(lo);
    };
    EXPECT_NEAR(x.low, edge(1e-9, s), 0.05) << wins << "-" << draws;
    EXPECT_NEAR(x.high, edge(1 - 1e-9, s), 0.05) << wins << "-" << draws;
    EXPECT_NEAR(x.margin, std::max(x.rating - x.low, x.high - x.rating), 1e-9);
  }

  // The same 8 wins and 8 losses alone, and as 8 pairs that each went one
  // way twice: the pairs spread twice as much as their games, taken with 16
  // games that spread alike 1.5 times, and so does the interval's likelihood
  // ratio.
  std::vector<GameScore> alone, paired;
  for (int k = 0; k < 8; ++k)
    for (const bool white : {true, false}) {
      const double x_points = k % 2;
      alone.push_back(white ? GameScore{"X", "Y", x_points} : GameScore{"Y", "X", 1 - x_points});
      paired.push_back(white ? GameScore{"X", "Y", x_points, std::to_string(k)}
                             : GameScore{"Y", "X", 1 - x_points, std::to_string(k)});
    }
  const RatingTable apart = fit_ratings(alone, {{"Y", 0}}), together = fit_ratings(paired, {{"Y", 0}});
  EXPECT_EQ(std::make_pair(apart.pair_spread, together.pair_spread), std::make_pair(1.0, 1.5));
  const auto ratio_at = [](double elo) {  // 16 games scored 50 %
    const double p = 1 / (1 + std::pow(10.0, -elo / 400));
    return 16 * (std::log(0.5 / p) + std::log(0.5 / (1 - p)));
  };
  EXPECT_NEAR(ratio_at(row_of(apart, "X").high), 3.841459, 1e-3);
  EXPECT_NEAR(ratio_at(row_of(together, "X").high), 1.5 * 3.841459, 1e-3);
}

TEST(RatingFit, SweepsAreBoundsNotNumbersAndUnlinkedPlayersAreRefused) {
  // S beat the anchor 8-0: at least the strength at which a sweep of 8 has a
  // one-sided likelihood ratio of 2.71; T lost 3-0 to both: at most.
  std::vector<GameScore> games(8, {"S", "A", 1});
  for (int i = 0; i < 3; ++i) games.push_back({"T", "A", 0}), games.push_back({"B", "T", 1});
  games.push_back({"A", "B", 0.5});
  const RatingTable fit = fit_ratings(games, {{"A", 1000}});
  const PlayerRating& s = row_of(fit, "S");
  EXPECT_EQ(std::make_tuple(s.bound, s.margin, s.prior_shift), std::make_tuple(1, 0.0, 0.0));
  EXPECT_NEAR(s.rating, 1000 + elo_from_score(std::exp(-2.705543 / 2 / 8)), 0.05);
  const PlayerRating& t = row_of(fit, "T");
  EXPECT_EQ(t.bound, -1);
  // Against the anchor and B (rated from one draw) alike: the likelihood of 6 losses.
  const double b = row_of(fit, "B").rating;
  const auto log_l = [&](double r) { return 3 * std::log(1 - 1 / (1 + std::pow(10.0, (1000 - r) / 400))) +
                                            3 * std::log(1 - 1 / (1 + std::pow(10.0, (b - r) / 400))); };
  EXPECT_NEAR(2 * log_l(t.rating), -2.705543, 1e-3);
  EXPECT_EQ(fit.players.front().name, "S");

  // Between two anchors a sweep each way is a measurement, not a bound.
  const RatingTable between = fit_ratings({{"M", "A", 1}, {"A", "M", 0}, {"M", "Z", 0}, {"Z", "M", 1}},
                                          {{"A", 1000}, {"Z", 1400}});
  EXPECT_EQ(row_of(between, "M").bound, 0);
  EXPECT_NEAR(row_of(between, "M").rating, 1200, 1e-6);

  games.insert(games.begin(), {"D", "E", 1});  // the first players named
  EXPECT_EQ(testing_support::error_of<RatingError>([&] { fit_ratings(games, {{"A", 0}}); }),
            "no chain of games links D, E to the anchors");
  EXPECT_THROW(fit_ratings({{"A", "B", 1}}, {{"Z", 0}}), RatingError);
  EXPECT_THROW(fit_ratings({}, {{"A", 0}}), RatingError);
}

// The intervals' coverage: tournaments drawn from known ratings (a chain of
// two players between three anchors, 24 games a link), each fitted; the
// stated 95 % should hold the truth about 95 % of the time, with decisive
// games alone and with draws and openings that favour White, each played
// with both colours (their results spread less than the model's).
TEST(RatingFit, IntervalsCoverTheTruthAsOftenAsTheySay) {
  const std::map<std::string, double> truth{{"L", 0}, {"P", 130}, {"M", 250}, {"Q", 330}, {"H", 500}};
  const std::vector<std::pair<std::string, std::string>> links{{"L", "P"}, {"P", "M"}, {"M", "Q"}, {"Q", "H"}, {"P", "Q"}};
  std::mt19937_64 draw(37);
  std::uniform_real_distribution<double> unit(0, 1);
  for (const double draw_rate : {0.0, 0.3}) {
    int covered = 0, intervals = 0;
    for (int t = 0; t < 300; ++t) {
      std::vector<GameScore> games;
      for (const auto& [a, b] : links)
        for (int g = 0; g < 12; ++g) {
          const double p = 1 / (1 + std::pow(10.0, (truth.at(b) - truth.at(a)) / 400));
          const double white_edge = draw_rate > 0 ? 0.08 * (2 * unit(draw) - 1) : 0;
          for (const bool a_white : {true, false}) {
            const double pa = p + (a_white ? white_edge : -white_edge), u = unit(draw);
            const double points = u < pa - draw_rate / 2 ? 1 : u < pa + draw_rate / 2 ? 0.5 : 0;
            const std::string pair = std::to_string(g);
            games.push_back(a_white ? GameScore{a, b, points, pair} : GameScore{b, a, 1 - points, pair});
          }
        }
      const RatingTable fit = fit_ratings(games, {{"L", 0}, {"M", 250}, {"H", 500}});
      for (const std::string name : {"P", "Q"}) {
        const PlayerRating& p = row_of(fit, name);
        if (p.bound) continue;
        ++intervals;
        covered += p.low <= truth.at(name) && truth.at(name) <= p.high;
      }
    }
    EXPECT_GT(intervals, 590);
    const double coverage = static_cast<double>(covered) / intervals;
    EXPECT_TRUE(coverage > 0.925 && coverage < 0.975) << draw_rate << ": " << coverage;
  }
}

TEST(Schedule, EveryPairingPlaysEachOpeningWithBothColours) {
  const std::vector<std::string> names{"P", "Q", "R", "S"};
  struct Case {
    TournamentFormat format;
    int rounds;
    std::size_t openings, games;
  };
  for (const Case c : {Case{TournamentFormat::RoundRobin, 3, 5, 3 * 6 * 2}, Case{TournamentFormat::Gauntlet, 2, 40, 2 * 3 * 2},
                       Case{TournamentFormat::Neighbours, 2, 7, 2 * 5 * 2}}) {
    const auto games = schedule_games(names, c.format, c.rounds, c.openings, 42, 2);
    ASSERT_EQ(games.size(), c.games);
    std::map<std::pair<std::string, std::string>, int> as_white;
    std::set<std::uint64_t> seeds;
    std::set<std::size_t> openings;
    for (std::size_t i = 0; i < games.size(); i += 2) {
      const auto &a = games[i], &b = games[i + 1];
      EXPECT_EQ(a.index, static_cast<int>(i));
      EXPECT_EQ(std::tie(a.white, a.black, a.opening), std::tie(b.black, b.white, b.opening));  // colours swapped
      EXPECT_LT(a.opening, c.openings);
      ++as_white[{a.white, a.black}], ++as_white[{b.white, b.black}];
      EXPECT_TRUE(c.format != TournamentFormat::Gauntlet || a.white == "P" || a.black == "P");
      EXPECT_TRUE(c.format != TournamentFormat::Neighbours || std::abs(a.white[0] - a.black[0]) <= 2);
      openings.insert(a.opening), seeds.insert({a.seed, b.seed});
    }
    EXPECT_EQ(seeds.size(), games.size());
    for (const auto& [pair, n] : as_white) EXPECT_EQ(n, c.rounds) << pair.first << "-" << pair.second;
    EXPECT_EQ(openings.size(), std::min(c.openings, games.size() / 2));  // no opening repeats before all were used
  }
  // The seed alone fixes the list; another seed shuffles the openings.
  const auto list = [&](std::uint64_t seed) { return schedule_games(names, TournamentFormat::RoundRobin, 2, 30, seed); };
  const auto drawn = [](const ScheduledGame& g) { return std::make_pair(g.seed, g.opening); };
  EXPECT_TRUE(std::ranges::equal(list(7), list(7), {}, drawn, drawn));
  EXPECT_FALSE(std::ranges::equal(list(7), list(8), {}, &ScheduledGame::opening, &ScheduledGame::opening));
  EXPECT_THROW(schedule_games({"P"}, TournamentFormat::RoundRobin, 1, 3, 1), std::invalid_argument);
}

TEST(Schedule, ShardsPartitionTheGameList) {
  const auto games = schedule_games({"A", "B", "C", "D", "E"}, TournamentFormat::RoundRobin, 2, 12, 3);
  for (int n : {1, 2, 3, 7, 50}) {
    std::multiset<int> seen;
    for (int k = 1; k <= n; ++k)
      for (const auto& g : shard_of(games, parse_shard(std::to_string(k) + "/" + std::to_string(n)))) seen.insert(g.index);
    ASSERT_EQ(seen.size(), games.size()) << n;
    int expected = 0;
    for (int index : seen) EXPECT_EQ(index, expected++) << n;  // each once, none missing
  }
  for (const char* bad : {"0/3", "4/3", "3", "1/0", "a/b", "1/2/3", "-1/2", ""})
    EXPECT_THROW(parse_shard(bad), UserError) << bad;
}

TEST(Adjudicator, CountsPliesInARowBeyondTheMargins) {
  const AdjudicationRule rule{8, 600, 3, 10, 4, 30};
  const auto cp = [](std::vector<int> values) { return std::vector<Score>(values.begin(), values.end()); };
  const auto same = [](std::size_t n, int value) { return std::vector<Score>(n, Score(value)); };
  struct Case {
    AdjudicationRule rule;
    int first_ply;
    std::vector<Score> scores;  // from White's side, one per ply
    std::string result;         // empty: no verdict
    std::size_t at_ply;         // counted from the first score
  };
  const std::vector<Case> cases{
      {rule, 1, cp({700, 700, 650}), "1-0", 3},
      {rule, 1, cp({700, 700, 100, 700, 700}), "", 0},  // a break starts the count again
      {rule, 1, cp({-600, -600, -600}), "0-1", 3},
      {rule, 1, cp({599, 599, 599, 599}), "", 0},
      {rule, 1, cp({0, 5, -10, 0, 0}), "", 0},  // level, but too early
      {rule, 25, same(6, 3), "1/2-1/2", 6},      // level, ending at ply 30
      {rule, 30, cp({0, 0, 0, 100, 0, 0, 0}), "", 0},  // a break starts the count again
      {rule, 1, {Score::mate_in(-4), Score::mate_in(-3), Score::mate_in(-3)}, "0-1", 3},  // beyond any margin
      // The rule docs/tournaments-and-ratings.md states as measured: 6 pawns for 12 plies.
      {{}, 1, same(40, 600), "1-0", 12},
      {{}, 1, same(40, -600), "0-1", 12},
      {{}, 1, same(40, 599), "", 0},
      // --adjudicate-win sets the win part only.
      {with_win_rule({}, "300/8"), 1, same(20, -300), "0-1", 8},
      {with_win_rule({}, "300/8"), 1, same(20, 299), "", 0},
      {with_win_rule({}, "300/8"), 41, same(20, 10), "1/2-1/2", 20},
  };
  for (const char* bad : {"300", "300/0", "0/8", "3.5/8", "300/8/2", "-300/8", "/8", ""})
    EXPECT_THROW(with_win_rule({}, bad), UserError) << bad;
  EXPECT_EQ(with_win_rule({}, "1/1").win_plies, 1);  // the least rule there is
  for (const Case& c : cases) {
    Adjudicator adjudicator(c.rule);
    std::optional<Verdict> verdict;
    std::size_t ply = 0;
    while (!verdict && ply < c.scores.size()) verdict = adjudicator.add(c.first_ply + static_cast<int>(ply), c.scores[ply]), ++ply;
    EXPECT_EQ(std::make_pair(verdict ? verdict->result : "", verdict ? ply : 0), std::make_pair(c.result, c.at_ply)) << &c - cases.data();
  }
}

TEST(Sprt, DecidesAtItsBoundsAndReadsItsText) {
  const SprtBounds b = parse_sprt("0,100");
  EXPECT_EQ(std::make_tuple(b.elo0, b.elo1, b.alpha, b.beta), std::make_tuple(0.0, 100.0, 0.05, 0.05));
  const SprtBounds given = parse_sprt("-5,5,0.01,0.1");
  EXPECT_EQ(std::make_tuple(given.elo0, given.elo1, given.alpha, given.beta), std::make_tuple(-5.0, 5.0, 0.01, 0.1));
  for (const char* bad : {"100,0", "0,0", "0", "0,100,0.5,0.05", "0,100,0,0.05", "0,100,0.05,0", "0,100,0.05,0.5",
                          "a,b", "0,nan", "0,100,0.05"})
    EXPECT_THROW(parse_sprt(bad), UserError) << bad;
  // A clean sweep accepts H1 after a handful of pairs, not after the first.
  Sprt sweep(b);
  int pairs = 0;
  while (!sweep.verdict() && pairs < 100) sweep.add_pair(2), ++pairs;
  EXPECT_EQ(sweep.verdict(), "H1 accepted");
  EXPECT_TRUE(pairs >= 5 && pairs <= 7) << pairs;  // 12-0 is about what an exact binomial test of 0 against 100 needs
  EXPECT_NEAR(sweep.upper(), std::log(0.95 / 0.05), 1e-12);
  // Even results accept H0 when the bounds are apart.
  Sprt even(b);
  for (int i = 0; i < 200 && !even.verdict(); ++i) even.add_pair(i % 3 == 0 ? 1.5 : i % 3 == 1 ? 0.5 : 1);
  EXPECT_EQ(even.verdict(), "H0 accepted");
  EXPECT_NE(even.summary().find("H0 accepted after"), std::string::npos) << even.summary();
}

// A mover that plays the given coordinate moves in turn, then the first legal move.
Mover scripted(std::vector<std::string> moves, std::string note = "") {
  return [moves, note, next = std::make_shared<std::size_t>(0)](const MoveRequest& request) {
    const std::string coord = *next < moves.size() ? moves[(*next)++] : request.legal.front()->to_coord();
    return MoveReply{board::make_move(coord, request.legal), note};
  };
}

// What a game process is sent reads back field by field; no time limit stays none.
TEST(TournamentGame, TermsReachTheGameProcessWhole) {
  GameTerms t;
  t.event = "E", t.site = "S", t.round = "2.1", t.white = "Gnome", t.black = "HOUD20c:1500";
  t.opening = {"Fool", "4k3/8/8/8/8/8/3QP3/4K3 w - - 0 1", {"d2d3", "e8f8"}};
  t.max_plies = 90, t.clock = parse_time_control("60+1"), t.seed = 77, t.adjudicate = true;
  t.adjudication = with_win_rule({}, "300/8");
  t.settings.engine = "/x/engine", t.settings.engine_timeout = std::chrono::milliseconds(2500);
  t.white_elo = 750, t.black_elo = 1500, t.black_search = "depth 8";
  std::string sent;  // every field, then again with no engine timeout
  for (int i = 0; i < 2; ++i, t.settings.engine_timeout.reset()) {
    sent += terms_to_json(t) + "\n";
    EXPECT_EQ(terms_to_json(terms_from_json(terms_to_json(t))), terms_to_json(t));  // read back, nothing is lost
  }
  testing_support::expect_as_in_file("game_terms.txt", sent);
  EXPECT_THROW(terms_from_json("{\"white\": 1}"), UserError);
  // Only the engine persona takes search limits, and only well-formed ones.
  EXPECT_EQ(checked_search_limits("hOUD20c:2000", "  depth 8   nodes 900 "), "depth 8 nodes 900");
  for (const auto& [name, limits] : std::vector<std::pair<std::string, std::string>>{
           {"Diana", "depth 8"}, {"HOUD20c", "depth"}, {"HOUD20c", "mate 3"}, {"HOUD20c", "depth 0"},
           {"HOUD20c", "depth -1"}, {"HOUD20c", ""}, {"HOUD20c", "nodes 99999999999999"}})
    EXPECT_THROW(checked_search_limits(name, limits), PersonaError) << name << " " << limits;
}

TEST(TournamentGame, ThePgnSaysHowTheGameEnded) {
  GameTerms terms;
  terms.event = "Test Cup", terms.site = "Here", terms.round = "3", terms.white = "W", terms.black = "B";
  terms.opening = {"Fool", common::FEN_New_Game.data(), {"f3", "e7e5"}};  // SAN or coordinates
  terms.clock = parse_time_control("60+1"), terms.white_elo = 750;

  // Book moves first, then the players; a mate ends it normally, a mover's note on its move.
  std::string pgn = to_pgn(play_tournament_game(terms, scripted({"g2g4"}, "a fallback"), scripted({"d8h4"})));

  // The ply limit is a draw by adjudication; an EPD start goes in the FEN tag.
  terms.clock.reset(), terms.max_plies = 6;
  terms.opening = {"", "4k3/8/8/8/8/8/3QP3/4K3 w - - 0 1", {}};
  pgn += to_pgn(play_tournament_game(terms, scripted({}), scripted({})));

  // The judge ends it once White stays far ahead; it sees only positions past the book.
  terms.max_plies = 0, terms.opening.moves = {"d2d3", "e8f8"};
  std::vector<std::size_t> judged;
  const Judge judge = [&](const std::string& fen, const board::MoveList& moves) {
    EXPECT_EQ(fen, terms.opening.fen);
    judged.push_back(moves.size());
    return Score(900);
  };
  terms.adjudication = AdjudicationRule{8, 600, 3, 10, 20, 60};
  pgn += to_pgn(play_tournament_game(terms, scripted({}), scripted({}), judge));
  EXPECT_EQ(judged, (std::vector<std::size_t>{2, 3, 4}));

  // A player that cannot move leaves the game abandoned.
  const Mover broken = [](const MoveRequest&) -> MoveReply { throw MoverFailure("no engine"); };
  pgn += to_pgn(play_tournament_game(terms, broken, scripted({})));
  testing_support::expect_as_in_file("tournament_games.pgn", testing_support::dateless(pgn));
}

TEST(Shards, TheirPgnMergesToTheRatingsOfTheWholeTournament) {
  const std::vector<std::string> names{"Ann", "Bob", "Cid", "Dee"};
  const auto games = schedule_games(names, TournamentFormat::RoundRobin, 3, 5, 11);
  // Results fixed by each game's seed; PGN as a tournament writes it, without moves.
  std::map<std::string, int> strength{{"Ann", 3}, {"Bob", 2}, {"Cid", 1}, {"Dee", 0}};
  auto play = [&](const ScheduledGame& g) {
    const int edge = strength[g.white] - strength[g.black] + static_cast<int>(g.seed % 5) - 2;
    return to_pgn(with_roster("?", "?", fmt::format("{}.{}", g.round, g.index + 1), g.white, g.black,
                              edge > 0 ? "1-0" : edge < 0 ? "0-1" : "1/2-1/2"));
  };
  std::string whole;
  for (const auto& g : games) whole += play(g);
  int unfinished = 0;
  const auto all = scores_from_pgn(testing_support::read_pgn(whole), unfinished);
  ASSERT_EQ(all.size(), games.size());
  EXPECT_EQ(unfinished, 0);
  std::string why;
  const std::vector<Anchor> anchor = default_anchors(players_of(all), all, why);
  const RatingTable one_run = fit_ratings(all, anchor);

  std::vector<GameScore> merged;
  for (int k = 3; k >= 1; --k) {  // the order the files are given in does not matter
    std::string shard_pgn;
    for (const auto& g : shard_of(games, {k, 3})) shard_pgn += play(g);
    for (const auto& s : scores_from_pgn(testing_support::read_pgn(shard_pgn), unfinished)) merged.push_back(s);
  }
  EXPECT_EQ(format_rating_table(fit_ratings(merged, anchor), why), format_rating_table(one_run, why));
  EXPECT_EQ(std::tie(one_run.players.front().name, one_run.players.back().name), std::make_tuple("Ann", "Dee"));

  // Games 2k+1 and 2k+2 of a round share an opening; other Round tags leave a game alone.
  std::string rounds;
  for (const char* round : {"3.1", "3.2", "3.3", "3.4", "3", "3.x", "?"})
    rounds += to_pgn(with_roster("?", "?", round, "Ann", "Bob", "1-0"));
  std::vector<std::string> keys;
  for (const GameScore& g : scores_from_pgn(testing_support::read_pgn(rounds), unfinished)) keys.push_back(g.pair);
  EXPECT_EQ(keys, (std::vector<std::string>{"3/0", "3/0", "3/1", "3/1", "", "", ""}));
}

TEST(RatingReport, AnchorsAndTheirDefaults) {
  EXPECT_EQ(parse_anchor("HOUD20c:1350=1350").name, "HOUD20c:1350");
  EXPECT_EQ(parse_anchor("a=b=-12.5").elo, -12.5);
  for (const char* bad : {"Gnome", "=100", "Gnome=", "Gnome=12x"}) EXPECT_THROW(parse_anchor(bad), UserError) << bad;
  std::string why;
  const auto engines = default_anchors({"Gnome", "HOUD20c:1500", "HOUD20c:1350"}, {}, why);
  ASSERT_EQ(engines.size(), 2u);
  EXPECT_EQ(std::tie(engines[0].name, engines[0].elo, engines[1].name, engines[1].elo, why),
            std::make_tuple("HOUD20c:1500", 1500.0, "HOUD20c:1350", 1350.0, "Stockfish's own strength limit, UCI_Elo"));
  // Else the player the games fix best: never one that won or lost every game.
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1}, {"Talvo", "Gnome", 0}, {"Horus", "Gnome", 0.5},
                                     {"Gnome", "Fritz", 0}, {"Horus", "Fritz", 0.5}};
  const Anchor best = default_anchors({"Gnome", "Talvo", "Horus", "Fritz"}, games, why).at(0);
  EXPECT_EQ(std::tie(best.name, best.elo, why), std::make_tuple("Gnome", 750.0, "its roster strength; the player the games fix best"));
  const Anchor other = default_anchors({"Talvo", "Fritz", "Horus"}, {{"Fritz", "Horus", 0.5}, {"Talvo", "Fritz", 0}}, why).at(0);
  EXPECT_EQ(std::tie(other.name, other.elo, why), std::make_tuple("Fritz", 0.0, "0, as it is no persona; the player the games fix best"));
  // Every player swept or swept aside: the first name, and no claim about the games.
  const Anchor first = default_anchors({"Talvo", "Gnome"}, {{"Gnome", "Talvo", 1}}, why).at(0);
  EXPECT_EQ(std::tie(first.name, why), std::make_tuple("Talvo", "its roster strength"));
}

// Each pairing once, in the order it first played, counted from its first
// player's side whatever the colours; LOS from the decisive games only.
TEST(RatingReport, HeadToHeadCountsEachPairingFromItsFirstPlayersSide) {
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1}, {"Talvo", "Gnome", 0}, {"Horus", "Gnome", 0.5},
                                     {"Gnome", "Verevovera", 0}, {"Gnome", "Talvo", 0.5}};
  EXPECT_EQ(format_head_to_head(games), "Pairing             Games      W-D-L   Score           Elo    LOS\n"
                                        "Gnome - Talvo           3      2-1-0   83.3%  +280 +/- inf    92%\n"
                                        "Horus - Gnome           1      0-1-0   50.0%      +0 +/- 0    50%\n"
                                        "Gnome - Verevovera      1      0-0-1    0.0%          -inf    16%\n");
}

// A line per finished game as match runners print it, then the standings best
// first (ties in the order given), cut to the width asked for.
TEST(TournamentLog, EachGameThenTheStandingsSoFar) {
  std::ostringstream out;
  TournamentLog log(out, {"Talvo", "Gnome", "Horus"}, 3);
  PgnGame mate, capped;
  mate.result = "1-0", mate.final_comment = "White mates";
  capped.result = "1/2-1/2", capped.tags = {{"Termination", "adjudication"}};
  log.finished({0, 1, "Gnome", "Talvo"}, mate);
  log.finished({1, 1, "Horus", "Talvo"}, capped);
  log.failed({2, 1, "Gnome", "Horus"}, "its engine died");
  EXPECT_EQ(out.str(), "Finished game 1 (Gnome vs Talvo): 1-0 {White mates}\n"
                       "[1/3] Gnome 1/1  Talvo 0/1  Horus 0/0\n"
                       "Finished game 2 (Horus vs Talvo): 1/2-1/2 {adjudication}\n"
                       "[2/3] Gnome 1/1  Horus 0.5/1  Talvo 0.5/2\n"
                       "Game 3 (Gnome vs Horus) could not be played: its engine died\n");
  EXPECT_EQ(log.done(), 3u);
  Standings s({"Gnome", "Horus"});
  s.add("Gnome", "Horus", "1-0");
  s.add("Gnome", "Horus", "*");  // unfinished: not counted
  EXPECT_EQ(s.line(19), "Gnome 1/1 ...");
  EXPECT_EQ(s.line(20), "Gnome 1/1  Horus 0/1");
}

// The file that list, the page and UCI_Elo read: a bound where a player won or lost every game
// against the rated ones, the interval's ends and the prior's pull.
TEST(RatingReport, TheTsvFileAndTheTablesAsInFile) {
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1},   {"Talvo", "Gnome", 0},      {"Horus", "Gnome", 0.5},
                                     {"Horus", "Talvo", 1},   {"Verevovera", "Horus", 1}, {"Gnome", "Verevovera", 0},
                                     {"Gnome", "Horus", 0}};
  const RatingTable table = fit_ratings(games, {{"Gnome", 750}});
  testing_support::expect_as_in_file("ratings.tsv", ratings_tsv(table));
  // One anchor or several; with a prior, its pull, and a warning for a rating it moves.
  std::vector<GameScore> lopsided(20, {"Horus", "Talvo", 1});
  lopsided.insert(lopsided.end(), 20, {"Talvo", "Horus", 1});
  lopsided.insert(lopsided.end(), 10, {"Gnome", "Horus", 1});
  const RatingTable one = fit_ratings(lopsided, {{"Gnome", 1750}, {"Talvo", 100}}, 1);
  testing_support::expect_as_in_file("rating_tables.txt",
                                     format_rating_table(table, "given") + "\n" + format_rating_table(one, "given"));
}

// A game process marks each move as it is made (the game is alive); a game it cannot
// play is one error line, whatever the error says, then the end mark.
TEST(GameWorker, MarksEachMoveAndAnswersAnUnplayableGameWithOneErrorLine) {
  testing_support::FakeEngine fake;
  std::istringstream in("{\"white\": \"Nobody\\r\\nat all\", \"black\": \"Talvo\"}\n");
  std::ostringstream out;
  run_game_worker(in, out);
  EXPECT_EQ(out.str(), std::string(kErrorMark) +
                          "unknown persona 'Nobody  at all'; 'ai-players list' shows the names you can use\n" +
                          std::string(kEndOfGame) + "\n");
  // A game it can play.
  std::istringstream game("{\"white\": \"Talvo\", \"black\": \"Isis\", \"max_plies\": 2, \"seed\": 1}\n");
  std::ostringstream played;
  run_game_worker(game, played);
  EXPECT_EQ(testing_support::count_of(played.str(), std::string(kMoveMark)), 2) << played.str();
}

// A real tournament: two workers at once, each game on disk as it ends; a
// kill leaves no process behind and --resume plays only what is missing;
// ratings reads the file back.
TEST(TournamentCommand, GamesSurviveAKillAndResumePlaysTheRest) {
  testing_support::FakeEngine fake("default-score 0\n");
  testing_support::TempDir dir;
  const std::string pgn = dir.file("t.pgn");
  std::vector<std::string> args{"tournament", "Talvo", "Isis", "Iduna", "--max-plies", "16",
                                      "--concurrency", "2", "--seed", "5", "--pgn", pgn, "--event", "E2E",
                                      "--site", "Lab"};
  {
    testing_support::CliProcess run(args);
    testing_support::eventually([&] { return testing_support::count_of(testing_support::read_file(pgn), "[Event ") > 0; });
    const auto below = testing_support::descendants(run.pid());
    ::kill(run.pid(), SIGKILL);
    run.wait();
    for (pid_t p : below) EXPECT_TRUE(testing_support::ends_within(p, std::chrono::seconds(5))) << "left running: " << p;
  }
  const std::size_t kept = testing_support::read_pgn(testing_support::read_file(pgn)).size();
  EXPECT_GE(kept, 1u);
  EXPECT_NE(testing_support::run_cli(args).err.find("--resume"), std::string::npos);  // never overwritten

  args.push_back("--resume");
  const auto run = testing_support::run_cli(args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(testing_support::count_of(run.err, "Finished game "), static_cast<int>(6 - kept)) << run.err;
  const auto records = testing_support::read_pgn(testing_support::read_file(pgn));
  ASSERT_EQ(records.size(), 6u);
  std::set<std::string> rounds, places;
  for (const auto& r : records) rounds.insert(r.tag("Round")), places.insert(r.tag("Event") + " at " + r.tag("Site"));
  EXPECT_EQ(rounds.size(), 6u);  // every game once
  EXPECT_EQ(places, std::set<std::string>{"E2E at Lab"});
  // A broken game ahead of them is skipped whole and said; the others are rated.
  testing_support::write_file(pgn, "[White Bob]\n[Black \"Al\"]\n\n1. e4 1-0\n\n" + testing_support::read_file(pgn));
  const auto ratings = testing_support::run_cli({"ratings", pgn, "--anchor", "isis=250", "--tsv", dir.file("r.tsv")});
  ASSERT_EQ(ratings.status, 0) << ratings.err;
  EXPECT_NE(testing_support::read_file(dir.file("r.tsv")).find("\nIsis\t250"), std::string::npos);
  for (const char* said : {"game 1, line 1: the value of tag 'White' is not quoted; game skipped", "6 games from 1 file",
                           "Anchor: Isis at 250"})
    EXPECT_NE((ratings.err + ratings.out).find(said), std::string::npos) << ratings.err << ratings.out;
}

// A game whose worker fails is played once more; one that still fails is named with its reason,
// the others are rated, and the command fails, naming the games --resume would play.
TEST(TournamentCommand, GamesThatCouldNotBePlayedAreTriedAgainThenNamedAndFailTheCommand) {
  testing_support::FakeEngine fake("default-score 0\n");
  testing_support::TempDir dir;  // the engine persona's own engine dies at every new game
  testing_support::write_file(dir.file("dies.txt"), "on isready\ndie\n");
  testing_support::write_file(dir.file("dies"), "#!/bin/sh\nFAKE_ENGINE_SCRIPT=" + dir.file("dies.txt") + " exec " +
                                                  testing_support::fake_engine_path() + "\n");
  std::filesystem::permissions(dir.file("dies"), std::filesystem::perms::owner_all);
  const testing_support::ScopedEnv elo_engine("AI_PLAYERS_ELO_ENGINE", dir.file("dies"));
  const auto run = testing_support::run_cli({"tournament", "Talvo", "Isis", "HOUD20c", "--max-plies", "8", "--seed", "1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(testing_support::count_of(run.err, "Finished game "), 2) << run.err;
  EXPECT_EQ(testing_support::count_of(run.err, ") could not be played: "), 4) << run.err;
  EXPECT_EQ(testing_support::count_of(run.err, "\"isready\"; played again: The chess engine "), 4) << run.err;
  EXPECT_TRUE(run.err.ends_with("ai-players: 4 of the 6 games have no result (game 3, 4, 5, 6; the log above says why); "
                                "--resume with the same --seed plays them\n"))
      << run.err;
  EXPECT_TRUE(testing_support::count_of(run.out, "Talvo - Isis      2      0-2-0") == 1) << run.out;
}

// A game the disk refuses ends the tournament with the path and the reason; the file keeps whole games.
TEST(TournamentCommand, AGameTheFileRefusesEndsItWithThePathAndTheReason) {
  testing_support::FakeEngine fake("default-score 0\n");
  testing_support::TempDir dir;
  const std::string pgn = dir.file("t.pgn");
  ::signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails instead of killing the program
  rlimit before{};
  ::getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 500;  // one game of 16 plies fits, two do not
  ::setrlimit(RLIMIT_FSIZE, &small);
  const auto run = testing_support::run_cli({"tournament", "Talvo", "Isis", "--max-plies", "16", "--seed", "5", "--pgn", pgn});
  ::setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.ends_with("Stopping: the PGN file cannot be written.\nai-players: cannot write the PGN file '" + pgn +
                                "': File too large\n"))
      << run.err;
  EXPECT_EQ(testing_support::read_pgn(testing_support::read_file(pgn)).size(), 1u);
}

// Also: --resume on a file not there yet plays every game (calibrate.sh always
// passes it), and each game carries its players' strengths.
TEST(TournamentCommand, NeighboursMeetOnlyTheNextSpanNames) {
  testing_support::FakeEngine fake;
  testing_support::TempDir dir;
  const std::string pgn = dir.file("n.pgn"), openings = dir.file("o.epd");
  testing_support::write_file(openings, "4k3/8/8/8/8/8/4P3/4K3 w - - id \"pawn\";\n4k3/8/8/8/8/8/3P4/4K3 b - -\n");
  const auto run = testing_support::run_cli({"tournament", "Talvo", "Horus", "Isis", "--format", "neighbours", "--span", "1",
                                             "--max-plies", "2", "--seed", "1", "--concurrency", "1", "--resume", "--pgn", pgn,
                                             "--anchor", "isis=250", "--openings", openings, "--shard", "2/2"});
  ASSERT_EQ(run.status, 0) << run.err;
  // Talvo-Horus and Horus-Isis with both colours, each game drawn at the limit, with its players' roster strengths;
  // of those the second half, from the openings given; the anchor named in any case.
  testing_support::expect_as_in_file("tournament_neighbours.txt", testing_support::replace_all(run.err + run.out, pgn, "PGN") +
                                                                      testing_support::dateless(testing_support::read_file(pgn)));
  // Without --span each meets the next two: five pairings of four names, with both colours.
  const auto two = testing_support::run_cli(
      {"tournament", "Talvo", "Horus", "Isis", "Iduna", "--format", "neighbours", "--max-plies", "2"});
  EXPECT_EQ(testing_support::count_of(two.err, "Finished game "), 10) << two.err;
}

TEST(TournamentCommand, TheEngineTimeoutReachesThePersonasInTheWorkers) {
  // Each engine's first search says nothing until told to stop: without the flag the watchdog waits 60 s.
  // Getting ready takes each engine longer than that leash, as a starting Stockfish may: no search, no cut.
  testing_support::FakeEngine fake("on isready\nsleep 300\n> readyok\non go depth\non stop\n> bestmove e2e4\n");
  testing_support::TempDir dir;
  testing_support::write_file(dir.file("t.pgn"), "\n");  // a byte is already more than nothing to overwrite
  const std::vector<std::string> refused = {"tournament", "Horus", "Talvo", "--rounds", "1", "--max-plies", "2", "--pgn", dir.file("t.pgn")};
  EXPECT_NE(testing_support::run_cli(refused).err.find("--resume"), std::string::npos);
  testing_support::write_file(dir.file("t.pgn"), "");  // an empty file holds no games to keep: no --resume needed
  const auto run = testing_support::run_cli({"tournament", "Horus", "Talvo", "--rounds", "1", "--max-plies", "12", "--seed",
                                             "3", "--engine-timeout", "0.05", "--pgn", dir.file("t.pgn")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(testing_support::read_file(dir.file("t.pgn")).find("{Horus was cut short"), std::string::npos);
}

// A lopsided pair: H1 is accepted, and the tournament stops long before its planned games.
TEST(TournamentCommand, SprtStopsALopsidedPairEarly) {
  if (::access("/usr/games/stockfish", X_OK) != 0) GTEST_SKIP() << "no engine";
  const auto run = testing_support::run_cli({"tournament", "Gnome", "Talvo", "--rounds", "40", "--sprt", "0,450,0.25,0.25",
                                             "--max-plies", "200", "--seed", "5"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("LLR 1.20 (-1.10, 1.10) [0, 450]: H1 accepted after 1 pair"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("2 games, seed 5"), std::string::npos) << run.out;  // of 80 planned
}

// Warm workers: each keeps its personas and the judge's engine from game to
// game, and still the seed alone fixes every game, whichever worker plays it
// after whichever games.
TEST(TournamentCommand, TheSeedFixesEveryGameOnWarmEnginesAtAnyConcurrency) {
  // The scripted engine scores every move alike, so the personas' own random choices make the games.
  testing_support::FakeEngine fake("default-score 0\n");
  testing_support::TempDir dir;
  const std::string engine = dir.file("engine.sh"), starts = dir.file("starts");
  std::ofstream(engine) << "#!/bin/sh\necho start >>" << starts << "\nexec " << testing_support::fake_engine_path() << "\n";
  std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
  const testing_support::ScopedEnv env("AI_PLAYERS_ENGINE", engine);
  std::map<std::string, std::string> first;
  for (const char* concurrency : {"1", "2"}) {
    std::filesystem::remove(starts);
    const std::string pgn = dir.file(std::string("c") + concurrency + ".pgn");
    const auto run = testing_support::run_cli({"tournament", "Talvo", "Isis", "Iduna", "--rounds", "2", "--max-plies",
                                               "40", "--adjudicate-win", "600/12", "--concurrency", concurrency, "--seed", "8",
                                               "--pgn", pgn});
    ASSERT_EQ(run.status, 0) << run.err;
    if (std::string(concurrency) == "1")  // the line of each game as it ends, the tables, then the games
      testing_support::expect_as_in_file("tournament.txt", testing_support::replace_all(run.err + run.out, pgn, "PGN") +
                                                               testing_support::dateless(testing_support::read_file(pgn)));
    // 12 games; a worker starts an engine per persona and one for the judge, not three per game.
    EXPECT_LE(testing_support::count_of(testing_support::read_file(starts), "start"), 4 * std::stoi(concurrency));
    std::map<std::string, std::string> games;
    for (const auto& g : testing_support::read_pgn(testing_support::read_file(pgn)))
      games[g.tag("Round")] = testing_support::dateless(to_pgn(g));
    if (first.empty()) first = games;  // tournament.txt shows each game its own, all 12 of them
    else EXPECT_EQ(games, first);
  }
  const auto got = fake.received();  // each game is a new game for both personas and the judge, twice 12 games
  EXPECT_GE(std::count(got.begin(), got.end(), std::string("ucinewgame")), 2 * 3 * 12);
  // The judge searches every position at its depth.
  EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const std::string& l) { return l.starts_with("go depth 8 "); }));
}

TEST(MatchStats, TallyEloAndItsText) {
  Tally t;
  for (const auto& [result, white] : std::vector<std::pair<const char*, bool>>{
           {"1-0", true}, {"1-0", false}, {"0-1", false}, {"1/2-1/2", false}, {"*", true}})
    t.add(result, white);
  EXPECT_EQ((std::vector<int>{t.wins, t.losses, t.draws, t.unfinished, t.scored_games()}),
            (std::vector<int>{2, 1, 1, 1, 4}));
  EXPECT_EQ(std::make_pair(t.score(), Tally{}.score()), std::make_pair(0.625, 0.5));  // nothing scored reads as even
  // The margin follows the per-game variance: many draws narrow it, more games too;
  // an interval that reaches a score of 0 or 1 is unbounded there; no "-0".
  std::string text;
  for (double s : {0.75, 0.25, 0.0}) text += fmt::format("score {}: {:+.4f}\n", s, elo_from_score(s));
  for (const Tally& c :
       {Tally{6, 2, 2}, {10, 20, 10}, {2, 5, 13}, {30, 40, 30}, {0, 5, 0}, {4, 0, 0}, {0, 1, 3}, {3, 0, 1}}) {
    const EloEstimate e = estimate_elo(c);
    text += fmt::format("+{} ={} -{}: {:+.2f} +/- {:.2f}, {}\n", c.wins, c.draws, c.losses, e.difference + 0.0,
                        e.margin, format_elo(e));  // + 0.0: an even score's -0 shows as 0
  }
  text += "-0.3 +/- 12.4: " + format_elo({-0.3, 12.4}) + "\n";
  testing_support::expect_as_in_file("elo_estimates.txt", text);
}

TEST(CliMatch, AFailingPersonaCostsItsGameNotTheMatch) {
  // Whatever a case gets to start, its engine dies at once, every time; after
  // two such games the match stops short of the third and fails.
  FakeEngine fake("on go\ndie\non go\ndie\non go\ndie\non go\ndie\n");
  testing_support::TempDir dir;
  std::string said = transcript({"match", "--white", "Horus", "--black", "Talvo", "--games", "3", "--seed", "1", "--pgn",
                                 dir.file("a.pgn")});
  // Both games in the PGN, abandoned (its comments wrap the engine's path, so not compared whole).
  const std::string abandoned = "[Result \"*\"]\n[Termination \"abandoned\"]";
  EXPECT_EQ(testing_support::count_of(testing_support::read_file(dir.file("a.pgn")), abandoned), 2);
  {
    // A search that says nothing until told to stop is cut at --engine-timeout, not after a minute.
    FakeEngine silent("on go depth\non stop\n> bestmove e2e4\n");
    said += transcript({"match", "--white", "Horus", "--black", "Talvo", "--seed", "1", "--max-plies", "3",
                        "--engine-timeout", "0.05"});
  }
  testing_support::expect_as_in_file("match_failing.txt", testing_support::replace_all(said, dir.path(), "DIR"));
}

TEST(CliMatch, RepeatableGamesWithAReadablePgn) {
  FakeEngine fake;
  testing_support::TempDir dir;
  V args = {"match", "--white",     "Horus", "--black", "talvo",          "--games", "2",
            "--seed", "31", "--max-plies", "140",   "--pgn",   dir.file("a.pgn")};  // a mate, then a game cut
  const auto r = run_cli(args);
  ASSERT_EQ(r.status, 0) << r.err;
  args.back() = dir.file("b.pgn");  // the same seed plays the same games
  ASSERT_EQ(run_cli(args).status, 0);
  const std::string games = testing_support::dateless(testing_support::read_file(dir.file("a.pgn")));
  EXPECT_EQ(testing_support::dateless(testing_support::read_file(dir.file("b.pgn"))), games);
  // A fallback is noted on its move, in the move list (wrapped at 80 columns) and
  // in the PGN: in a set-up position Horus has no previous move to answer.
  const auto set_up = run_cli({"match", "--white", "Horus", "--black", "Talvo", "--seed", "1", "--max-plies", "30",
                               "--fen", "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", "--pgn", dir.file("c.pgn")});
  ASSERT_EQ(set_up.status, 0) << set_up.err;
  // Summaries counted from Horus's side, the fallback in the move list, and no library chatter on standard output.
  testing_support::expect_as_in_file("match.txt", testing_support::replace_all(r.out + "\n" + set_up.out, dir.path(), "DIR"));
  // Colours alternating, results and endings as the positions say.
  testing_support::expect_as_in_file("match_games.pgn",
                                     games + testing_support::dateless(testing_support::read_file(dir.file("c.pgn"))));
}

}  // namespace
}  // namespace ai_players::app
