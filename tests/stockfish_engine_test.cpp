// The candidate searches against the real engine.
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/engine/ai_basic.h"
#include "support/test_support.h"

using namespace ai_players;
using namespace testing_support;

namespace {

const char* kPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4",  // mate in one
    "8/2k5/8/3P4/8/8/5K2/8 b - - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
};

class RealEngine : public ::testing::Test {
 protected:
  void check(const char* fen, int multipv, const std::vector<Analysis>& got) {
    const auto legal = board::Board(fen).legal_moves();
    std::set<std::string> legal_texts, seen;
    for (const auto& m : legal) legal_texts.insert(m->to_coord());
    ASSERT_EQ(got.size(), std::min<std::size_t>(multipv, legal.size())) << fen;
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_FALSE(got[i].pv_list.empty()) << fen;
      EXPECT_TRUE(legal_texts.count(got[i].pv_list[0])) << got[i].pv_list[0] << " in " << fen;
      EXPECT_TRUE(seen.insert(got[i].pv_list[0]).second) << "repeated " << got[i].pv_list[0];
      if (i > 0) {
        EXPECT_GE(got[i - 1].score, got[i].score) << fen;
      }
    }
  }
  AI_BASIC& player(const char* fen) {
    p_.start_fen = fen;
    p_.legalmoves = board::Board(fen).legal_moves();
    return p_;
  }

  ScopedEnv engine_{"AI_PLAYERS_ENGINE", stockfish_path()};
  CaptureEcho quiet_;
  AI_BASIC p_{"Stockfish", 3000};
};

}  // namespace

TEST_F(RealEngine, DepthSearchGivesDistinctLegalCandidatesBestFirst) {
  for (const char* fen : kPositions) check(fen, 4, player(fen).obtain_engine_thoughts(4, 6));
  const auto mate = player(kPositions[1]).obtain_engine_thoughts(2, 4);
  EXPECT_EQ(mate[0].pv_list[0], "h5f7");
  EXPECT_EQ(mate[0].score, MATE_IN(1));
}

TEST_F(RealEngine, NodeBudgetSearchProbesThenSearches) {
  for (const char* fen : kPositions) {
    check(fen, 3, player(fen).obtain_engine_thoughts(3, 0, 100000));
    EXPECT_GE(p_.last_search_depth, 1) << fen;
    EXPECT_LE(p_.last_search_depth, 30) << fen;
  }
}
