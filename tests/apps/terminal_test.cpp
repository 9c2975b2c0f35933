// A game at the terminal: the board and its texts, the typed lines, the
// persona's ticker, and the play command run as a child process.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "games_db/game_store.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "support/test_support.h"
#include "terminal/board_view.h"
#include "terminal/line_input.h"
#include "terminal/terminal_play.h"

namespace ai_players::app {
namespace {

using testing_support::CliProcess;
using testing_support::FakeEngine;
using testing_support::has;
using testing_support::run_cli;
using testing_support::TempDir;
using testing_support::transcript;
using V = std::vector<std::string>;

const std::string kFiles = "    a b c d e f g h";  // the last line of a board in play

const std::string kEnding = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";

// HOUD20c without the adviser, in a king and rook ending.
TerminalPlay houdini(bool live = false) {
  TerminalPlay options;
  options.game.persona = "HOUD20c";
  options.game.start_fen = kEnding;
  options.game.preview = false;
  options.live = live;
  return options;
}

// The last move's squares in brackets, from either side, neighbours sharing a bar;
// clocks in tenths under ten seconds, hours from the first; the rows of moves.
TEST(BoardView, BoardMarksClocksAndMoveRowsAsInFile) {
  std::string text;
  for (const auto& [black_view, last] : {std::pair{false, "h1h2"}, {false, "e1f1"}, {true, "e1f1"}, {true, ""}})
    text += fmt::format("{}\n", fmt::join(board_lines(kEnding, black_view, last), "\n"));
  text += wrapped("one two three four", 9) + "\n";
  for (const int ms : {-5, 9999, 10000, 3599999, 3600000}) text += clock_text(milliseconds(ms)) + " ";
  PlayedGame g;
  g.start_fen = "4k3/8/8/8/8/8/8/4K2R b K - 0 30";
  g.san = {"Kd7", "Rh7+", "Ke6", "Rh6+", "Kf5"};
  for (const std::size_t rows : {2, 9}) text += fmt::format("\n{}", fmt::join(move_rows(g, rows), "\n"));
  testing_support::expect_as_in_file("board_view.txt", text + "\n");
}

// At a terminal the persona's thinking redraws one line that says how to hurry it;
// the line is wiped before the reply. No review was given and no PGN file asked for.
TEST(TerminalPlay, ATickerShowsTheSearchAndHowToMoveNowAsInFile) {
  testing_support::FakeEngine fake("on go\n> info depth 1 score cp 10 pv e8d8\nsleep 400\n> bestmove e8d8\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  std::istringstream typed("Rh7\nreview\n");  // and then the input ends
  LineInput in(typed);
  std::ostringstream out;
  play_in_terminal(houdini(true), in, out);
  // Times as T; the frames, however many, as one that shows the first depth.
  std::string text = std::regex_replace(out.str(), std::regex(R"(\d+(\.\d)? s(?=[,)]| \())"), "T");
  const std::string frame = R"((\r[^\r\n]*move now\) *))";
  const std::regex frames(frame + "*" + R"((\r[^\r\n]*depth 1 \(Enter: move now\) *))" + frame + "*(?=\r)");
  text = std::regex_replace(text, frames, "$2");
  testing_support::expect_as_in_file("terminal_ticker.txt", testing_support::replace_all(text, "\r", "<CR>"));
}

// `play` keeps the person's move before the persona answers, so a kill while
// it thinks loses nothing played; an interrupt while it thinks lets it move,
// then ends the session; a database that cannot be opened is said and the game goes on.
TEST(TerminalPlay, KeepsEachMoveBeforeThePersonaAnswersAndAnInterruptEndsTheSession) {
  testing_support::FakeEngine fake("on go\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  common::ScopedEchoSink quiet([](std::string_view) {});
  TempDir dir;
  TerminalPlay options = houdini();
  options.db = dir.file("g.db");
  std::istringstream typed("Rh7\n");
  LineInput in(typed);
  std::thread host([&] {
    const auto go = [](const std::string& line) { return line.starts_with("go"); };
    testing_support::eventually([&] { return std::ranges::any_of(fake.received(), go); });
    const auto games = GameStore(dir.file("g.db")).games();
    EXPECT_TRUE(!games.empty() && games[0].record.san == std::vector<std::string>{"Rh7"});
    in.interrupt();
  });
  std::ostringstream out;
  play_in_terminal(options, in, out);
  host.join();
  const std::string text = out.str();
  EXPECT_NE(text.find("HOUD20c plays Kd8"), std::string::npos) << text;
  EXPECT_EQ(testing_support::count_of(text, "Your move"), 1) << text;  // none after the interrupt
  EXPECT_TRUE(text.ends_with("Interrupted.\nThe game is left unfinished.\n")) << text;
  const auto games = GameStore(dir.file("g.db")).games();
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].record.san, (std::vector<std::string>{"Rh7", "Kd8"}));
  EXPECT_TRUE(games[0].ended && !games[0].record.outcome);
  EXPECT_EQ(games[0].header.persona_elo, 1200);  // the fake engine's least UCI_Elo

  testing_support::write_file(dir.file("bad.db"), std::string(4096, 'x'));
  options.db = dir.file("bad.db");
  std::istringstream quit("quit\n");
  LineInput again(quit);
  std::ostringstream said;
  play_in_terminal(options, again, said);
  EXPECT_TRUE(testing_support::replace_all(said.str(), "\n", " ").starts_with(
      fmt::format("The file {} is not a games database, or it is damaged. Play goes on, but your games are not",
                  dir.file("bad.db"))))
      << said.str();
}

// Typed lines: a line typed before a reply began, or put back, is kept for later; once the
// input has ended, next() returns at once, while next_since() keeps to its
// timeout (the reply loop polls with it: returning at once would spin).
TEST(LineInput, EarlierLinesWaitTheirTurnAndTheEndOfInputStopsOnlyNext) {
  std::istringstream typed("e4\nhint\n");
  LineInput input(typed);
  const auto first = input.next(milliseconds(5000));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->text, "e4");
  EXPECT_FALSE(input.next_since(first->at + std::chrono::hours(1), milliseconds(1)));  // "hint" came before
  input.put_back(*first);  // a line that hurried a reply is read again after it
  EXPECT_EQ(input.next(milliseconds(5000))->text, "e4");
  const auto second = input.next(milliseconds(5000));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->text, "hint");
  EXPECT_TRUE(testing_support::eventually([&] { return input.ended(); }, milliseconds(5000)));
  // How long a wait for a line lasted that got none.
  const auto waited = [](auto wait) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait(started));
    return std::chrono::steady_clock::now() - started;
  };
  const auto since = [&input](milliseconds limit) {
    return [&input, limit](auto from) { return input.next_since(from, limit); };
  };
  EXPECT_GE(waited(since(milliseconds(100))), milliseconds(100));
  // A wake ends the wait under way, or the next one if it came first; once each.
  std::thread waker([&] { std::this_thread::sleep_for(milliseconds(50)), input.wake(); });
  EXPECT_LT(waited(since(milliseconds(60000))), milliseconds(30000));
  waker.join(), input.wake();
  EXPECT_LT(waited(since(milliseconds(60000))), milliseconds(30000));
  EXPECT_GE(waited(since(milliseconds(100))), milliseconds(100));
  EXPECT_LT(waited([&input](auto) { return input.next(milliseconds(60000)); }), milliseconds(30000));
}

TEST(CliPlay, PreviewsHintsUndoAndBadInputThatLosesNothing) {
  // The preview persona's engine ranks e5 first and Nf6 second; every other move lower.
  FakeEngine fake("default-score -50\nscore e7e5 25\nscore g8f6 -12\n");
  testing_support::TempDir dir;
  const auto played = transcript({"play", "--instant", "--persona", "Talvo", "--color", "black", "--seed", "1", "--pgn", dir.file("g.pgn")},
                                 "hint\nundo\nNf6\nundo\nzz\ne7e4\n\nd7d5\nmoves\nflip\nreview\ndraw\nresign\nundo\nquit\n");
  // After the bad lines the same game goes on; the last move is judged, the
  // game reviewed, drawn and saved; no library chatter on standard output.
  const std::string pgn = testing_support::dateless(testing_support::read_file(dir.file("g.pgn")));
  testing_support::expect_as_in_file("play_as_black.txt", testing_support::replace_all(played, dir.path(), "DIR") + pgn);
  // Without the adviser a hint says what it needs and the game goes on; a
  // review runs on engines of its own, as the review command does.
  std::string said = transcript({"play", "--instant", "--persona", "Talvo", "--no-preview", "--seed", "1", "--movetime", "0"},
                                 "e4\nreview\nhint\nquit\n");
  for (const std::string score : {"199", "200"}) {
    FakeEngine level("default-score " + score + "\n");  // the human's score: Talvo is that much worse
    said += transcript({"play", "--persona", "Talvo"}, "draw\nquit\n");
  }
  testing_support::expect_as_in_file("play_without_adviser_and_draw_offers.txt", said);
  // Failures name the engine's path, which moves where the lines wrap: checked in part.
  // A preview that fails is said, and the move is played all the same.
  FakeEngine dying("on go\ndie\n");
  const auto failed = run_cli({"play", "--persona", "Talvo"}, "e4\nhint\nquit\n");
  EXPECT_TRUE(has(failed.out, "No preview (engine failure while the adviser was judging your move: ")) << failed.out;
  EXPECT_TRUE(has(failed.out, "Talvo plays ")) << failed.out;
  EXPECT_TRUE(has(failed.out, "engine failure while the adviser was looking at your game: ")) << failed.out;
  const auto stuck = run_cli({"play", "--persona", "Horus", "--color", "black", "--no-preview"}, "e5\nquit\n");
  EXPECT_TRUE(has(stuck.out, "Game over: * (abandoned). Horus could not move: ")) << stuck.out;
  EXPECT_EQ(testing_support::count_of(stuck.out, "Horus plays"), 1) << stuck.out;  // e4, and no move after
}

TEST(CliPlay, GameAfterGameWithCommandsAndEveryGameInThePgn) {
  FakeEngine fake("default-score 0\n");  // every position level: a draw offer is accepted
  testing_support::TempDir dir;
  const auto played = transcript({"play", "--instant", "--persona", "diana", "--seed", "2", "--pgn", dir.file("g.pgn")},
                                 "moves\nnew green\nreview\nd4\nflip\nresign\nundo\nnew black\nnf6\ndraw\nquit\n");
  const std::string pgn = testing_support::dateless(testing_support::read_file(dir.file("g.pgn")));
  testing_support::expect_as_in_file("play_two_games.txt", testing_support::replace_all(played, dir.path(), "DIR") + pgn);
}

TEST(CliPlay, TermSavesTheGameAndCaseGoesWhereItIsClear) {
  FakeEngine fake;
  testing_support::TempDir dir;
  CliProcess p({"play", "--instant", "--persona", "Talvo", "--tc", "5+5", "--pgn", dir.file("g.pgn"), "--fen",
                "4k3/8/8/8/8/2n5/1P1B4/4K3 w - - 0 1"});
  EXPECT_TRUE(has(p.read_until(kFiles), "); each side has a clock of 5 min + 5 s."));
  p.send("bxc3\nBXC3\nBxc3");  // the pawn or the bishop, then the bishop
  const V seen = p.read_until(kFiles);
  // Talvo's first move is free; yours runs from its reply.
  for (const std::string line : {"'bxc3' could be bxc3 or Bxc3", "'BXC3' could be", "Talvo plays", "Clocks: you ", ", Talvo 5:00"})
    EXPECT_TRUE(has(seen, line)) << line;
  ::kill(p.pid(), SIGTERM);
  p.read_until("Interrupted.");  // before the end of its input, which would end the game too
  EXPECT_EQ(p.wait(), 128 + SIGTERM);
  EXPECT_TRUE(has(p.out, "The game is saved in")) << p.out;
  const auto g = testing_support::read_pgn(testing_support::read_file(dir.file("g.pgn")));
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ((V{g[0].result, g[0].tag("Termination"), g[0].tag("PlyCount"), g[0].san.at(0), g[0].tag("TimeControl")}),
            (V{"*", "unterminated", "2", "Bxc3", "300+5"}));
}

// At a terminal, as a person plays: the ticker shows the search, and Enter makes the persona move now.
TEST(CliPlay, EnterWhileThePersonaThinksMakesItMoveNow) {
  FakeEngine fake("on go\n> info depth 1 score cp 10 pv e8d8\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  CliProcess p({"play", "--instant", "--persona", "HOUD20c", "--no-preview", "--fen", "4k3/8/8/8/8/8/8/4K2R w K - 0 1"},
               CliProcess::kTerminal);
  p.read_until(kFiles);
  p.send("Rh7");
  // Enter twice: a line typed before the reply began waits for the next prompt.
  for (int i = 0; i < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    p.send("");
  }
  const V seen = p.read_until(kFiles);
  EXPECT_TRUE(has(seen, "HOUD20c plays Kd8 (") && has(seen, " s, cut short)")) << p.out;
  EXPECT_TRUE(has(seen, "depth 1 (Enter: move now)"));
  EXPECT_FALSE(has(seen, "is not a move") || has(seen, "is not legal"));  // the empty line was taken as "move now", not as a move
  p.send("quit");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_GT(std::ranges::count(fake.received(), std::string("stop")), 0);
}

}  // namespace
}  // namespace ai_players::app
