#include <gtest/gtest.h>

#include <stdexcept>

#include "game.h"
#include "pgn.h"
#include "support/pgn_reader.h"

namespace ai_players::app {
namespace {

using board::MoveList;
using board::MovePtr;

// Plays the listed SAN moves in order, for both sides.
Mover scripted(std::vector<std::string> moves) {
  return [moves](const MoveList& history, const MoveList& legal, const std::string&) -> MovePtr {
    const std::string& want = moves.at(history.size() % moves.size());
    for (const auto& m : legal)
      if (m->to_SAN(legal) == want || m->to_coord() == want) return m;
    throw std::logic_error("scripted move not legal: " + want);
  };
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(PgnMovetext, NumbersMovesFromTheStartPosition) {
  EXPECT_EQ(pgn_movetext({"e4", "e5", "Nf3"}, "", "*"), "1. e4 e5 2. Nf3 *\n");
  EXPECT_EQ(pgn_movetext({}, "", "1/2-1/2"), "1/2-1/2\n");
  // Black to move at move 12: the first move gets "12..." and White's next move 13.
  const std::string fen = "r1bqkb1r/pppp1ppp/2n5/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 3 12";
  EXPECT_EQ(pgn_movetext({"Nf6", "Nc3", "d5", "exd5"}, fen, "1-0"), "12... Nf6 13. Nc3 d5 14. exd5 1-0\n");
}

TEST(PgnMovetext, WrapsAtEightyColumnsKeepingNumbersWithTheirMoves) {
  std::vector<std::string> san;
  const std::vector<std::string> pool = {"Nxe4+", "O-O-O", "e8=Q#", "a3", "Rfxd1", "Qh4"};
  std::string one_line;
  for (std::size_t i = 0; i < 301; ++i) {
    san.push_back(pool[i * 7 % pool.size()]);
    one_line += pgn_move_unit("", i, san.back()) + " ";
  }
  const auto lines = split_lines(pgn_movetext(san, "", "0-1"));
  ASSERT_GT(lines.size(), 10u);
  std::string rejoined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    EXPECT_GT(lines[i].size(), i + 1 < lines.size() ? 70u : 0u) << "a line left short: " << lines[i];
    EXPECT_NE(lines[i].back(), '.') << "a move number ends the line: " << lines[i];
    rejoined += lines[i] + " ";
  }
  EXPECT_EQ(rejoined, one_line + "0-1 ");
}

TEST(Pgn, SevenTagRosterFirstAndSetUpOnlyForAnotherStart) {
  PgnGame g;
  g.event = "Test \"quoted\" \\ event";
  g.white = "Gnome";
  g.black = "Horus";
  g.round = "3";
  g.result = "1-0";
  g.termination = "checkmate";
  g.san = {"e4"};
  auto games = testing_support::read_pgn(to_pgn(g));
  ASSERT_EQ(games.size(), 1u);
  std::vector<std::string> names;
  for (const auto& [name, value] : games[0].tags) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Event", "Site", "Date", "Round", "White", "Black", "Result",
                                             "Termination", "PlyCount"}));
  EXPECT_EQ(games[0].tag("Event"), g.event);  // escaped and read back
  EXPECT_EQ(games[0].tag("Termination"), "checkmate");

  g.fen = "7k/8/6K1/8/8/8/8/5Q2 w - - 0 1";
  const std::string text = to_pgn(g);
  games = testing_support::read_pgn(text);
  ASSERT_EQ(games.size(), 1u);
  EXPECT_EQ(games[0].tags[7], (std::pair<std::string, std::string>{"SetUp", "1"}));
  EXPECT_EQ(games[0].tags[8], (std::pair<std::string, std::string>{"FEN", g.fen}));
  EXPECT_NE(text.find("]\n\n1. e4 1-0\n\n"), std::string::npos) << text;  // blank lines around the moves
  EXPECT_EQ(pgn_date_today().size(), 10u);
}

struct Ending {
  const char* name;
  std::string fen;  // empty: the standard start
  std::vector<std::string> moves;
  int max_plies;
  std::string result;
  std::string termination;
  std::size_t plies;
};

TEST(Game, EndsByEachRuleWithTheRightResultAndReadsBackFromPgn) {
  const std::vector<Ending> endings = {
      {"black mates", "", {"f3", "e5", "g4", "Qh4#"}, 0, "0-1", "checkmate", 4},
      {"white mates", "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", {"Ra8#"}, 0, "1-0", "checkmate", 1},
      {"mate on the hundredth half-move is still mate", "6k1/5ppp/8/8/8/8/8/R5K1 w - - 99 80", {"Ra8#"}, 0,
       "1-0", "checkmate", 1},
      {"stalemate", "7k/8/6K1/8/8/8/8/5Q2 w - - 0 1", {"Qf7"}, 0, "1/2-1/2", "stalemate", 1},
      {"already over", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", {"-"}, 0, "1/2-1/2", "stalemate", 0},
      {"fifty moves", "7k/8/8/8/8/8/R7/K7 w - - 99 80", {"Ra3"}, 0, "1/2-1/2", "fifty-move rule", 1},
      {"repetition", "", {"Nf3", "Nf6", "Ng1", "Ng8"}, 0, "1/2-1/2", "threefold repetition", 8},
      {"bare kings", "k7/8/8/8/8/8/1q6/K7 w - - 0 1", {"Kxb2"}, 0, "1/2-1/2", "insufficient material", 1},
      {"ply limit", "", {"Nf3", "Nf6", "Ng1", "Ng8"}, 3, "*", "unterminated", 3},
  };
  for (const auto& e : endings) {
    SCOPED_TRACE(e.name);
    const std::string fen = e.fen.empty() ? std::string(common::FEN_New_Game) : e.fen;
    const PlayedGame game = play_game(scripted(e.moves), scripted(e.moves), {fen, e.max_plies});
    EXPECT_EQ(game.outcome.result, e.result);
    EXPECT_EQ(game.outcome.termination, e.termination);
    ASSERT_EQ(game.san.size(), e.plies);
    ASSERT_EQ(game.moves.size(), e.plies);

    PgnGame pgn;
    pgn.result = game.outcome.result;
    pgn.fen = e.fen;
    pgn.san = game.san;
    const auto read = testing_support::read_pgn(to_pgn(pgn));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].san, game.san);
    const board::Board end = testing_support::replay(read[0]);
    const auto again = outcome_of(end);
    if (e.result == "*")
      EXPECT_FALSE(again.has_value());
    else
      EXPECT_EQ(again ? again->termination : "none", e.termination);
  }
}

TEST(Game, MoversShareTheHistoryAndOnlyLegalAnswersAreAccepted) {
  const std::string fen(common::FEN_New_Game);
  std::vector<std::size_t> seen;
  PlayedGame so_far;
  const Mover checking = [&](const MoveList& history, const MoveList& legal, const std::string& start_fen) {
    EXPECT_EQ(start_fen, fen);
    // The history holds the very move objects the game recorded.
    EXPECT_EQ(history.size(), so_far.moves.size());
    for (std::size_t i = 0; i < history.size() && i < so_far.moves.size(); ++i)
      EXPECT_EQ(history[i].get(), so_far.moves[i].get());
    seen.push_back(history.size());
    // A fresh object of the same move is fine: only the coordinates count.
    return board::make_move(legal.front()->to_coord(), legal);
  };
  const PlayedGame game = play_game(checking, checking, {fen, 4}, [&](const PlayedGame& g) { so_far = g; });
  EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_EQ(game.outcome.result, "*");

  const Mover cheat = [](const MoveList&, const MoveList&, const std::string&) {
    const board::Board start;
    return board::make_move("e2e4", start.legal_moves());  // White's move, offered to Black
  };
  try {
    play_game(scripted({"e4"}), cheat, {fen, 0});
    FAIL() << "an illegal answer was played";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("not a legal move"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace ai_players::app
