// PGN written and read, the files it goes to, and openings read from EPD and PGN.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <sstream>

#include "game/game_state.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "pgn/openings.h"
#include "pgn/pgn_file.h"
#include "pgn/pgn_reader.h"
#include "support/pgn_replay.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

using V = std::vector<std::string>;
using testing_support::read_back;

// Tags in order and escaped, SetUp and FEN only for another start; move numbers
// from the start's move and side; lines filled up to 80 columns, never ending on a move number.
TEST(Pgn, TagsAndMovetextAsInFile) {
  GameTags who{"Test \"quoted\" \\ event", "?", "3", "Diana", kHumanName, 1350, std::nullopt, TimeControl{}, "", "", "depth 8"};
  who.clock.reset();
  GameState standard(std::string(common::FEN_New_Game));
  standard.play(*standard.legal().front());
  GameState set_up("7k/8/6K1/8/8/8/8/5Q2 w - - 0 1");
  set_up.play(*board::find_move(set_up.legal(), "Qf7"));
  std::string text = to_pgn(pgn_of(standard.record(), who)) + to_pgn(pgn_of(set_up.record(), who));
  const auto add = [&text](const V& san, const std::string& fen, const std::string& result) {
    PgnGame g;
    g.san = san;
    g.result = result;
    if (!fen.empty()) g.set_tag("FEN", fen);
    text += to_pgn(g);
  };
  add({"e4", "e5", "Nf3"}, "", "*");
  add({}, "", "1/2-1/2");
  add({"Nf6", "Nc3", "d5", "exd5"}, "r1bqkb1r/pppp1ppp/2n5/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 3 12", "1-0");
  V san;
  for (std::size_t i = 0; i < 301; ++i) san.push_back(V{"Nxe4+", "O-O-O", "e8=Q#", "a3", "Rfxd1", "Qh4"}[i % 6]);
  add(san, "", "0-1");
  testing_support::expect_as_in_file("pgn_layouts.pgn", testing_support::dateless(text));
}

// A file that holds games is kept unless asked, and a write the disk refuses leaves it as it was.
TEST(PgnFile, RefusesAppendsReplacesAndCutsBackAFailedWrite) {
  testing_support::TempDir dir;
  const std::string path = dir.file("g.pgn");
  PgnFile(path, PgnWrite::Fresh).append("one\n");  // a new file
  EXPECT_THROW(PgnFile(path, PgnWrite::Fresh), UserError);
  PgnFile(path, PgnWrite::Append).append("two\n");
  EXPECT_EQ(testing_support::read_file(path), "one\ntwo\n");
  PgnFile replaced(path, PgnWrite::Overwrite);
  EXPECT_EQ(testing_support::read_file(path), "");
  // No more than 10 bytes a file: the second game does not fit.
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  ::getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 10;
  ::setrlimit(RLIMIT_FSIZE, &small);
  replaced.append("1. e4 *\n");
  std::string said;
  try {
    replaced.append("1. d4 *\n");
  } catch (const Error& e) {
    said = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(said, "cannot write the PGN file '" + path + "': File too large");
  EXPECT_EQ(testing_support::read_file(path), "1. e4 *\n");
}

// Every game read (tags, moves, result) and a broken game, if any, named
// by game and line: other programs' ways of writing, then a broken game
// between two good ones (for each way of breaking it).
#define HELLO_5_TIMES "hellohellohellohellohello"
#define HELLO_25_TIMES HELLO_5_TIMES HELLO_5_TIMES HELLO_5_TIMES HELLO_5_TIMES HELLO_5_TIMES
TEST(PgnReader, ReadsWhatOtherProgramsWriteAndNamesAndSkipsABrokenGame) {
  std::string read = read_back(
      "\xEF\xBB\xBF% an escaped line\r\n"
      "[Event \"A \\\"quoted\\\" name \\\\ here\"]\r\n"
      "[White \"W\"] [Black \"B\"]\r\n"
      "[Result \"1-0\"]\r\n\r\n"
      "1.e4 {a comment (with a paren}\n {and one more} e5 2. Nf3 $1 Nc6!? ; to the end of the line )\n"
      "3. Bb5 (3. Bc4 {inner} (3. d4 exd4) Bc5) 3... a6 4. 0-0 e.p. Nf6 5. Re1?? {the last move's} {and the game's} 1-0\n"
      "\n"
      "[Event \"No marker\"]\n[Result \"1/2-1/2\"]\n\n1. d4 d5\n"
      "[Event \"Third\"]\n\n1. c4 *\n"
      "1. e4\n");  // move text without tags or marker at the end
  const std::string good1 = "[Event \"one\"]\n\n1. d4 *\n\n", good3 = "\n[Event \"three\"]\n\n1. c4 c5 1-0\n";
  for (const char* broken : {"[White \"unclosed]\n[Black \"x\"]\n\n1. e4 e5 *\n",
                             "[White x]\n[Black \"y\"]\n\n1. e4 *\n",  // its other tags go with it
                             "[White \"x\"\n\n1. e4 *\n", "[White \"x\"]\n\n1. e4 ) e5 *\n",
                             "[White \"x\"]\n\n1. e4 ] e5 *\n", "[White \"x\"]\n\n1. e4 " HELLO_25_TIMES " *\n",  // quoted cut
                             "[White \"x\"]\n\n1. e4 -- *\n",
                             "[White \"x\"]\n\n1. e4 {never closed\n"})  // it swallows the rest of the file
    read += "----\n" + read_back(good1 + broken + good3);
  testing_support::expect_as_in_file("pgn_reader.txt", read);
  EXPECT_EQ(read_back("") + read_back("\n; only a comment\n{and another}\n"), "");
  // With nowhere to list it, a broken game is an error.
  std::istringstream strict(good1 + "[White \"x\"]\n\n1. e4 hello *\n" + good3);
  try {
    read_pgn(strict);
    ADD_FAILURE() << "no error";
  } catch (const PgnError& e) {
    EXPECT_EQ(std::tie(e.game, e.line, e.problem), std::make_tuple(2, 7, "'hello' is not a move"));
  }
}

TEST(Openings, EpdAndPgnBecomeStartPositionsAndBookMoves) {
  // Each opening read as "name | FEN | coordinate moves": EPD's optional fields, PGN's tags and SAN.
  // Each refusal in its words; PGN is told by its first line that is not a comment.
  std::string read, refused;
  for (const char* text :
       {"# a comment\n"
        "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - id \"open game\";\n"
        "\n"
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - hmvc 2; fmvn 3;\n",
        "% made by hand\n[Opening \"Scotch\"]\n\n1. e4 e5 2. Nf3 Nc6 3. d4 {+0.2} *\n\n"
        "[FEN \"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1\"]\n[SetUp \"1\"]\n\n1. e4 Kd7 *\n",
        "rnbqkbnr/pppppppp w KQkq\n", "8/8/8/8/8/8/8/8 w - -\n", "[Event \"x\"]\n\n1. e4 e4 *\n", "# nothing\n",
        "% an escape, not EPD\n"}) {
    std::istringstream in(text);
    try {
      for (const Opening& o : read_openings(in, "bad")) {
        read += o.name + " | " + o.fen + " |";
        for (const auto& m : o.moves) read += " " + m;
        read += "\n";
      }
    } catch (const OpeningError& e) {
      refused += e.what() + std::string("\n");
    }
  }
  testing_support::expect_as_in_file("openings_read.txt", read);
  testing_support::expect_as_in_file("openings_refused.txt", refused);

  // The shipped suite: a few dozen openings of 4 to 8 plies from the standard start.
  const auto suite = read_openings_file(default_openings_path());
  EXPECT_GE(suite.size(), 24u);
  for (const auto& o : suite) EXPECT_TRUE(o.moves.size() >= 4 && o.moves.size() <= 8 && !o.name.empty()) << o.name;
}

}  // namespace
}  // namespace ai_players::app
