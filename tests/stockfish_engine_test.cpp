// The candidate searches against the real engine.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "ai_players/engine/ai_basic.h"
#include "support/test_support.h"

using namespace ai_players;
using namespace testing_support;

TEST(RealEngine, DepthAndNodeSearchesGiveDistinctLegalCandidatesBestFirst) {
  CaptureEcho quiet;
  AI_BASIC p("Stockfish", 3000, std::nullopt, {stockfish_path(), {}});
  for (const char* fen : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                          "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4",  // mate in one
                          "8/2k5/8/3P4/8/8/5K2/8 b - - 0 1",
                          "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"}) {
    p.start_fen = fen;
    p.legalmoves = board::Board(fen).legal_moves();
    std::set<std::string> legal;
    for (const auto& m : p.legalmoves) legal.insert(m->to_coord());
    for (const bool budget : {false, true}) {
      const auto got = budget ? p.obtain_engine_thoughts(3, 0, 50000) : p.obtain_engine_thoughts(4, 6);
      ASSERT_EQ(got.size(), std::min<std::size_t>(budget ? 3 : 4, legal.size())) << fen;
      std::set<std::string> seen;
      for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_FALSE(got[i].pv_list.empty()) << fen;
        EXPECT_TRUE(legal.count(got[i].pv_list[0]) && seen.insert(got[i].pv_list[0]).second) << got[i].pv_list[0];
        EXPECT_TRUE(i == 0 || got[i - 1].score >= got[i].score) << fen;
      }
      EXPECT_TRUE(!budget || (p.last_search_depth >= 1 && p.last_search_depth <= 30)) << fen;
      if (std::string(fen).starts_with("r1bqkb1r")) {
        EXPECT_EQ(std::tie(got[0].pv_list[0], got[0].score), std::make_tuple("h5f7", MATE_IN(1)));
      }
    }
  }
}
