// Games and how they end, and what is read from the user: numbers, time
// controls and names typed with a slip.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "game/game.h"
#include "game/move_reason.h"
#include "game/numbers.h"
#include "game/time_control.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "support/expected_lines.h"
#include "support/pgn_replay.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using V = std::vector<std::string>;

using testing_support::ending_of;
using testing_support::line;
using testing_support::show;

// Plays the listed SAN moves in order, for both sides.
Mover scripted(V moves) {
  return [moves](const MoveRequest& r) -> MoveReply {
    const std::string& want = moves.at(r.history.size() % moves.size());
    for (const auto& m : r.legal)
      if (m->to_SAN(r.legal) == want) return {m, ""};
    throw std::logic_error("scripted move not legal: " + want);
  };
}

// Every rule's end, each read back from its PGN; a mover that cannot move ends the
// game as abandoned; one over its clock loses on time, and a lone king cannot win on time.
TEST(Game, EndsByEachRuleAsInFileAndReadsBackFromPgn) {
  const std::string start(common::FEN_New_Game);
  const std::tuple<std::string, V, int> endings[] = {  // the start, both sides' moves, a limit of plies
      {start, {"f3", "e5", "g4", "Qh4#"}, 0},
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", {"Ra8#"}, 0},
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 99 80", {"Ra8#"}, 0},  // mate beats fifty moves
      {"7k/8/6K1/8/8/8/8/5Q2 w - - 0 1", {"Qf7"}, 0},
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", {"-"}, 0},  // already over
      {"7k/8/8/8/8/8/R7/K7 w - - 99 80", {"Ra3"}, 0},
      {start, {"Nf3", "Nf6", "Ng1", "Ng8"}, 0},
      {"k7/8/8/8/8/8/1q6/K7 w - - 0 1", {"Kxb2"}, 0},
      {start, {"Nf3", "Nf6", "Ng1", "Ng8"}, 3},
  };
  std::string text;
  for (const auto& [fen, moves, max_plies] : endings) {
    const PlayedGame game = play_game(scripted(moves), scripted(moves), {fen, max_plies, {}, {}});
    ASSERT_EQ(game.moves.size(), game.san.size());
    const auto read = testing_support::read_pgn(to_pgn(pgn_of(game, {})));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].san, game.san);
    board::Board replayed(read[0].start_fen());  // the moves as written, on our board
    for (const auto& m : read[0].moves()) replayed.make_internal_move(*m);
    const auto again = outcome_of(replayed);
    text += fmt::format("{} {}: {}; read back: {}\n", fen, fmt::join(moves, " "), ending_of(game),
                        again ? termination_text(again->why) : "unterminated");
  }
  // A mover's answer must be legal: here White's e4 is offered to Black.
  const Mover cheat = [](const MoveRequest&) {
    return MoveReply{board::make_move("e2e4", board::Board().legal_moves()), ""};
  };
  EXPECT_THROW(play_game(scripted({"e4"}), cheat, {start, 0, {}, {}}), std::logic_error);
  const Mover failing = [](const MoveRequest&) -> MoveReply { throw MoverFailure("no engine"); };
  const Mover slow = [](const MoveRequest& r) {
    EXPECT_TRUE(r.deadline.has_value());
    std::this_thread::sleep_for(milliseconds(120));
    return MoveReply{r.legal.front(), "slow"};
  };
  const TimeControl blitz{milliseconds(100), {}};
  for (const auto& [fen, white] : {std::pair{start, failing}, {start, slow}, {"k7/8/8/8/8/8/8/KQ6 w - - 0 1", slow}})
    text += fen + ": " + ending_of(play_game(white, scripted({"e4"}), {fen, 0, blitz, {}})) + "\n";
  testing_support::expect_as_in_file("game_endings.txt", text);
}

// A name typed with one slip (two in a long one) is found, in any case; a
// farther one or a tie suggests nothing.
TEST(UserInput, DidYouMeanAllowsOneSlipInShortNamesAndTwoInLongOnes) {
  const std::vector<std::string> names{"play", "perft", "Gnome", "Verevovera", "Hera", "Herb"};
  const auto meant = [&](std::string_view typed) { return did_you_mean(typed, names).value_or("-"); };
  EXPECT_EQ(fmt::format("{} {} {} {} {} {} {}", meant("plya"), meant("gnom"), meant("verevovra"), meant("vrevovra"),
                        meant("vrvovra"), meant("Her"), meant("pyly")),
            "play Gnome Verevovera Verevovera - - -");
}

// The numbers of flags, at their bounds: 0 s is "no limit", a
// millisecond the least other time. Bad input is quoted, cut after 100 characters.
// Why a typed move is not legal, one reason per way of getting it wrong.
TEST(MoveReason, SaysWhyAMoveIsNotLegalInAPlayersWords) {
  const std::string start(common::FEN_New_Game);
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {start, "e2e5", "the pawn on e2 cannot go to e5"},
      {start, "e7e5", "the pawn on e7 is not yours"},
      {start, "e3e4", "there is no piece on e3"},
      {start, "Nf6", "no knight of yours can go to f6"},
      {start, "Bc4", "no bishop of yours can go to c4"},  // the e2 pawn stands in its way
      {start, "nf6", "no knight of yours can go to f6"},  // as typed, in lower case
      {start, "Qd1", "your own piece stands on d1"},
      {start, "O-O", "castling is not allowed here"},
      {start, "e1g1", "castling is not allowed here"},
      {start, "zz", ""},
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - - 0 1", "Bd3", "your king would be in check"},  // pinned
      {"4k3/8/8/8/8/3r4/8/4K3 w - - 0 1", "Kd2", "your king would be in check"},
      {"4k3/8/8/8/8/8/8/r3K2R w K - 0 1", "Rh2", "your king is in check, and this move does not answer it"},
      {"4k3/8/8/8/8/8/8/r3K2R w K - 0 1", "O-O", "you cannot castle out of check"},
      {"8/P7/8/8/8/8/k7/4K3 w - - 0 1", "a7a8", "say which piece to promote to: a7a8q (or r, b, n)"},
      {"8/P7/8/8/8/8/k7/4K3 w - - 0 1", "a8", "say which piece to promote to: a8=Q (or =R, =B, =N)"},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "Qd1", "you have no queen left"},
      {"4k3/8/8/3p4/8/8/4P3/4K3 w - - 0 1", "e2d3", "the pawn on e2 cannot go to d3"},  // nothing to take
  };
  for (const auto& [fen, text, why] : cases) EXPECT_EQ(why_not_legal(board::Board(fen), text), why) << text << " in " << fen;
}

TEST(Numbers, ReadWithinTheirBoundsAsInFile) {
  std::string text;
  for (const char* s : {"-3", "3", "4", "-4", "", "1x", "+1"})
    text += line(fmt::format("whole -3..3 '{}'", s), [&] { return read_whole(s, "n", -3, 3); });
  for (const char* s : {"0", "0.001", "10", "2.5", "0.0009", "10.001", "-1", "inf", "nan", "", "2s"})
    text += line(fmt::format("seconds up to 10 '{}'", s), [&] { return read_seconds(s, "t", 10); });
  for (const char* s : {"18446744073709551615", "18446744073709551616", "-1", ""})
    text += line(fmt::format("seed '{}'", s), [&] { return read_seed(s, "s"); });
  // A plain base is seconds for engines and minutes for people; units and m:ss say it either way.
  for (const char* s : {"60+1", "0.5+0.1", "300", "5m+3", "5min+3s", "90s+1", "3:00+2", "1:30", "", "+1", "60+", "0",
                        "a+b", "-5", "3:60", "1.5:00", "3:5", "5h"})
    for (const PlainBase plain : {PlainBase::Seconds, PlainBase::Minutes})
      text += line(fmt::format("time control '{}' ({})", s, plain == PlainBase::Seconds ? "s" : "min"), [&] {
        const TimeControl tc = parse_time_control(s, plain);
        return fmt::format("{} = {}", tc.pgn(), tc.text());
      });
  for (int n : {100, 101}) text += line("echoed " + std::to_string(n), [n] { return echoed(std::string(n, 'a')); });
  testing_support::expect_as_in_file("numbers_read.txt", text);
}

TEST(TimeControl, BudgetsKeepAReserve) {
  using ms = milliseconds;
  const std::pair<ClockReading, std::optional<ms>> cases[] = {
      {{std::nullopt, ms(0), std::nullopt, std::nullopt, ms(50)}, std::nullopt},  // nothing limits it
      {{std::nullopt, ms(0), std::nullopt, ms(1000), ms(50)}, ms(950)},          // movetime less overhead
      {{ms(60050), ms(0), std::nullopt, std::nullopt, ms(50)}, ms(2000)},        // a 30th of what is left
      {{ms(60050), ms(1000), std::nullopt, std::nullopt, ms(50)}, ms(2750)},     // and most of the increment
      {{ms(10050), ms(0), 1, std::nullopt, ms(50)}, ms(5000)},                   // never more than half
      {{ms(40), ms(0), std::nullopt, std::nullopt, ms(50)}, ms(5)},              // a floor, even when late
  };
  for (const auto& [clock, budget] : cases) EXPECT_EQ(move_budget(clock), budget);
  // A game's clock gives its increment to the budget; with no clock the fixed time counts.
  const auto now = std::chrono::steady_clock::now();
  const std::string start(common::FEN_New_Game);
  EXPECT_EQ(GameState(start, parse_time_control("60+1")).move_deadline(now, std::nullopt, ms(50)), now + ms(1998 + 750));
  EXPECT_EQ(GameState(start).move_deadline(now, ms(1000), ms(50)), now + ms(950));
}

}  // namespace
}  // namespace ai_players::app
