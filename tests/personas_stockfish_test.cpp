#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/verevovera.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::ScopedEnv;

namespace {
bool is_legal(const MoveList& legal, const std::string& coord) {
  return std::any_of(legal.begin(), legal.end(), [&](const MovePtr& m) { return m->to_coord() == coord; });
}
// Plays the moves on b and returns them as the game history.
MoveList play(board::Board& b, std::initializer_list<const char*> coords) {
  MoveList history;
  for (const char* c : coords) history.push_back(b.parse_move(c)), b.make_internal_move(*history.back());
  return history;
}
}  // namespace

class WithStockfish : public ::testing::Test {
  void SetUp() override {
    if (::access(testing_support::stockfish_path(), X_OK) != 0) GTEST_SKIP() << "no stockfish";
  }
  ScopedEnv engine{"AI_PLAYERS_ENGINE", testing_support::stockfish_path()};
  ScopedEnv elo_engine{"AI_PLAYERS_ELO_ENGINE", std::nullopt};
  testing_support::CaptureEcho quiet;
};

TEST_F(WithStockfish, VerevoveraPlaysItselfAndPreviews) {
  // King and queen against king: quick searches, and the game lasts a dozen plies.
  const std::string fen = "8/8/8/4k3/8/8/8/3QK3 w - - 0 1";
  Verevovera v;
  board::Board b(fen);
  MoveList history;
  for (int ply = 0; ply < 12; ++ply) {
    const MoveList legal = b.legal_moves();
    const MovePtr reply = v.GetReply(history, legal, fen);
    ASSERT_TRUE(is_legal(legal, reply->to_coord())) << reply->to_coord() << " at ply " << ply;
    history.push_back(reply), b.make_internal_move(*reply);
  }
  const MoveList legal = b.legal_moves();
  const Preview p = v.Ask_For_Preview(history, *legal.back(), legal, fen);
  EXPECT_TRUE(is_legal(legal, p.best_line.at(0)));
  EXPECT_GE(p.best_score, p.actual_score);
}

TEST_F(WithStockfish, HOUD20cAnswersWithALegalMove) {
  // Two plies in, White mates shortly: a depth-30 search is quick here.
  const std::string fen = "k7/8/2K5/8/8/8/8/6Q1 w - - 0 1";
  board::Board b(fen);
  const MoveList history = play(b, {"g1h1", "a8b8"});
  HOUD20c h(1500);
  const MoveList legal = b.legal_moves();
  EXPECT_TRUE(is_legal(legal, h.GetReply(history, legal, fen)->to_coord()));
}
