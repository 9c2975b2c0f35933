#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/verevovera.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureBugprint;
using testing_support::CaptureEcho;
using testing_support::ScopedEnv;

namespace {

bool has_stockfish() { return ::access(testing_support::stockfish_path(), X_OK) == 0; }

std::vector<std::string> coords(const MoveList& moves) {
  std::vector<std::string> out;
  for (const auto& m : moves) out.push_back(m->to_coord());
  return out;
}

bool contains(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

}  // namespace

TEST(PersonasWithStockfish, VerevoveraPlaysLegalMovesAgainstItselfAndPreviews) {
  if (!has_stockfish()) GTEST_SKIP() << "no " << testing_support::stockfish_path();
  ScopedEnv engine("AI_PLAYERS_ENGINE", testing_support::stockfish_path());
  CaptureEcho quiet;
  CaptureBugprint quiet_too;
  Verevovera v;

  // King and queen against king: the searches are quick and the game lasts.
  const std::string fen = "8/8/8/4k3/8/8/8/3QK3 w - - 0 1";
  board::Board b(fen);
  MoveList history;
  for (int ply = 0; ply < 12; ++ply) {
    const MoveList legal = b.legal_moves();
    ASSERT_FALSE(legal.empty()) << "game over at ply " << ply;
    const MovePtr reply = v.GetReply(history, legal, fen);
    ASSERT_TRUE(reply);
    ASSERT_TRUE(contains(coords(legal), reply->to_coord())) << reply->to_coord() << " at ply " << ply;
    b.make_internal_move(*reply);
    history.push_back(reply);
  }

  // Preview a dubious human move in the position reached.
  const MoveList legal = b.legal_moves();
  const MovePtr human = legal.back();
  const Preview p = v.Ask_For_Preview(history, *human, legal, fen);
  ASSERT_FALSE(p.best_line.empty());
  EXPECT_TRUE(contains(coords(legal), p.best_line.front()));
  EXPECT_GE(p.best_score, p.actual_score);
}

TEST(PersonasWithStockfish, HOUD20cAnswersWithALegalMoveInAnEndgame) {
  if (!has_stockfish()) GTEST_SKIP() << "no " << testing_support::stockfish_path();
  ScopedEnv engine("AI_PLAYERS_ENGINE", testing_support::stockfish_path());
  ScopedEnv elo_engine("AI_PLAYERS_ELO_ENGINE", std::nullopt);
  CaptureEcho quiet;
  // Two plies in, White mates in a few moves: a depth-30 search is short.
  const std::string fen = "k7/8/2K5/8/8/8/8/6Q1 w - - 0 1";
  board::Board b(fen);
  MoveList history;
  for (const char* c : {"g1h1", "a8b8"}) {
    const MovePtr m = b.parse_move(c);
    b.make_internal_move(*m);
    history.push_back(m);
  }
  HOUD20c h(1500);
  const MoveList legal = b.legal_moves();
  const MovePtr reply = h.GetReply(history, legal, fen);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(contains(coords(legal), reply->to_coord())) << reply->to_coord();
}
