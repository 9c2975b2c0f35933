// The one way a played game becomes PGN, whoever played it.
#pragma once

#include <optional>
#include <string>

#include "game/game_state.h"
#include "game/time_control.h"
#include "pgn/pgn_game.h"

namespace ai_players::app {

// Who played a game and under what terms. Players are named as `ratings`
// reads them: a persona by its name ("Diana", "HOUD20c:1500") with its
// strength as the Elo tag, a person as "Human" without one.
struct GameTags {
  std::string event = "?", site = "?", round = "?";
  std::string white = "?", black = "?";
  std::optional<int> white_elo, black_elo;
  std::optional<TimeControl> clock;
  std::string opening;  // the Opening tag; empty: none
  // The engine persona's search limits, when a game gives it its own
  // (WhiteSearch, BlackSearch); empty: none.
  std::string white_search, black_search;
};

inline constexpr const char* kHumanName = "Human";

// The seven tags, SetUp and FEN for another start, Termination (its standard
// value, with the specific reason as the final comment), WhiteElo, BlackElo,
// TimeControl, Opening and PlyCount; every move with its comment. A game
// still going on is "*" and unterminated.
PgnGame pgn_of(const PlayedGame& game, const GameTags& tags);

}  // namespace ai_players::app
