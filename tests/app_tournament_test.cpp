// Tournaments: the rating fit, the schedule and its shards, openings,
// adjudication, the PGN a tournament game leaves, and the command's workers.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <map>
#include <set>
#include <sstream>

#include "ai_players/host/board.h"
#include "ai_players/host/common.h"
#include "game/user_error.h"
#include "tournament/match_stats.h"
#include "pgn/openings.h"
#include "pgn/pgn_reader.h"
#include "tournament/rating_fit.h"
#include "tournament/rating_report.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "tournament/adjudication.h"
#include "tournament/game_worker.h"
#include "tournament/progress.h"
#include "tournament/schedule.h"
#include "tournament/sprt.h"
#include "players/measured_ratings.h"
#include "tournament/tournament_game.h"

namespace ai_players::app {
namespace {

const PlayerRating& row_of(const RatingTable& table, const std::string& name) {
  for (const auto& p : table.players)
    if (p.name == name) return p;
  throw std::out_of_range(name);
}

TEST(RatingFit, RecoversKnownRatingsAndAgreesWithTheLogisticFormulaForOnePair) {
  // Expected scores as fractional results: the maximum is exactly the truth.
  const std::map<std::string, double> truth{{"A", 0}, {"B", 250}, {"C", -180}, {"D", 600}, {"E", 90}};
  std::vector<GameScore> games;
  for (const auto& [a, ra] : truth)
    for (const auto& [b, rb] : truth)
      if (a < b && !(a == "A" && b == "D"))  // not every pair needs to meet
        for (int i = 0; i < 3; ++i) games.push_back({a, b, 1 / (1 + std::pow(10.0, (rb - ra) / 400))});
  const RatingTable fit = fit_ratings(games, {"A", 0});
  EXPECT_FALSE(fit.virtual_draws);
  for (const auto& [name, rating] : truth) EXPECT_NEAR(row_of(fit, name).rating, rating, 1e-4) << name;
  EXPECT_EQ(fit.players.front().name, "D");
  EXPECT_EQ(row_of(fit, "A").margin, 0);
  EXPECT_GT(row_of(fit, "C").margin, 0);

  // The anchor moves everyone by the same amount.
  const RatingTable shifted = fit_ratings(games, {"B", 1000});
  for (const auto& [name, rating] : truth) EXPECT_NEAR(row_of(shifted, name).rating, rating + 750, 1e-4) << name;

  // One pair with real results: the logistic formula of a match.
  struct Case {
    int wins, draws, losses;
  };
  for (const Case c : {Case{5, 3, 2}, Case{1, 8, 1}, Case{2, 0, 7}, Case{30, 10, 60}}) {
    std::vector<GameScore> pair;
    Tally tally;
    for (int i = 0; i < c.wins; ++i) pair.push_back({"X", "Y", 1}), tally.add("1-0", true);
    for (int i = 0; i < c.draws; ++i) pair.push_back({"Y", "X", 0.5}), tally.add("1/2-1/2", false);
    for (int i = 0; i < c.losses; ++i) pair.push_back({"Y", "X", 1}), tally.add("1-0", false);
    const RatingTable one = fit_ratings(pair, {"Y", 0});
    EXPECT_NEAR(row_of(one, "X").rating, elo_from_score(tally.score()), 1e-6) << c.wins << "-" << c.draws;
    EXPECT_EQ(row_of(one, "X").wins, c.wins);
    EXPECT_EQ(row_of(one, "X").games, c.wins + c.draws + c.losses);
  }
}

TEST(RatingFit, SweepsGetVirtualDrawsAndUnlinkedPlayersAreRefused) {
  // C lost every game: no finite maximum without help.
  std::vector<GameScore> games{{"A", "B", 1}, {"B", "A", 0.5}, {"A", "C", 1}, {"C", "B", 0}};
  const RatingTable fit = fit_ratings(games, {"A", 0});
  EXPECT_EQ(fit.virtual_draws, 2);  // A-C and B-C; A and B scored against each other
  EXPECT_EQ(fit.players.back().name, "C");
  EXPECT_TRUE(std::isfinite(fit.players.back().rating));
  EXPECT_EQ(row_of(fit, "C").losses, 2);  // the virtual draws are not in the tally
  // Only the swept pairing gets one: A and B keep their 3-1 exactly.
  const RatingTable kept =
      fit_ratings({{"A", "B", 1}, {"A", "B", 1}, {"B", "A", 0}, {"B", "A", 1}, {"A", "C", 1}, {"C", "A", 0}}, {"A", 0});
  EXPECT_EQ(kept.virtual_draws, 1);
  EXPECT_NEAR(row_of(kept, "B").rating, -elo_from_score(0.75), 1e-6);

  games.insert(games.begin(), {"D", "E", 1});  // the first players named
  try {
    fit_ratings(games, {"A", 0});
    ADD_FAILURE() << "D and E were rated without a chain to A";
  } catch (const RatingError& e) {
    EXPECT_STREQ(e.what(), "no chain of games links D, E to the anchor A");
  }
  EXPECT_THROW(fit_ratings({{"A", "B", 1}}, {"Z", 0}), RatingError);
  EXPECT_THROW(fit_ratings({}, {"A", 0}), RatingError);
}

TEST(Schedule, EveryPairingPlaysEachOpeningWithBothColours) {
  const std::vector<std::string> names{"P", "Q", "R", "S"};
  struct Case {
    TournamentFormat format;
    int rounds;
    std::size_t openings;
    std::size_t games;
  };
  const auto place = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
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
      EXPECT_EQ(a.white, b.black);
      EXPECT_EQ(a.black, b.white);
      EXPECT_EQ(a.opening, b.opening);
      EXPECT_LT(a.opening, c.openings);
      ++as_white[{a.white, a.black}];
      ++as_white[{b.white, b.black}];
      if (c.format == TournamentFormat::Gauntlet) {
        EXPECT_TRUE(a.white == "P" || a.black == "P");
      } else if (c.format == TournamentFormat::Neighbours) {
        EXPECT_LE(std::abs(place(a.white) - place(a.black)), 2);
      }
      openings.insert(a.opening);
    }
    for (const auto& g : games) seeds.insert(g.seed);
    EXPECT_EQ(seeds.size(), games.size());
    for (const auto& [pair, n] : as_white) EXPECT_EQ(n, c.rounds) << pair.first << "-" << pair.second;
    EXPECT_EQ(openings.size(), std::min(c.openings, games.size() / 2));  // no opening repeats before all were used
  }
  // The seed alone fixes the list; another seed shuffles the openings.
  const auto list = [&](std::uint64_t seed, bool game_seeds) {
    std::vector<std::uint64_t> out;
    for (const auto& g : schedule_games(names, TournamentFormat::RoundRobin, 2, 30, seed))
      out.push_back(game_seeds ? g.seed : g.opening);
    return out;
  };
  EXPECT_EQ(list(7, true), list(7, true));
  EXPECT_EQ(list(7, false), list(7, false));
  EXPECT_NE(list(7, false), list(8, false));  // another seed shuffles the openings
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
  struct Case {
    std::vector<int> scores;  // from White's side, one per ply from ply 1
    std::string result;       // empty: no verdict
    std::size_t at_ply;
  };
  const std::vector<Case> cases{
      {{700, 700, 650}, "1-0", 3},
      {{700, 700, 100, 700, 700}, "", 0},  // a break starts the count again
      {{-600, -600, -600}, "0-1", 3},
      {{599, 599, 599, 599}, "", 0},
      {{0, 5, -10, 0, 0}, "", 0},  // level, but too early
  };
  for (const auto& c : cases) {
    Adjudicator adjudicator(rule);
    std::optional<Verdict> verdict;
    std::size_t ply = 0;
    for (; !verdict && ply < c.scores.size(); ++ply) verdict = adjudicator.add(static_cast<int>(ply + 1), Score(c.scores[ply]));
    EXPECT_EQ(verdict ? verdict->result : "", c.result) << c.scores.size();
    if (verdict) {
      EXPECT_EQ(ply, c.at_ply);
    }
  }
  Adjudicator late(rule);
  std::optional<Verdict> verdict;
  for (int ply = 25; ply <= 30 && !verdict; ++ply) verdict = late.add(ply, Score(3));
  ASSERT_TRUE(verdict);
  EXPECT_EQ(verdict->result, "1/2-1/2");
  // A mate score is beyond any margin, for the side that mates.
  Adjudicator mates(rule);
  EXPECT_FALSE(mates.add(1, Score::mate_in(-4)));
  EXPECT_FALSE(mates.add(2, Score::mate_in(-3)));
  EXPECT_EQ(mates.add(3, Score::mate_in(-3))->result, "0-1");
  // The rule the README states as measured: 6 pawns for 12 plies.
  const auto plies_to_win = [](int cp) {
    Adjudicator standard;
    for (int ply = 1; ply <= 40; ++ply)
      if (standard.add(ply, Score(cp))) return ply;
    return 0;
  };
  EXPECT_EQ(std::make_tuple(plies_to_win(600), plies_to_win(-600), plies_to_win(599)), std::make_tuple(12, 12, 0));
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
  EXPECT_GE(pairs, 5);  // 12-0 is about what an exact binomial test of 0 against 100 needs
  EXPECT_LE(pairs, 7);
  EXPECT_NEAR(sweep.upper(), std::log(0.95 / 0.05), 1e-12);
  // Even results accept H0 when the bounds are apart.
  Sprt even(b);
  for (int i = 0; i < 200 && !even.verdict(); ++i) even.add_pair(i % 3 == 0 ? 1.5 : i % 3 == 1 ? 0.5 : 1);
  EXPECT_EQ(even.verdict(), "H0 accepted");
  EXPECT_NE(even.summary().find("H0 accepted after"), std::string::npos) << even.summary();
}

TEST(Openings, EpdAndPgnBecomeStartPositionsAndBookMoves) {
  std::istringstream epd(
      "# a comment\n"
      "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - id \"open game\";\n"
      "\n"
      "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - hmvc 2; fmvn 3;\n");
  const auto from_epd = read_openings(epd, "e.epd");
  ASSERT_EQ(from_epd.size(), 2u);
  EXPECT_EQ(from_epd[0].name, "open game");
  EXPECT_EQ(from_epd[0].fen, "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1");
  EXPECT_EQ(from_epd[1].fen, "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
  EXPECT_TRUE(from_epd[1].moves.empty());

  std::istringstream pgn(
      "% made by hand\n[Opening \"Scotch\"]\n\n1. e4 e5 2. Nf3 Nc6 3. d4 {+0.2} *\n\n"
      "[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n[SetUp \"1\"]\n\n1. e4 Kd7 *\n");
  const auto from_pgn = read_openings(pgn, "o.pgn");
  ASSERT_EQ(from_pgn.size(), 2u);
  EXPECT_EQ(from_pgn[0].name, "Scotch");
  EXPECT_EQ(from_pgn[0].fen, common::FEN_New_Game);
  EXPECT_EQ(from_pgn[0].moves, (std::vector<std::string>{"e2e4", "e7e5", "g1f3", "b8c6", "d2d4"}));
  EXPECT_EQ(from_pgn[1].moves, (std::vector<std::string>{"e2e4", "e8d7"}));

  // Each refusal in its words; PGN is told by its first line that is not a comment.
  std::string refused;
  for (const char* bad : {"rnbqkbnr/pppppppp w KQkq\n", "8/8/8/8/8/8/8/8 w - -\n", "[Event \"x\"]\n\n1. e4 e4 *\n",
                          "# nothing\n", "% an escape, not EPD\n"}) {
    std::istringstream in(bad);
    refused += testing_support::error_of<OpeningError>([&] { read_openings(in, "bad"); }) + "\n";
  }
  testing_support::expect_as_in_file("openings_refused.txt", refused);

  // The shipped suite: a few dozen openings of 4 to 8 plies from the standard start.
  const auto suite = read_openings_file(default_openings_path());
  EXPECT_GE(suite.size(), 24u);
  for (const auto& o : suite) {
    EXPECT_GE(o.moves.size(), 4u) << o.name;
    EXPECT_LE(o.moves.size(), 8u) << o.name;
    EXPECT_FALSE(o.name.empty());
  }
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
  t.settings.engine = "/x/engine", t.settings.engine_timeout = std::chrono::milliseconds(2500);
  t.white_elo = 750, t.black_elo = 1500;
  const GameTerms b = terms_from_json(terms_to_json(t));
  EXPECT_EQ(std::tie(b.event, b.site, b.round, b.white, b.black, b.opening.name, b.opening.fen, b.opening.moves),
            std::tie(t.event, t.site, t.round, t.white, t.black, t.opening.name, t.opening.fen, t.opening.moves));
  EXPECT_EQ(std::make_tuple(b.max_plies, b.clock->pgn(), b.seed, b.adjudicate, b.settings.engine, b.settings.engine_timeout,
                            b.white_elo, b.black_elo),
            std::make_tuple(90, "60+1", 77u, true, t.settings.engine, t.settings.engine_timeout, t.white_elo, t.black_elo));
  t.settings.engine_timeout.reset();
  EXPECT_FALSE(terms_from_json(terms_to_json(t)).settings.engine_timeout);
  EXPECT_THROW(terms_from_json("{\"white\": 1}"), UserError);
}

TEST(TournamentGame, ThePgnSaysHowTheGameEnded) {
  GameTerms terms;
  terms.event = "Test Cup";
  terms.site = "Here";
  terms.round = "3";
  terms.white = "W";
  terms.black = "B";
  terms.white_elo = 750;
  terms.opening = {"Fool", common::FEN_New_Game.data(), {"f3", "e7e5"}};  // SAN or coordinates
  terms.clock = parse_time_control("60+1");

  // Book moves first, then the players; a mate ends it normally, a mover's note on its move.
  std::string pgn = to_pgn(play_tournament_game(terms, scripted({"g2g4"}, "a fallback"), scripted({"d8h4"})));

  // The ply limit is a draw by adjudication; an EPD start goes in the FEN tag.
  terms.clock.reset();
  terms.opening = {"", "4k3/8/8/8/8/8/3QP3/4K3 w - - 0 1", {}};
  terms.max_plies = 6;
  pgn += to_pgn(play_tournament_game(terms, scripted({}), scripted({})));

  // The judge ends it once White stays far ahead; it sees only positions past the book.
  terms.max_plies = 0;
  terms.opening.moves = {"d2d3", "e8f8"};
  std::vector<std::size_t> judged;
  const Judge judge = [&](const std::string& fen, const board::MoveList& moves) {
    EXPECT_EQ(fen, terms.opening.fen);
    judged.push_back(moves.size());
    return Score(900);
  };
  pgn += to_pgn(play_tournament_game(terms, scripted({}), scripted({}), judge, AdjudicationRule{8, 600, 3, 10, 20, 60}));
  EXPECT_EQ(judged, (std::vector<std::size_t>{2, 3, 4}));

  // A player that cannot move leaves the game abandoned.
  const Mover broken = [](const MoveRequest&) -> MoveReply { throw MoverFailure("no engine"); };
  pgn += to_pgn(play_tournament_game(terms, broken, scripted({})));
  testing_support::expect_as_in_file("tournament_games.pgn", testing_support::dateless(pgn));
  EXPECT_EQ(testing_support::read_pgn(pgn).size(), 4u);
}

TEST(Shards, TheirPgnMergesToTheRatingsOfTheWholeTournament) {
  const std::vector<std::string> names{"Ann", "Bob", "Cid", "Dee"};
  const auto games = schedule_games(names, TournamentFormat::RoundRobin, 3, 5, 11);
  // Results fixed by each game's seed; PGN as a tournament writes it, without moves.
  std::map<std::string, int> strength{{"Ann", 3}, {"Bob", 2}, {"Cid", 1}, {"Dee", 0}};
  auto play = [&](const ScheduledGame& g) {
    const int edge = strength[g.white] - strength[g.black] + static_cast<int>(g.seed % 5) - 2;
    return to_pgn(with_roster("?", "?", std::to_string(g.round), g.white, g.black,
                              edge > 0 ? "1-0" : edge < 0 ? "0-1" : "1/2-1/2"));
  };
  std::string whole;
  for (const auto& g : games) whole += play(g);
  int unfinished = 0;
  const auto all = scores_from_pgn(testing_support::read_pgn(whole), unfinished);
  ASSERT_EQ(all.size(), games.size());
  EXPECT_EQ(unfinished, 0);
  std::string why;
  const Anchor anchor = default_anchor(players_of(all), all, why);
  const RatingTable one_run = fit_ratings(all, anchor);

  std::vector<GameScore> merged;
  for (int k = 3; k >= 1; --k) {  // the order the files are given in does not matter
    std::string shard_pgn;
    for (const auto& g : shard_of(games, {k, 3})) shard_pgn += play(g);
    for (const auto& s : scores_from_pgn(testing_support::read_pgn(shard_pgn), unfinished)) merged.push_back(s);
  }
  const RatingTable from_shards = fit_ratings(merged, anchor);
  ASSERT_EQ(from_shards.players.size(), names.size());
  for (const auto& p : one_run.players) {
    EXPECT_NEAR(row_of(from_shards, p.name).rating, p.rating, 1e-6) << p.name;
    EXPECT_NEAR(row_of(from_shards, p.name).margin, p.margin, 1e-6) << p.name;
  }
  EXPECT_EQ(std::tie(one_run.players.front().name, one_run.players.back().name), std::make_tuple("Ann", "Dee"));
}

TEST(RatingReport, AnchorsAndTheirDefaults) {
  EXPECT_EQ(parse_anchor("HOUD20c:1350=1350").name, "HOUD20c:1350");
  EXPECT_EQ(parse_anchor("a=b=-12.5").elo, -12.5);
  for (const char* bad : {"Gnome", "=100", "Gnome=", "Gnome=12x"}) EXPECT_THROW(parse_anchor(bad), UserError) << bad;
  std::string why;
  EXPECT_EQ(default_anchor({"Gnome", "HOUD20c:1500", "HOUD20c:1350"}, {}, why).name, "HOUD20c:1500");
  // Else the player the games fix best: never one that won or lost every game.
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1}, {"Talvo", "Gnome", 0}, {"Horus", "Gnome", 0.5},
                                     {"Gnome", "Fritz", 0}, {"Horus", "Fritz", 0.5}};
  const Anchor best = default_anchor({"Gnome", "Talvo", "Horus", "Fritz"}, games, why);
  EXPECT_EQ(std::tie(best.name, best.elo, why), std::make_tuple("Gnome", 750.0, "its roster strength; the player the games fix best"));
  const Anchor other = default_anchor({"Talvo", "Fritz", "Horus"}, {{"Fritz", "Horus", 0.5}, {"Talvo", "Fritz", 0}}, why);
  EXPECT_EQ(std::tie(other.name, other.elo, why), std::make_tuple("Fritz", 0.0, "0, as it is no persona; the player the games fix best"));
  // Every player swept or swept aside: the first name, and no claim about the games.
  const Anchor first = default_anchor({"Talvo", "Gnome"}, {{"Gnome", "Talvo", 1}}, why);
  EXPECT_EQ(std::tie(first.name, why), std::make_tuple("Talvo", "its roster strength"));
}

// Each pairing once, in the order it first played, counted from its first
// player's side whatever the colours; LOS from the decisive games only.
TEST(RatingReport, HeadToHeadCountsEachPairingFromItsFirstPlayersSide) {
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1}, {"Talvo", "Gnome", 0}, {"Horus", "Gnome", 0.5},
                                     {"Gnome", "Verevovera", 0}, {"Gnome", "Talvo", 0.5}};
  std::istringstream table(format_head_to_head(games));
  std::vector<std::string> rows;
  for (std::string row; std::getline(table, row);) rows.push_back(row);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "Pairing             Games      W-D-L   Score           Elo    LOS",
                      "Gnome - Talvo           3      2-1-0   83.3%  +280 +/- inf    92%",
                      "Horus - Gnome           1      0-1-0   50.0%      +0 +/- 0    50%",
                      "Gnome - Verevovera      1      0-0-1    0.0%          -inf    16%"}));
}

// A line per finished game as match runners print it, then the standings best
// first (ties in the order given), cut to the width asked for.
TEST(TournamentLog, EachGameThenTheStandingsSoFar) {
  std::ostringstream out;
  TournamentLog log(out, {"Talvo", "Gnome", "Horus"}, 3);
  PgnGame mate;
  mate.result = "1-0";
  mate.final_comment = "White mates";
  log.finished({0, 1, "Gnome", "Talvo"}, mate);
  PgnGame capped;
  capped.result = "1/2-1/2";
  capped.set_tag("Termination", "adjudication");
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

// The file that list, the page and UCI_Elo read: a bound where a player won or lost every game.
TEST(RatingReport, TheTsvFileReadsBackAsTheTableSaysWithItsBounds) {
  const std::vector<GameScore> games{{"Gnome", "Talvo", 1},   {"Talvo", "Gnome", 0},      {"Horus", "Gnome", 0.5},
                                     {"Horus", "Talvo", 1},   {"Verevovera", "Horus", 1}, {"Gnome", "Verevovera", 0},
                                     {"Gnome", "Horus", 0}};
  const RatingTable table = fit_ratings(games, Anchor{"Gnome", 750});
  std::istringstream tsv(ratings_tsv(table));
  std::string header;
  std::getline(tsv, header);
  EXPECT_EQ(header, "name\trating\tmargin\tgames\tbound\twins\tdraws\tlosses");
  tsv.seekg(0);
  const auto read = read_measured_ratings(tsv);
  ASSERT_EQ(read.size(), table.players.size());
  for (const PlayerRating& p : table.players) {
    SCOPED_TRACE(p.name);
    const MeasuredRating& m = read.at(p.name);
    EXPECT_NEAR(m.rating, p.rating, 0.05);
    EXPECT_NEAR(m.margin, p.margin, 0.05);
    EXPECT_EQ(m.games, p.games);
  }
  EXPECT_EQ(std::make_tuple(read.at("Talvo").bound, read.at("Horus").bound, read.at("Verevovera").bound),
            std::make_tuple(-1, 0, 1));
  EXPECT_EQ(measured_text(read.at("Gnome")), "750 anchor");
  EXPECT_EQ(std::make_tuple(read.at("Horus").games, read.at("Gnome").games), std::make_tuple(4, 5));
  // A sweep gets its virtual draw, and the table says so in the singular or the plural.
  const RatingTable one = fit_ratings({{"Gnome", "Talvo", 1}}, Anchor{"Gnome", 750});
  testing_support::expect_as_in_file("rating_tables.txt",
                                     format_rating_table(table, "given") + "\n" + format_rating_table(one, "given"));
}

// A game process answers a game it cannot play with one error line, whatever
// the error says, then the end mark: the tournament reads line by line.
TEST(GameWorker, AGameThatCannotBePlayedIsOneErrorLineThenTheEndMark) {
  testing_support::FakeEngine fake;
  std::istringstream in("{\"white\": \"Nobody\\r\\nat all\", \"black\": \"Talvo\"}\n");
  std::ostringstream out;
  run_game_worker(in, out);
  std::istringstream said(out.str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(said, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u) << out.str();
  EXPECT_TRUE(lines[0].starts_with(kErrorMark) && lines[0].find("Nobody  at all") != std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], kEndOfGame);
}

// A real tournament: two workers at once, each game on disk as it ends; a
// kill leaves no process behind and --resume plays only what is missing;
// ratings reads the file back.
TEST(TournamentCommand, GamesSurviveAKillAndResumePlaysTheRest) {
  testing_support::FakeEngine fake("default-score 0\n");
  testing_support::TempDir dir;
  const std::string pgn = dir.file("t.pgn");
  const std::vector<std::string> args{"tournament", "Talvo", "Isis", "Iduna", "--max-plies", "16",
                                      "--concurrency", "2", "--seed", "5", "--pgn", pgn, "--event", "E2E",
                                      "--site", "Lab"};
  {
    testing_support::CliProcess run(args);
    for (int i = 0; i < 600 && testing_support::count_of(testing_support::read_file(pgn), "[Event ") == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto below = testing_support::descendants(run.pid());
    ::kill(run.pid(), SIGKILL);
    run.wait();
    for (pid_t p : below) EXPECT_TRUE(testing_support::ends_within(p, std::chrono::seconds(5))) << "left running: " << p;
  }
  const std::size_t kept = testing_support::read_pgn(testing_support::read_file(pgn)).size();
  EXPECT_GE(kept, 1u);
  EXPECT_NE(testing_support::run_cli(args).err.find("--resume"), std::string::npos);  // never overwritten

  auto resumed = args;
  resumed.push_back("--resume");
  const auto run = testing_support::run_cli(resumed);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(testing_support::count_of(run.err, "Finished game "), static_cast<int>(6 - kept)) << run.err;
  const auto records = testing_support::read_pgn(testing_support::read_file(pgn));
  ASSERT_EQ(records.size(), 6u);
  std::set<std::string> rounds;
  for (const auto& r : records) rounds.insert(r.tag("Round"));
  EXPECT_EQ(rounds.size(), 6u);  // every game once
  EXPECT_EQ(std::make_pair(records[0].tag("Event"), records[5].tag("Site")), std::make_pair(std::string("E2E"), std::string("Lab")));
  // A broken game ahead of them is skipped whole and said; the others are rated.
  testing_support::write_file(pgn, "[White Bob]\n[Black \"Al\"]\n\n1. e4 1-0\n\n" + testing_support::read_file(pgn));
  const auto ratings = testing_support::run_cli({"ratings", pgn, "--anchor", "isis=250"});
  ASSERT_EQ(ratings.status, 0) << ratings.err;
  EXPECT_NE(ratings.err.find("game 1, line 1: the value of tag White is not quoted; game skipped"), std::string::npos)
      << ratings.err;
  EXPECT_NE(ratings.out.find("6 games from 1 file"), std::string::npos) << ratings.out;
  EXPECT_NE(ratings.out.find("Anchor: Isis fixed at 250"), std::string::npos) << ratings.out;
}

// Also: --resume on a file not there yet plays every game (calibrate.sh always
// passes it), and each game carries its players' strengths.
TEST(TournamentCommand, NeighboursMeetOnlyTheNextSpanNames) {
  testing_support::FakeEngine fake;
  testing_support::TempDir dir;
  const auto run = testing_support::run_cli({"tournament", "Talvo", "Horus", "Isis", "--format", "neighbours", "--span",
                                             "1", "--max-plies", "2", "--seed", "1", "--resume", "--pgn", dir.file("n.pgn")});
  ASSERT_EQ(run.status, 0) << run.err;
  std::multiset<std::string> pairs;
  const std::map<std::string, std::string> roster{{"Talvo", "100"}, {"Horus", "450"}, {"Isis", "250"}};
  for (const auto& g : testing_support::read_pgn(testing_support::read_file(dir.file("n.pgn")))) {
    pairs.insert(std::min(g.tag("White"), g.tag("Black")) + "-" + std::max(g.tag("White"), g.tag("Black")));
    EXPECT_EQ(std::make_pair(g.tag("WhiteElo"), g.tag("BlackElo")),
              std::make_pair(roster.at(g.tag("White")), roster.at(g.tag("Black"))));
    EXPECT_EQ(std::make_pair(g.tag("Termination"), g.result), std::make_pair(std::string("adjudication"), std::string("1/2-1/2")));
  }
  EXPECT_EQ(pairs, (std::multiset<std::string>{"Horus-Isis", "Horus-Isis", "Horus-Talvo", "Horus-Talvo"}));
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
  const auto run = testing_support::run_cli({"tournament", "Horus", "Talvo", "--rounds", "1", "--max-plies", "12", "--seed",
                                             "3", "--engine-timeout", "0.05", "--pgn", dir.file("t.pgn")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(testing_support::read_file(dir.file("t.pgn")).find("{Horus was cut short"), std::string::npos);
}

// A lopsided pair under --sprt: the test accepts H1 and the tournament stops
// there, long before its planned games are played.
TEST(TournamentCommand, SprtStopsALopsidedPairEarly) {
  if (::access("/usr/games/stockfish", X_OK) != 0) GTEST_SKIP() << "no engine";
  const auto run = testing_support::run_cli({"tournament", "Gnome", "Talvo", "--rounds", "40", "--sprt", "0,450,0.1,0.1",
                                             "--max-plies", "200", "--seed", "5"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("LLR 2.41 (-2.20, 2.20) [0, 450]: H1 accepted after 2 pairs"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("4 games, seed 5"), std::string::npos) << run.out;  // of 80 planned
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
  std::map<std::string, std::vector<std::string>> first;
  const auto new_games = [&] {
    const auto told = fake.received();
    return std::count(told.begin(), told.end(), std::string("ucinewgame"));
  };
  for (const char* concurrency : {"1", "2"}) {
    std::filesystem::remove(starts);
    const auto told_before = new_games();
    const std::string pgn = dir.file(std::string("c") + concurrency + ".pgn");
    const auto run = testing_support::run_cli({"tournament", "Talvo", "Isis", "Iduna", "--rounds", "2", "--max-plies",
                                               "40", "--adjudicate", "--concurrency", concurrency, "--seed", "8",
                                               "--pgn", pgn});
    ASSERT_EQ(run.status, 0) << run.err;
    if (std::string(concurrency) == "1")  // the line of each game as it ends, the tables, then the games
      testing_support::expect_as_in_file("tournament.txt", testing_support::replace_all(run.err + run.out, pgn, "PGN") +
                                                               testing_support::dateless(testing_support::read_file(pgn)));
    // 12 games; a worker starts an engine per persona and one for the judge, not three per game.
    const int workers = std::stoi(concurrency);
    EXPECT_LE(testing_support::count_of(testing_support::read_file(starts), "start"), 4 * workers);
    EXPECT_GE(new_games() - told_before, 3 * 12) << "each game is a new game for both personas and the judge";
    std::map<std::string, std::vector<std::string>> games;
    for (const auto& g : testing_support::read_pgn(testing_support::read_file(pgn))) {
      games[g.tag("Round")] = g.san;
      games[g.tag("Round")].push_back(g.result);
    }
    EXPECT_EQ(games.size(), 12u);
    EXPECT_NE(games["1.1"], games["1.2"]);  // the seed makes each game its own
    if (first.empty()) first = games;
    else EXPECT_EQ(games, first);
  }
  const auto got = fake.received();  // the judge searches every position at its depth
  EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const std::string& l) { return l.starts_with("go depth 8 "); }));
}

}  // namespace
}  // namespace ai_players::app
