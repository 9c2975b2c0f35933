#include <gtest/gtest.h>

#include <functional>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using testing_support::FakeEngine;

namespace {
// A persona whose choice the test sets.
struct Chooser : AI_BASIC {
  Chooser() : AI_BASIC("Chooser", 100) {}
  std::function<MovePtr()> choose = [this] { return legalmoves.back(); };
  int calls = 0;
  std::optional<double> margin_seen;
  MovePtr GetReply_(std::optional<double> error_margin) override {
    ++calls;
    margin_seen = error_margin;
    return choose();
  }
};
// The position after the given moves from the initial one.
struct Game {
  board::Board b;
  MoveList history;
  Game(std::initializer_list<const char*> coords = {}) {
    for (const char* c : coords) history.push_back(b.parse_move(c)), b.make_internal_move(*history.back());
  }
  MoveList legal() const { return b.legal_moves(); }
};
bool searched(const FakeEngine& fake) {
  for (const auto& line : fake.received())
    if (line.starts_with("go") || line.starts_with("position")) return true;
  return false;
}
}  // namespace

TEST(ReplyDriver, ShortcutsNeedNoEngine) {
  FakeEngine fake;
  {
    Chooser p;
    const MoveList only = board::Board("7k/8/8/8/8/8/6q1/7K w - - 0 1").legal_moves();
    testing_support::CaptureEcho echo;
    EXPECT_EQ(p.GetReply(Game({"d2d4"}).history, only), only[0]);  // the very object
    EXPECT_EQ(echo.lines, std::vector<std::string>{"only_move"});
    EXPECT_TRUE(p.game_history.empty() && p.myside == 0);  // nothing stored
    EXPECT_EQ(p.GetReply({}, Game().legal())->to_coord(), "e2e4");
    EXPECT_EQ(p.GetReply(Game({"e2e4"}).history, Game({"e2e4"}).legal())->to_coord(), "e7e5");
    EXPECT_EQ(p.calls, 0);
    // Another start text, another first move: the persona chooses.
    p.GetReply({}, Game().legal(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 2");
    p.GetReply(Game({"d2d4"}).history, Game({"d2d4"}).legal());
    EXPECT_EQ(p.calls, 2);
  }
  EXPECT_FALSE(searched(fake));
}

TEST(ReplyDriver, StoresTheRequestAndRebuildsTheReply) {
  FakeEngine fake;
  Chooser p;
  const Game game({"d2d4", "g8f6", "c2c4"});
  const MoveList legal = game.legal(), other = game.legal();
  p.choose = [&] { return other.front(); };  // an object of another list: only its text counts
  const MovePtr reply = p.GetReply(game.history, legal, common::FEN_New_Game, false, 12.5);
  EXPECT_EQ(reply->to_coord(), other.front()->to_coord());
  EXPECT_TRUE(reply != legal.front() && reply != other.front());
  EXPECT_EQ(p.margin_seen, 12.5);
  EXPECT_EQ(p.game_history, game.history);
  EXPECT_TRUE(p.legalmoves == legal && &p.legalmoves != &legal);  // a copy sharing the moves
  EXPECT_EQ(std::make_pair(p.myside, p.oppside), std::make_pair(common::BLACK, common::WHITE));
  const Game white({"d2d4", "g8f6"});
  EXPECT_THROW(p.GetReply(white.history, white.legal()), board::IllegalMoveError);
  p.choose = [&] { return p.legalmoves.front(); };
  p.GetReply(white.history, white.legal(), "x");
  EXPECT_EQ(std::make_pair(p.myside, p.oppside), std::make_pair(common::WHITE, common::BLACK));
  EXPECT_EQ(p.start_fen, "x");
  p.choose = [] { return MovePtr(); };
  EXPECT_THROW(p.GetReply(game.history, legal), Error);
}

TEST(ReplyDriver, MasterRequestSearchesEvenAtTheStartAndTheBaseClassCannotChoose) {
  FakeEngine fake("score d2d4 50\nscore c2c4 30\n");
  Chooser p;
  ScriptedDraws draws({0.0});
  EXPECT_EQ(p.GetReply({}, Game().legal(), common::FEN_New_Game, true)->to_coord(), "d2d4");
  EXPECT_TRUE(p.calls == 0 && searched(fake));
  AI_BASIC plain("Plain", 100);
  EXPECT_THROW(plain.GetReply(Game({"d2d4"}).history, Game({"d2d4"}).legal()), Error);
}
