// The strong personas against scripted engine lines and scripted draws.
#include <gtest/gtest.h>

#include <algorithm>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/personas/strong_gang.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;

namespace {

const std::string kAfterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1";
// Nf3 and e4 tie at the top after 1.d4 d5; a2a3 is the move of the endgames below.
const std::string kScript = "score g1f3 30 g8f6\nscore e2e4 30 d5e4\nscore a2a3 10 h7h6\n";

// The reply after the opponent's `move` from `before`, with exactly these draws.
std::string reply(AI_BASIC& p, std::vector<double> draws, const std::string& before = kAfterD4,
                  const std::string& move = "d7d5") {
  board::Board b(before);
  const MovePtr last = b.parse_move(move);
  b.make_internal_move(*last);
  ScriptedDraws d(std::move(draws));
  const std::string r = p.GetReply({last}, b.legal_moves(), before)->to_coord();
  EXPECT_EQ(d.remaining(), 0u);
  return r;
}
bool has(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
}

TEST(StrongGang, ConstructorRatesAndChecks) {
  FakeEngine fake;
  CaptureEcho echo;
  STRONG_GANG diana("Diana", Number(0.06), 1350), keen("keen", Number(0.5), 2000);
  EXPECT_TRUE(has(echo.lines, "gang:STRONG; elo:1350; D2_RATE:0.59; M_RATE:0.06"));
  EXPECT_DOUBLE_EQ(diana.NODES_, 65536 + 5683200 * 0.06);
  EXPECT_EQ(keen.D2_RATE, 0.975);
  EXPECT_EQ(to_text(STRONG_GANG("strong", Number(0.25)).ELO), "250.0");
  for (double bad : {0.51, -0.01}) EXPECT_THROW(STRONG_GANG("x", Number(bad), 1500), AssertionError);
  EXPECT_THROW(STRONG_GANG("Diana", Number(0.06)), AssertionError);  // no elo given
}

TEST(StrongGang, SearchDepthRatesAndMasterSequence) {
  FakeEngine fake(kScript);
  CaptureEcho echo;
  STRONG_GANG diana("Diana", Number(0.06), 1350), ceres("Ceres", Number(0.06), 1550);
  // Draws: depth 4?, [depth 3?,] master move?, then the development draw and its choice.
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "topmove of ['Nf3', 'e4']") && has(fake.received(), "go depth 2 searchmoves"));
  EXPECT_TRUE(diana.SCAN_N && diana.SEE_RANGE == 8);
  EXPECT_EQ(reply(diana, {0.9, 0.1, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "d2_depth=3") && has(fake.received(), "go depth 3 searchmoves"));
  EXPECT_EQ(reply(diana, {0.0, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "d2_depth=4") && has(fake.received(), "go depth 4 searchmoves"));
  // Above 1400 the master rate is drawn afresh (0.3 to 0.4); the node budget stays.
  EXPECT_EQ(reply(ceres, {0.5, 0.9, 0.9, 0.9, 0.0, 0.0}), "g1f3");
  EXPECT_DOUBLE_EQ(ceres.M_RATE, 0.35);
  EXPECT_DOUBLE_EQ(ceres.NODES_, diana.NODES_);

  // A master move: the probe settles on depth 11, so the sequence starts at 14.
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.0, 0.99}), "e2e4");
  EXPECT_TRUE(has(echo.lines, "m-move @ move ") && has(fake.received(), "go infinite"));
  EXPECT_EQ(diana.MasterMove_Depth, 14);
  // While it runs deep the master rate is a third: 0.05 no longer draws a master move.
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.05, 0.0}), "g1f3");
  EXPECT_TRUE(has(echo.lines, "master_continuation 14 depth") && has(fake.received(), "go depth 10 searchmoves"));
  // A sequence that ends falls through to the shallow choice in the same reply.
  diana.MasterMove_Depth = 5;
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.05, 0.0, 0.0}), "g1f3");
  EXPECT_EQ(diana.MasterMove_Depth, 0);
}

TEST(StrongGang, WithoutATopMove) {
  FakeEngine fake(kScript);
  CaptureEcho echo;
  STRONG_GANG diana("Diana", Number(0.06), 1350);
  // Past move 10 one draw declines the top move; after a quiet ply the non-silly choice
  // decides (queen care, constrained piece, choice, pawn acceptance).
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.9, 0.9, 0.5, 0.5, 0.0, 0.05}, "4k3/8/8/3p4/8/2N5/PP6/4K3 b - - 0 15", "e8d7"),
            "a2a3");
  EXPECT_TRUE(has(echo.lines, ".x.-select-non-sillymove") && diana.DEBUG_topD2moves.size() == 1);
  // After a capture any candidate will do, and nothing is kept for diagnostics.
  diana.DEBUG_topD2moves.clear();
  EXPECT_EQ(reply(diana, {0.9, 0.9, 0.9, 0.9, 0.0}, "4k3/8/8/8/3p4/2N5/PP6/4K3 b - - 0 15", "d4c3"), "a2a3");
  EXPECT_TRUE(has(echo.lines, "16 capture-sequence") && diana.DEBUG_topD2moves.empty());
}

}  // namespace
