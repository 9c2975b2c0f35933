// A tournament's game list and its slices for several machines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ai_players::app {

// Neighbours: each name meets the next `span` names in the order given (the
// order of a running fit, say), so that games go where the expected score is
// nearest 50 % and not to sweeps.
enum class TournamentFormat { RoundRobin, Gauntlet, Neighbours };

struct ScheduledGame {
  int index = 0;        // position in the whole tournament, from 0
  int round = 1;        // from 1
  std::string white, black;
  std::size_t opening = 0;  // index into the openings
  std::uint64_t seed = 0;   // fixes the game on its own
};

// Every game: in each round every pairing (each pair of names, the first
// name against each other one, or each name against its next `span`) plays
// one opening twice with colours swapped.
// Openings are taken in an order shuffled by the seed, one per pairing and
// round, cycling when there are fewer openings than pairings.
std::vector<ScheduledGame> schedule_games(const std::vector<std::string>& names, TournamentFormat format,
                                          int rounds, std::size_t openings, std::uint64_t seed, int span = 1);

// The seed of one game from the tournament's seed and the game's index.
std::uint64_t game_seed(std::uint64_t tournament_seed, int index);

// "K/N": the K-th of N slices, 1 <= K <= N.
struct Shard {
  int k = 1, n = 1;
};
Shard parse_shard(const std::string& text);  // throws UserError
// The games whose index is K-1 modulo N: disjoint slices whose union is the
// whole list, each with a fair share of every pairing.
std::vector<ScheduledGame> shard_of(const std::vector<ScheduledGame>& games, Shard shard);

}  // namespace ai_players::app
