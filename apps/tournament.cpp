#include "tournament.h"

#include <charconv>
#include <cstdlib>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/host/common.h"

namespace ai_players::app {
namespace {

// A small generator of our own, so that every machine of a sharded
// tournament draws the same schedule whatever its standard library.
std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

std::uint64_t game_seed(std::uint64_t tournament_seed, int index) {
  std::uint64_t state = tournament_seed ^ (0xD1B54A32D192ED03ULL * (static_cast<std::uint64_t>(index) + 1));
  return splitmix64(state);
}

std::vector<ScheduledGame> schedule_games(const std::vector<std::string>& names, TournamentFormat format,
                                          int rounds, std::size_t openings, std::uint64_t seed) {
  if (names.size() < 2) throw std::invalid_argument("a tournament needs at least two players");
  if (openings == 0) throw std::invalid_argument("a tournament needs at least one opening");
  std::vector<std::pair<std::size_t, std::size_t>> pairings;
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t j = i + 1; j < names.size(); ++j)
      if (format == TournamentFormat::RoundRobin || i == 0) pairings.emplace_back(i, j);

  std::vector<std::size_t> order(openings);
  for (std::size_t i = 0; i < openings; ++i) order[i] = i;
  std::uint64_t state = seed;
  for (std::size_t i = openings; i > 1; --i) std::swap(order[i - 1], order[splitmix64(state) % i]);

  std::vector<ScheduledGame> games;
  std::size_t encounter = 0;
  for (int r = 0; r < rounds; ++r)
    for (std::size_t p = 0; p < pairings.size(); ++p, ++encounter) {
      auto [a, b] = pairings[p];
      if ((r + p) % 2 == 1) std::swap(a, b);
      for (int twice = 0; twice < 2; ++twice) {
        ScheduledGame game;
        game.index = static_cast<int>(games.size());
        game.round = r + 1;
        game.white = names[twice == 0 ? a : b];
        game.black = names[twice == 0 ? b : a];
        game.opening = order[encounter % openings];
        game.seed = game_seed(seed, game.index);
        games.push_back(game);
      }
    }
  return games;
}

Shard parse_shard(const std::string& text) {
  const auto slash = text.find('/');
  Shard shard;
  auto number = [&](std::string_view part, int& out) {
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), out);
    return ec == std::errc() && end == part.data() + part.size();
  };
  if (slash == std::string::npos || !number(std::string_view(text).substr(0, slash), shard.k) ||
      !number(std::string_view(text).substr(slash + 1), shard.n) || shard.n < 1 || shard.k < 1 ||
      shard.k > shard.n)
    throw std::invalid_argument(fmt::format("'{}' is not a shard K/N with 1 <= K <= N", text));
  return shard;
}

std::vector<ScheduledGame> shard_of(const std::vector<ScheduledGame>& games, Shard shard) {
  std::vector<ScheduledGame> slice;
  for (const ScheduledGame& g : games)
    if (g.index % shard.n == shard.k - 1) slice.push_back(g);
  return slice;
}

std::optional<Verdict> Adjudicator::add(int ply, const Evaluation& eval) {
  const int score = eval.white_cp();
  white_ahead_ = score >= rule_.win_cp ? white_ahead_ + 1 : 0;
  black_ahead_ = score <= -rule_.win_cp ? black_ahead_ + 1 : 0;
  level_ = std::abs(score) <= rule_.draw_cp ? level_ + 1 : 0;
  const double pawns = rule_.win_cp / 100.0;
  if (white_ahead_ >= rule_.win_plies)
    return Verdict{"1-0", fmt::format("adjudicated: White was {:g} pawns or more ahead for {} plies", pawns,
                                      rule_.win_plies)};
  if (black_ahead_ >= rule_.win_plies)
    return Verdict{"0-1", fmt::format("adjudicated: Black was {:g} pawns or more ahead for {} plies", pawns,
                                      rule_.win_plies)};
  if (level_ >= rule_.draw_plies && ply >= rule_.draw_from_ply)
    return Verdict{"1/2-1/2", fmt::format("adjudicated: the score stayed within {:g} pawns for {} plies",
                                          rule_.draw_cp / 100.0, rule_.draw_plies)};
  return std::nullopt;
}

namespace {

// Thrown by a mover once the judge has spoken, to end the game there.
struct Adjudicated : MoverFailure {
  Adjudicated() : MoverFailure("adjudicated") {}
};

}  // namespace

PgnGame play_tournament_game(const GameTerms& terms, const Mover& white, const Mover& black, const Judge& judge,
                             AdjudicationRule rule) {
  const std::vector<std::string>& book = terms.opening.moves;
  std::optional<Verdict> verdict;
  Adjudicator adjudicator(rule);
  auto with_book = [&](const Mover& mover) {
    return Mover([&book, &verdict, &mover](const MoveRequest& request) {
      if (request.history.size() < book.size())
        return MoveReply{board::make_move(book[request.history.size()], request.legal), ""};
      if (verdict) throw Adjudicated();
      return mover(request);
    });
  };
  // The judge looks at every position from the end of the opening on; its
  // time is not on the players' clocks.
  MoveObserver observer;
  if (judge)
    observer = [&](const PlayedGame& game) {
      if (!verdict && game.moves.size() >= book.size())
        verdict = adjudicator.add(static_cast<int>(game.moves.size()), judge(game.start_fen, game.moves));
    };
  const std::string fen = terms.opening.fen.empty() ? std::string(common::FEN_New_Game) : terms.opening.fen;
  PlayedGame game = play_game(with_book(white), with_book(black),
                              GameSetup{fen, terms.max_plies, terms.clock, std::nullopt}, observer);

  PgnGame pgn;
  pgn.event = terms.event;
  pgn.site = terms.site;
  pgn.date = pgn_date_today();
  pgn.round = terms.round;
  pgn.white = terms.white;
  pgn.black = terms.black;
  if (fen != common::FEN_New_Game) pgn.fen = fen;
  pgn.san = game.san;
  pgn.comments = game.comments;
  const std::string& why = game.outcome.termination;
  if (verdict && (why == "abandoned" || why == "unterminated")) {
    pgn.result = verdict->result;
    pgn.termination = "adjudication";
    pgn.final_comment = verdict->reason;
  } else if (why == "unterminated") {
    pgn.result = "1/2-1/2";
    pgn.termination = "adjudication";
    pgn.final_comment = fmt::format("adjudicated: a draw at the {}-ply limit", terms.max_plies);
  } else if (why == "abandoned") {
    pgn.result = "*";
    pgn.termination = "unterminated";
    pgn.final_comment = "abandoned: " + game.final_comment;
  } else {
    pgn.result = game.outcome.result;
    pgn.termination = pgn_termination(why);
    pgn.final_comment = game.final_comment.empty() ? why : game.final_comment;
  }
  if (!terms.white_elo.empty()) pgn.more_tags.emplace_back("WhiteElo", terms.white_elo);
  if (!terms.black_elo.empty()) pgn.more_tags.emplace_back("BlackElo", terms.black_elo);
  if (terms.clock) pgn.more_tags.emplace_back("TimeControl", terms.clock->pgn());
  if (!terms.opening.name.empty()) pgn.more_tags.emplace_back("Opening", terms.opening.name);
  return pgn;
}

}  // namespace ai_players::app
