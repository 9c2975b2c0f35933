#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "support/fake_engine_session.h"
#include "support/test_support.h"

using namespace ai_players;
using testing_support::CaptureEcho;
using testing_support::FakeEngine;

namespace {

// A persona whose choice the test sets.
class Chooser : public AI_BASIC {
 public:
  Chooser() : AI_BASIC("Chooser", 100) {}
  std::function<MovePtr()> choose;
  int calls = 0;
  std::optional<double> margin_seen;
  MovePtr GetReply_(std::optional<double> error_margin) override {
    ++calls;
    margin_seen = error_margin;
    return choose();
  }
};

MovePtr find(const MoveList& moves, const std::string& coord) {
  for (const auto& m : moves)
    if (m->to_coord() == coord) return m;
  throw std::runtime_error(coord + " is not legal");
}

// The legal moves and history after playing coords from the initial position.
struct Game {
  board::Board b;
  MoveList history;
  explicit Game(std::vector<std::string> coords = {}) {
    for (const auto& c : coords) {
      MovePtr m = find(b.legal_moves(), c);
      b.make_internal_move(*m);
      history.push_back(m);
    }
  }
  MoveList legal() const { return b.legal_moves(); }
};

bool engine_searched(const FakeEngine& fake) {
  for (const auto& line : fake.received())
    if (line.starts_with("go") || line.starts_with("position")) return true;
  return false;
}

}  // namespace

TEST(ReplyDriver, SingleLegalMoveIsReturnedAsItIs) {
  FakeEngine fake;
  {
    Chooser p;
    const Game earlier({"d2d4"});
    p.game_history = earlier.history;
    const MoveList only = board::Board("7k/8/8/8/8/8/6q1/7K w - - 0 1").legal_moves();
    ASSERT_EQ(only.size(), 1u);
    CaptureEcho echo;
    const MovePtr reply = p.GetReply({}, only, "7k/8/8/8/8/8/6q1/7K w - - 0 1");
    EXPECT_EQ(reply, only[0]);  // the very object
    EXPECT_EQ(echo.lines, std::vector<std::string>{"only_move"});
    EXPECT_EQ(p.calls, 0);
    EXPECT_EQ(p.game_history, earlier.history);  // nothing stored
    EXPECT_EQ(p.start_fen, common::FEN_New_Game);
    EXPECT_EQ(p.myside, 0);
  }
  EXPECT_FALSE(engine_searched(fake));
}

TEST(ReplyDriver, FixedOpeningRepliesOnlyFromTheStandardStart) {
  FakeEngine fake;
  {
    Chooser p;
    p.choose = [&] { return p.legalmoves.back(); };

    const Game start;
    const MoveList start_moves = start.legal();
    EXPECT_EQ(p.GetReply({}, start_moves)->to_coord(), "e2e4");
    const Game after_e4({"e2e4"});
    EXPECT_EQ(p.GetReply(after_e4.history, after_e4.legal())->to_coord(), "e7e5");
    EXPECT_EQ(p.calls, 0);

    // Any other start text, any other first move, or a master request: no shortcut.
    const std::string same_position_other_text = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 2";
    EXPECT_EQ(p.GetReply({}, start_moves, same_position_other_text)->to_coord(),
              start_moves.back()->to_coord());
    const Game after_d4({"d2d4"});
    const MoveList d4_moves = after_d4.legal();
    EXPECT_EQ(p.GetReply(after_d4.history, d4_moves)->to_coord(), d4_moves.back()->to_coord());
    const Game after_e4_e5({"e2e4", "e7e5"});
    EXPECT_EQ(p.GetReply(after_e4_e5.history, after_e4_e5.legal())->to_coord(),
              after_e4_e5.legal().back()->to_coord());
    EXPECT_EQ(p.calls, 3);
  }
  EXPECT_FALSE(engine_searched(fake));
}

TEST(ReplyDriver, StoresTheRequestAndRebuildsTheReplyFromTheCallersList) {
  FakeEngine fake;
  Chooser p;
  const Game game({"d2d4", "g8f6", "c2c4"});
  const MoveList legal = game.legal();
  // The persona answers with an object of another list: only its text counts.
  const MoveList other = game.legal();
  p.choose = [&] { return find(other, "e7e6"); };

  const MovePtr reply = p.GetReply(game.history, legal, common::FEN_New_Game, false, 12.5);
  EXPECT_EQ(reply->to_coord(), "e7e6");
  for (const auto& m : legal) EXPECT_NE(reply, m);
  EXPECT_NE(reply, find(other, "e7e6"));
  EXPECT_EQ(reply->Piece, -common::Pawn);
  EXPECT_EQ(p.margin_seen, 12.5);

  EXPECT_EQ(p.game_history, game.history);
  EXPECT_EQ(p.legalmoves, legal);  // the same move objects ...
  EXPECT_NE(&p.legalmoves, &legal);  // ... in a list of its own
  EXPECT_EQ(p.start_fen, common::FEN_New_Game);
  EXPECT_EQ(p.myside, common::BLACK);
  EXPECT_EQ(p.oppside, common::WHITE);

  const Game white_to_move({"d2d4", "g8f6"});
  p.choose = [&] { return p.legalmoves.front(); };
  p.GetReply(white_to_move.history, white_to_move.legal(), "", false);
  EXPECT_EQ(p.myside, common::WHITE);
  EXPECT_EQ(p.oppside, common::BLACK);
  EXPECT_EQ(p.start_fen, "");
  EXPECT_FALSE(p.margin_seen.has_value());

  // A move the position does not have is refused by the board; no choice at all is an error.
  p.choose = [&] { return find(other, "e7e6"); };
  EXPECT_THROW(p.GetReply(white_to_move.history, white_to_move.legal()), board::IllegalMoveError);
  p.choose = [] { return MovePtr(); };
  EXPECT_THROW(p.GetReply(white_to_move.history, white_to_move.legal()), Error);
}

TEST(ReplyDriver, MasterRequestSearchesEvenAtTheStart) {
  FakeEngine fake("score d2d4 50\nscore c2c4 30\ndefault-score 0\n");
  {
    Chooser p;
    const MoveList legal = Game().legal();
    CaptureEcho echo;
    ScriptedDraws draws({0.0});
    const MovePtr reply = p.GetReply({}, legal, common::FEN_New_Game, true);
    EXPECT_EQ(reply->to_coord(), "d2d4");
    EXPECT_EQ(p.calls, 0);
    EXPECT_EQ(echo.lines.front(), "GetMasterMove");
    EXPECT_GT(p.MasterMove_Depth, 0);
  }
  EXPECT_TRUE(engine_searched(fake));
}

TEST(ReplyDriver, TheBaseClassHasNoChoiceOfItsOwn) {
  FakeEngine fake;
  AI_BASIC p("Plain", 100);
  const Game game({"d2d4"});
  try {
    p.GetReply(game.history, game.legal());
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "AI_BASIC makes no move choice of its own; use a persona");
  }
  // The shortcuts still answer.
  EXPECT_EQ(p.GetReply({}, Game().legal())->to_coord(), "e2e4");
}
