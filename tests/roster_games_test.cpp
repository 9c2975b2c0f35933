// Every roster persona that can be built plays a few moves of a real game
// against another one, with the real engine.
#include <gtest/gtest.h>

#include <memory>

#include "ai_players/core/errors.h"
#include "ai_players/personas/rosters.h"
#include "ai_players/personas/strong_gang.h"
#include "support/test_support.h"

using namespace ai_players;

namespace {

// Eight plies from a quiet Italian opening, so that the opening replies decide nothing.
void play_game(AI_BASIC& white, AI_BASIC& black) {
  board::Board b;
  MoveList history;
  for (const char* coord : {"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "f8c5"}) {
    history.push_back(b.parse_move(coord));
    b.make_internal_move(*history.back());
  }
  for (int ply = 0; ply < 8 && b.game_end() == board::GameEnd::None; ++ply) {
    AI_BASIC& player = ply % 2 == 0 ? white : black;
    const MoveList legal = b.legal_moves();
    const MovePtr reply = player.GetReply(history, legal);
    ASSERT_TRUE(reply);
    ASSERT_NO_THROW(b.parse_move(reply->to_coord())) << player.Name << " played " << reply->to_coord();
    b.make_internal_move(*reply);
    history.push_back(reply);
  }
}

TEST(RosterGames, EveryBuildablePersonaPlaysLegalMoves) {
  testing_support::ScopedEnv engine("AI_PLAYERS_ENGINE", testing_support::stockfish_path());
  testing_support::CaptureEcho quiet;
  std::vector<std::unique_ptr<AI_BASIC>> players;
  for (const RosterRow& row : get_beginner_list())
    players.push_back(std::make_unique<BEGINNER_GANG>(row.name, row.rate, row.strength));
  for (const RosterRow& row : get_strong_list()) {
    const Number rate = std::get<Number>(row.rate);
    if (rate == Number(1))  // beyond the strong gang's master-rate range
      EXPECT_THROW(STRONG_GANG(row.name, rate, row.strength), AssertionError) << row.name;
    else
      players.push_back(std::make_unique<STRONG_GANG>(row.name, rate, row.strength));
  }
  ASSERT_EQ(players.size(), 11u);
  for (std::size_t i = 0; i < players.size(); i += 2) {
    SCOPED_TRACE(players[i]->Name);
    play_game(*players[i], *players[(i + 1) % players.size()]);
  }
}

}  // namespace
