// Tournament games played by worker processes of this program, several at a
// time: each worker plays one game after another, and its engines end with
// it, as it ends with the tournament.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tournament/tournament_game.h"

namespace ai_players::app {

struct FinishedGame {
  std::size_t index = 0;  // into the list of terms
  std::string pgn;        // empty when the game failed
  std::string error;      // why it failed
};

// Plays every game on `concurrency` workers, calling `finished` (one call at
// a time) as each game ends, in the order they end. A game whose worker
// fails is played once more on a fresh worker. A worker that shows no
// sign of life (a move, or the end of its game) for `patience` is ended and
// its game failed; none: wait as long as it takes. Stops starting games once
// `stop` is set.
void play_games(const std::vector<GameTerms>& games, int concurrency,
                std::optional<std::chrono::milliseconds> patience,
                const std::function<void(const FinishedGame&)>& finished, const std::atomic<bool>& stop);

// The program that runs the workers: this one (tests may point elsewhere).
std::string worker_program();

}  // namespace ai_players::app
