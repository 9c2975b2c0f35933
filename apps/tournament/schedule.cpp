#include "tournament/schedule.h"

#include <charconv>
#include <cstdlib>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/text.h"
#include "game/user_error.h"

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
                                          int rounds, std::size_t openings, std::uint64_t seed, int span) {
  if (names.size() < 2) throw std::invalid_argument("a tournament needs at least two players");
  if (openings == 0) throw std::invalid_argument("a tournament needs at least one opening");
  if (span < 1) throw std::invalid_argument("a neighbour schedule needs a span of at least one");
  std::vector<std::pair<std::size_t, std::size_t>> pairings;
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t j = i + 1; j < names.size(); ++j)
      if (format == TournamentFormat::RoundRobin || (format == TournamentFormat::Gauntlet && i == 0) ||
          (format == TournamentFormat::Neighbours && j - i <= static_cast<std::size_t>(span)))
        pairings.emplace_back(i, j);

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
    throw UserError(fmt::format("{} is not a shard K/N with 1 <= K <= N", echoed(text)));
  return shard;
}

std::vector<ScheduledGame> shard_of(const std::vector<ScheduledGame>& games, Shard shard) {
  std::vector<ScheduledGame> slice;
  for (const ScheduledGame& g : games)
    if (g.index % shard.n == shard.k - 1) slice.push_back(g);
  return slice;
}

}  // namespace ai_players::app
