// The beginner personas against scripted engine lines and scripted draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/personas/beginner_gang.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;

namespace {

const std::string kAfterD4 = "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1";

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
bool logged(const CaptureEcho& echo, const std::string& line) {
  return std::find(echo.lines.begin(), echo.lines.end(), line) != echo.lines.end();
}

TEST(BeginnerGang, ConstructorChecksAndLog) {
  FakeEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(BEGINNER_GANG("Isis"), AssertionError);  // no rate given
  EXPECT_THROW(BEGINNER_GANG("Isis", Number(1.01), 250), AssertionError);
  EXPECT_THROW(BEGINNER_GANG("Isis", Number(-0.94)), AssertionError);  // no elo given
  BEGINNER_GANG novice("NOVICE", Number(0.27)), talvo("Talvo", RandomRate{}, 100);
  EXPECT_TRUE(logged(echo, "gang:BEGINNER; elo:270.0; D2_RATE:0.27"));
  EXPECT_TRUE(logged(echo, "gang:BEGINNER; elo:100; D2_RATE:random"));
  const std::string random_move = reply(talvo, {0.0});  // random: the first legal move, no search
  EXPECT_EQ(random_move, talvo.legalmoves[0]->to_coord());
  const auto sent = fake.received();
  EXPECT_TRUE(std::none_of(sent.begin(), sent.end(), [](const std::string& l) { return l.starts_with("go"); }));
}

TEST(BeginnerGang, FilterSettingsFollowTheRateOnEveryReply) {
  FakeEngine fake("score e2e4 mate 2 d5e4\n");  // a won game: the top move, one draw
  BEGINNER_GANG horus("Horus", Number(0.0), 450);
  struct Case {
    double rate;
    std::vector<double> draws;  // [capture mania,] SEE_RANGE, SCAN_N, choice
    int see_range;
    bool scan_n;
  };
  for (const Case& c : std::vector<Case>{{0.0, {0.0, 0.2, 0.0}, 2, true},
                                         {0.0, {0.999, 0.21, 0.0}, 7, false},
                                         {0.25, {0.0, 0.75, 0.0}, 4, false},
                                         {1.0, {0.0, 0.99, 0.0}, 7, true},
                                         {-0.94, {0.95, 0.5, 0.2, 0.0}, 4, true}}) {
    horus.D2_RATE = Number(c.rate);
    EXPECT_EQ(reply(horus, c.draws), "e2e4");
    EXPECT_EQ(horus.SEE_RANGE, c.see_range) << c.rate;
    EXPECT_EQ(horus.SCAN_N, c.scan_n) << c.rate;
  }
  // Above 800 the rate is drawn afresh from 0.8 to 1.0 on every reply, even over "random".
  BEGINNER_GANG epona("disabled.Epona", RandomRate{}, 1050);
  EXPECT_EQ(reply(epona, {0.5, 0.0, 0.0, 0.0}), "e2e4");
  EXPECT_DOUBLE_EQ(std::get<Number>(epona.D2_RATE).value(), 0.9);
}

TEST(BeginnerGang, CaptureManiaReplies) {
  const auto mania = [](const std::string& script, const std::string& before, const std::string& move,
                        std::vector<double> draws) {
    FakeEngine fake(script);
    CaptureEcho echo;
    BEGINNER_GANG isis("Isis", Number(-0.94), 250);
    return reply(isis, std::move(draws), before, move);
  };
  EXPECT_EQ(mania("score e1g1 50 e8g8\n", "r3k2r/pppq1ppp/2n2n2/3pp3/3PP3/2N2N2/PPPQ1PPP/R3K2R b KQkq - 0 8", "h7h6",
                  {0.5}),
            "e1g1");  // the engine's castling
  // Bxg7 takes a rook with a minor piece and counts twice next to exd5 (Qxd5 not at all): of
  // two draws that would both pick exd5 from a single listing, one now picks Bxg7.
  const std::string grab = "1k6/6r1/8/3n4/4P3/8/1B6/3Q3K b - - 0 20";
  EXPECT_EQ((std::set<std::string>{mania("score h1h2 20 a8b8\n", grab, "b8a8", {0.5, 0.5}),
                                   mania("score h1h2 20 a8b8\n", grab, "b8a8", {0.5, 0.7})}),
            (std::set<std::string>{"b2g7", "e4d5"}));
  // Nothing to capture: a won late game gives the engine's move; otherwise a random move,
  // a king move only from move 20 on.
  const auto quiet = [](int number) { return "7k/8/8/8/8/8/PP6/6K1 b - - 0 " + std::to_string(number); };
  EXPECT_EQ(mania("score a2a4 1300 g8f7\n", quiet(24), "h8g8", {0.5, 0.3}), "a2a4");
  board::Board b(quiet(19));
  b.make_internal_move(*b.parse_move("h8g8"));
  const MoveList legal = b.legal_moves();
  const auto king = std::find_if(legal.begin(), legal.end(), [](auto& m) { return m->FromSQ == common::to_num("g1"); });
  const double at_king = (static_cast<double>(king - legal.begin()) + 0.5) / static_cast<double>(legal.size());
  EXPECT_EQ(mania("score a2a4 50 g8f7\n", quiet(19), "h8g8", {0.5, at_king}), (*king)->to_coord());
  EXPECT_FALSE(mania("score a2a4 50 g8f7\n", quiet(14), "h8g8", {0.5, at_king}).starts_with("g1"));
}

}  // namespace
