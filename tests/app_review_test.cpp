// Game review: judging moves, the annotated PGN, the summary and the graph,
// and the PGN reader they all rest on.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <filesystem>

#include "ai_players/core/analysis.h"
#include "pgn/pgn_reader.h"
#include "review/review.h"
#include "review/review_engine.h"
#include "review/review_job.h"
#include "review/review_run.h"
#include "review/review_text.h"
#include "support/cli_process.h"
#include "support/fake_engine_session.h"
#include "support/pgn_replay.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"

using namespace ai_players;
using namespace ai_players::app;

namespace {

// Whether Python's XML parser takes the text: a checker that is not ours.
bool well_formed(const std::string& xml) {
  testing_support::TempDir dir;
  testing_support::write_file(dir.file("x.xml"), xml);
  const std::string command = "/usr/bin/python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' " +
                              dir.file("x.xml") + " 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

// A preview made up per move: (coordinates of the move played) -> preview.
// Moves not listed are the engine's best at +0.20.
PreviewFn scripted(std::map<std::string, Preview> by_move, std::vector<std::string>* fens = nullptr) {
  return [by_move, fens](const board::MoveList&, const board::Move& move, const board::MoveList&,
                         const std::string& fen) {
    if (fens) fens->push_back(fen);
    if (const auto it = by_move.find(move.to_coord()); it != by_move.end()) return it->second;
    return Preview{20, 20, {move.to_coord()}};
  };
}

// 3. Bc4 leaves the queen to the knight on f6.
const char* kQueenBlunder =
    "[Event \"Blunder\"]\n[White \"Careless\"]\n[Black \"Alert\"]\n[Result \"0-1\"]\n\n"
    "1. e4 e5 2. Qh5 Nf6 3. Bc4 Nxh5 0-1\n";

}  // namespace

TEST(ReviewJudging, ThresholdsAndMateCapping) {
  const std::vector<std::pair<int, Judgement>> thresholds = {
      {0, Judgement::Good},        {49, Judgement::Good},      {50, Judgement::Inaccuracy},
      {99, Judgement::Inaccuracy}, {100, Judgement::Mistake},  {299, Judgement::Mistake},
      {300, Judgement::Blunder},   {5000, Judgement::Blunder}};
  for (const auto& [loss, expected] : thresholds) EXPECT_EQ(judge(loss), expected) << loss;
  EXPECT_EQ(judgement_of(400, 499), Judgement::Blunder);
  EXPECT_EQ(judgement_of(400, 500), Judgement::Good);  // still winning by five pawns
  EXPECT_EQ(judgement_of(400, MATE_IN(9)), Judgement::Good);
  EXPECT_EQ(judgement_of(400, -MATE_IN(9)), Judgement::Blunder);
  EXPECT_EQ((std::vector<std::string>{nag_of(Judgement::Inaccuracy), nag_of(Judgement::Mistake), nag_of(Judgement::Blunder),
                                      nag_of(Judgement::Good)}),
            (std::vector<std::string>{"$6", "$2", "$4", ""}));

  struct Loss { int best, played, loss; };
  const std::vector<Loss> losses = {
      {35, 13, 22},                // ordinary
      {13, 35, 0},                 // never below zero
      {MATE_IN(3), 200, 800},      // a missed mate costs the cap minus what is left
      {MATE_IN(2), MATE_IN(5), 0}, // a slower mate still mates
      {150, -MATE_IN(1), 1150},    // walking into mate
      {-2500, -MATE_IN(4), 0},     // lost either way
  };
  for (const auto& l : losses) EXPECT_EQ(loss_of(l.best, l.played), l.loss) << l.best << " " << l.played;
}

TEST(PgnReader, ReadsWhatOtherProgramsWrite) {
  const std::string text =
      "\xEF\xBB\xBF% an escaped line\r\n"
      "[Event \"A \\\"quoted\\\" name \\\\ here\"]\r\n"
      "[White \"W\"] [Black \"B\"]\r\n"
      "[Result \"1-0\"]\r\n\r\n"
      "1.e4 {a comment (with a paren}\n e5 2. Nf3 $1 Nc6!? ; to the end of the line )\n"
      "3. Bb5 (3. Bc4 {inner} (3. d4 exd4) Bc5) 3... a6 4. 0-0 e.p. Nf6 5. Re1?? 1-0\n"
      "\n"
      "[Event \"No marker\"]\n[Result \"1/2-1/2\"]\n\n1. d4 d5\n"
      "[Event \"Third\"]\n\n1. c4 *\n"
      "1. e4\n";  // move text without tags or marker at the end
  const auto games = testing_support::read_pgn(text);
  ASSERT_EQ(games.size(), 4u);
  EXPECT_EQ(games[0].tag("Event"), "A \"quoted\" name \\ here");
  EXPECT_EQ(games[0].tag("Black"), "B");
  EXPECT_EQ(games[0].tag("Missing"), "");
  EXPECT_EQ(games[0].san, (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6", "Bb5", "a6", "O-O", "Nf6", "Re1"}));
  EXPECT_EQ(games[0].result, "1-0");
  EXPECT_EQ(std::tie(games[1].san, games[1].result), std::make_tuple(std::vector<std::string>{"d4", "d5"}, "1/2-1/2"));  // result from the tag
  EXPECT_EQ(std::make_tuple(games[2].tag("Event"), games[2].result), std::make_tuple("Third", "*"));
  EXPECT_TRUE(games[3].tags.empty());
  EXPECT_EQ(games[3].san, std::vector<std::string>{"e4"});
  EXPECT_TRUE(testing_support::read_pgn("").empty());
  EXPECT_TRUE(testing_support::read_pgn("\n; only a comment\n{and another}\n").empty());
}

TEST(PgnReader, BrokenGameIsNamedAndSkipped) {
  struct Case { std::string broken; int line; std::string problem; };
  const std::vector<Case> cases = {
      {"[White \"unclosed]\n[Black \"x\"]\n\n1. e4 e5 *\n", 5, "not closed"},
      {"[White x]\n[Black \"y\"]\n\n1. e4 *\n", 5, "not quoted"},  // its other tags go with it
      {"[White \"x\"\n\n1. e4 *\n", 5, "no closing ']'"},
      {"[White \"x\"]\n\n1. e4 ) e5 *\n", 7, "')' without"},
      {"[White \"x\"]\n\n1. e4 ] e5 *\n", 7, "a ']' outside a tag"},
      {"[White \"x\"]\n\n1. e4 hello *\n", 7, "'hello' is not a move"},
      {"[White \"x\"]\n\n1. e4 -- *\n", 7, "null move"},
      {"[White \"x\"]\n\n1. e4 {never closed\n", 7, "never closed"},
  };
  const std::string good1 = "[Event \"one\"]\n\n1. d4 *\n\n";
  const std::string good3 = "\n[Event \"three\"]\n\n1. c4 c5 1-0\n";
  for (const auto& c : cases) {
    std::istringstream in(good1 + c.broken + good3);
    PgnReader reader(in);
    EXPECT_EQ(reader.next()->tag("Event"), "one");
    try {
      reader.next();
      ADD_FAILURE() << "no error for " << c.broken;
    } catch (const PgnError& e) {
      EXPECT_EQ(e.game, 2) << c.broken;
      EXPECT_EQ(e.line, c.line) << c.broken;
      EXPECT_NE(e.problem.find(c.problem), std::string::npos) << e.what();
    }
    if (c.problem == "never closed") continue;  // it swallowed the rest of the file
    const auto third = reader.next();
    ASSERT_TRUE(third) << c.broken;
    EXPECT_EQ(third->tag("Event"), "three");
    EXPECT_EQ(third->san.size(), 2u);
    EXPECT_FALSE(reader.next());
    // Read whole, the file gives the good games and names the broken one.
    std::istringstream again(good1 + c.broken + good3);
    std::vector<std::string> problems;
    const auto games = read_pgn(again, &problems);
    EXPECT_EQ(games.size(), 2u) << c.broken;
    ASSERT_EQ(problems.size(), 1u) << c.broken;
    EXPECT_TRUE(problems[0].starts_with("game 2, line " + std::to_string(c.line) + ": ")) << problems[0];
    std::istringstream strict(good1 + c.broken + good3);  // with nowhere to list it, a broken game is an error
    EXPECT_THROW(read_pgn(strict, nullptr), PgnError) << c.broken;
  }
}

TEST(Review, QueenBlunderIsMarkedAnnotatedAndSummarised) {
  const auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  // 3. Bc4 (f1c4) loses the queen; 2... Nf6 (g8f6) is a small inaccuracy; 1... e5
  // scores better than the engine's first choice in the head-to-head search.
  const PreviewFn preview = scripted({
      {"f1c4", Preview{-60, -950, {"h5e5", "f8e7", "d2d3"}}},
      {"g8f6", Preview{90, 30, {"b8c6", "f1c4", "g7g6"}}},
      {"e7e5", Preview{15, 40, {"e7e5", "g1f3"}}},
  });
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  const GameReview r = review_game(1, record, preview, 7, [&](std::size_t d, std::size_t t) { progress.emplace_back(d, t); });
  ASSERT_EQ(r.moves.size(), 6u);
  EXPECT_EQ(progress.back(), std::make_pair(std::size_t{6}, std::size_t{6}));

  // The annotated game (marks, evals, best lines as variations), the summary,
  // the moves with their marks, and the totals over two games.
  const std::string pgn = annotated_pgn(r);
  testing_support::expect_as_in_file("review_queen_blunder.txt",
                                     pgn + "----\n" + summary_text(r) + "----\n" + moves_text(r) + "----\n" + totals_text({r, r}));
  EXPECT_EQ(totals_text({r}), "");
  // Our reader gets the game back as it was.
  const auto back = testing_support::read_pgn(pgn);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(std::make_tuple(back[0].san, back[0].result, back[0].tag("White")), std::make_tuple(record.san, "0-1", "Careless"));

  // A side that made no move has no worst moves to name.
  const GameReview one = review_game(1, testing_support::read_pgn("[White \"W\"]\n\n1. e4 *\n").at(0),
                                     scripted({{"e2e4", Preview{20, 20, {"e2e4"}}}}), 7);
  EXPECT_EQ(testing_support::count_of(summary_text(one), "worst:"), 1) << summary_text(one);
}

// Judges that note which plies each of them saw; judge `broken` throws
// EngineError at its second move (once, or always).
struct JudgeLog {
  std::mutex mutex;
  std::vector<std::set<std::size_t>> seen;
  std::optional<std::size_t> broken;
  bool always = false;

  JudgeMaker maker(const std::map<std::string, Preview>& by_move) {
    return [this, by_move] {
      const std::lock_guard lock(mutex);
      const std::size_t me = seen.size();
      seen.emplace_back();
      const bool fails = broken && (me == *broken || always);
      return PreviewFn([this, me, fails, by_move](const board::MoveList& history, const board::Move& move,
                                                  const board::MoveList& legal, const std::string& fen) {
        {
          const std::lock_guard lock(mutex);
          if (fails && !seen[me].empty()) throw EngineError("the engine died");
          seen[me].insert(history.size());
        }
        return scripted(by_move)(history, move, legal, fen);
      });
    };
  }
};

const std::map<std::string, Preview> kQueenBlunderJudged = {
    {"f1c4", Preview{-60, -950, {"h5e5", "f8e7", "d2d3"}}},
    {"g8f6", Preview{90, 30, {"b8c6", "f1c4", "g7g6"}}},
};

TEST(Review, WorkersShareTheMovesAndAFailingEngineIsRestartedOnce) {
  const auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  const GameReview alone = review_game(1, record, scripted(kQueenBlunderJudged));
  JudgeLog log;
  std::vector<std::size_t> progress;
  const GameReview r = review_game(1, record, log.maker(kQueenBlunderJudged), 3, 16,
                                   [&](std::size_t done, std::size_t) { progress.push_back(done); });
  ASSERT_EQ(log.seen.size(), 3u);
  std::set<std::size_t> residues;
  for (const auto& plies : log.seen) {
    ASSERT_EQ(plies.size(), 2u);  // worker k: plies k and k + 3
    EXPECT_EQ(*plies.rbegin() - *plies.begin(), 3u);
    residues.insert(*plies.begin());
  }
  EXPECT_EQ(residues, (std::set<std::size_t>{0, 1, 2}));
  EXPECT_EQ(progress, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(r.moves.size(), alone.moves.size());
  for (std::size_t i = 0; i < r.moves.size(); ++i)
    EXPECT_EQ(std::tie(r.moves[i].loss, r.moves[i].judgement, r.moves[i].best_coord, r.moves[i].fen),
              std::tie(alone.moves[i].loss, alone.moves[i].judgement, alone.moves[i].best_coord, alone.moves[i].fen));
  EXPECT_EQ(r.moves[4].best_coord, "h5e5");
  EXPECT_EQ(r.moves[4].fen, "rnbqkb1r/pppp1ppp/5n2/4p2Q/4P3/8/PPPP1PPP/RNB1KBNR w KQkq - 2 3");

  JudgeLog once;
  once.broken = 0;
  EXPECT_EQ(review_game(1, record, once.maker({}), 2, 16).moves.size(), 6u);
  EXPECT_EQ(once.seen.size(), 3u);  // the broken one's worker got a fresh judge
  JudgeLog always;
  always.broken = 0;
  always.always = true;
  EXPECT_THROW(review_game(1, record, always.maker({}), 2, 16), EngineError);
}

TEST(ReviewEngine, TheBestLineThenThePlayedMoveAloneAtTheSameDepthOrAClearError) {
  testing_support::CaptureEcho quiet;
  testing_support::ScriptedEngine fake("score e2e4 30 e7e5\nscore d2d4 10\n");
  ReviewEngine engine(fake.config(), std::nullopt);
  const board::MoveList legal = board::Board().legal_moves();
  const auto judged = [&](const char* move) {
    const Preview p = engine.judge({}, *board::make_move(move, legal), legal, std::string(common::FEN_New_Game), 12);
    return std::make_tuple(p.best_score, p.actual_score, p.best_line);
  };
  EXPECT_EQ(judged("e2e4"), std::make_tuple(30, 30, std::vector<std::string>{"e2e4", "e7e5"}));
  EXPECT_EQ(judged("d2d4"), std::make_tuple(30, 10, std::vector<std::string>{"e2e4", "e7e5"}));
  EXPECT_EQ(fake.received("go").size(), 3u);
  EXPECT_EQ(fake.received("go").back(), "go depth 12 searchmoves d2d4");
  testing_support::ScriptedEngine silent("on go\non stop\n> bestmove a2a3\n");  // cut by the watchdog before any line
  ReviewEngine none(silent.config(), std::chrono::milliseconds(20));
  EXPECT_NE(testing_support::error_of<EngineError>([&] {
              none.judge({}, *legal.front(), legal, std::string(common::FEN_New_Game), 12);
            }).find("found no move"),
            std::string::npos);
  // An engine that died on one move is replaced for the next.
  testing_support::ScriptedEngine dying(std::vector<std::string>{"on go\ndie\n", "score e2e4 5\n"});
  ReviewEngine again(dying.config(), std::nullopt);
  EXPECT_THROW(again.judge({}, *legal.front(), legal, std::string(common::FEN_New_Game), 12), EngineError);
  EXPECT_EQ(again.judge({}, *legal.front(), legal, std::string(common::FEN_New_Game), 12).best_score, 5);
}

TEST(Review, MovesAsAGameScoreAndColumnsThatHoldLongNames) {
  auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  const GameReview r = review_game(1, record, scripted(kQueenBlunderJudged));
  EXPECT_EQ(moves_text(r),
            "1. e4                         e5\n"
            "2. Qh5                        Nf6 ?! (\u22120.6) best: Nc6\n"
            "3. Bc4 ?? (\u22128.9) best: Qxe5+  Nxh5\n");
  const auto setup = testing_support::read_pgn("[FEN \"4k3/8/8/8/8/8/4P3/4K2R b K - 3 30\"]\n\n30... Kd7 31. Kf1 *").at(0);
  EXPECT_EQ(moves_text(review_game(1, setup, scripted({}))), "30. ...  Kd7\n31. Kf1\n");

  record.set_tag("White", "Grandmaster Maximilian Alexander von Careless-Longname");
  record.set_tag("Black", "\u00c5se");  // two bytes, one character
  const std::string summary = summary_text(review_game(1, record, scripted(kQueenBlunderJudged)));
  std::vector<std::string> table;
  std::istringstream lines(summary);
  for (std::string line; std::getline(lines, line);)
    if (line.find("worst:") == std::string::npos && line.rfind("Game", 0) != 0) table.push_back(line);
  ASSERT_EQ(table.size(), 3u) << summary;
  for (const auto& line : table) EXPECT_EQ(display_width(line), display_width(table[0])) << summary;
  EXPECT_NE(table[1].find("Careless-Longname      3    297"), std::string::npos) << summary;
}

TEST(ReviewGraph, EachMarkDrawnAsItsKindOnAScaleThatKeepsBigScoresApart) {
  GameReview r;
  const std::vector<std::pair<Judgement, int>> moves = {{Judgement::Good, 20},        {Judgement::Inaccuracy, -70},
                                                        {Judgement::Mistake, 500},    {Judgement::Blunder, 900},
                                                        {Judgement::Good, MATE_IN(3)}, {Judgement::Good, MATE_IN(2)},
                                                        {Judgement::Good, MATE_IN(1)}};  // mates on the board
  for (std::size_t i = 0; i < moves.size(); ++i) {
    MoveReview m;
    m.side = i % 2 ? common::BLACK : common::WHITE;
    m.number = static_cast<int>(i / 2 + 1);
    m.san = "e4";
    m.judgement = moves[i].first;
    m.played_score = m.side == common::WHITE ? moves[i].second : -moves[i].second;
    r.moves.push_back(m);
  }
  const std::string svg = evaluation_svg(r);
  ASSERT_TRUE(well_formed(svg));
  std::map<std::string, std::vector<double>> ys;  // kind -> cy of its points, in order
  const std::regex point(R"re(<circle class="move (\w+)" data-ply="(\d+)" cx="[\d.]+" cy="([\d.]+)")re");
  std::vector<double> by_ply;
  for (std::sregex_iterator it(svg.begin(), svg.end(), point), end; it != end; ++it) {
    ys[(*it)[1]].push_back(std::stod((*it)[3]));
    EXPECT_EQ(std::stoul((*it)[2]), by_ply.size());
    by_ply.push_back(std::stod((*it)[3]));
  }
  EXPECT_EQ((std::vector<std::size_t>{ys["good"].size(), ys["inaccuracy"].size(), ys["mistake"].size(),
                                      ys["blunder"].size()}),
            (std::vector<std::size_t>{4, 1, 1, 1}));
  ASSERT_EQ(by_ply.size(), 7u);
  // White +5 and +9 apart, a mate above both; either side's mate for White alike.
  EXPECT_GT(by_ply[2] - by_ply[3], 20);
  EXPECT_LT(by_ply[4], by_ply[3]);
  EXPECT_EQ(by_ply[4], by_ply[5]);
  EXPECT_EQ(by_ply[4], by_ply[6]);
  // Where every mark, number, grid line and label sits, as looked at in a browser.
  testing_support::expect_as_in_file("review_graph_7_plies.svg", svg);
  GameReview longer = r;
  longer.moves.resize(51);
  for (int i = 0; i < 51; ++i) longer.moves[static_cast<std::size_t>(i)].number = i + 1;
  testing_support::expect_as_in_file("review_graph_51_moves.svg", evaluation_svg(longer));
  // The step at its bounds: every 2nd move up to 20 moves, 5th up to 50, 10th up to 100, then 20th.
  for (const auto& [count, step] : {std::pair{20, 2}, {21, 5}, {50, 5}, {51, 10}, {100, 10}, {101, 20}}) {
    longer.moves.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) longer.moves[static_cast<std::size_t>(i)].number = i + 1;
    // The title, the first move's number, then one a step.
    EXPECT_EQ(testing_support::count_of(evaluation_svg(longer), "text-anchor=\"middle\">"), 2 + count / step) << count;
  }
}

TEST(ReviewJob, ReportsProgressThenTheReviewAndStopsWhenDropped) {
  const auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  {
    ReviewJob job(record, [] { return scripted(kQueenBlunderJudged); }, 2, 16);
    ReviewJob::Status s = job.status();
    EXPECT_EQ(s.total, 6u);
    while (!s.review) s = job.status();
    EXPECT_EQ(s.done, 6u);
    EXPECT_EQ(s.review->moves[4].judgement, Judgement::Blunder);
  }
  std::atomic<int> judged{0};
  const auto slow = [&judged] {
    return PreviewFn([&judged](const board::MoveList&, const board::Move& move, const board::MoveList&,
                               const std::string&) {
      ++judged;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return Preview{0, 0, {move.to_coord()}};
    });
  };
  const auto long_game = testing_support::read_pgn("[Event \"long\"]\n\n1. Nf3 Nf6 2. Ng1 Ng8 3. Nf3 Nf6 4. Ng1 Ng8 5. Nf3 Nf6 6. Ng1 Ng8 "
                                                   "7. Nf3 Nf6 8. Ng1 Ng8 9. Nf3 Nf6 10. Ng1 Ng8 *").at(0);
  {
    ReviewJob dropped(long_game, slow, 1, 16);
    const ReviewJob::Status first = dropped.status();  // nothing judged yet: no estimate
    EXPECT_EQ(std::make_tuple(first.done, first.total, first.seconds_left.has_value()), std::make_tuple(0u, 20u, false));
    ReviewJob::Status later = dropped.status();
    while (later.done == 0) later = dropped.status();
    EXPECT_TRUE(later.review || later.seconds_left) << later.done;  // an estimate once a move is judged
  }
  EXPECT_LT(judged.load(), 20);  // stopped, not finished
}

TEST(Review, SetUpPositionAndIllegalMoves) {
  const std::string fen = "4k3/8/8/8/8/8/4P3/4K2R b K - 3 30";
  const auto record = testing_support::read_pgn("[SetUp \"1\"]\n[FEN \"" + fen + "\"]\n\n30... Kd7 31. O-O Kc6 *\n").at(0);
  std::vector<std::string> fens;
  const GameReview r = review_game(4, record, scripted({{"d7c6", Preview{0, -40, {"d7e6"}}},
                                                              {"e1g1", Preview{MATE_IN(2), MATE_IN(2), {"e1g1"}}}},
                                                             &fens));
  ASSERT_EQ(r.moves.size(), 3u);
  EXPECT_EQ(fens, std::vector<std::string>(3, fen));
  EXPECT_EQ(r.moves[0].side, common::BLACK);
  EXPECT_EQ(r.moves[1].san, "O-O");
  const std::string pgn = annotated_pgn(r);
  const std::string flat = std::regex_replace(pgn, std::regex("\n"), " ");
  EXPECT_NE(flat.find("30... Kd7 {[%eval -0.20]} 31. O-O {[%eval #1]} 31... Kc6 {[%eval 0.40] Black -0.40, best Ke6 +0.00}"),
            std::string::npos) << pgn;
  EXPECT_NE(flat.find("(31... Ke6) *"), std::string::npos) << pgn;
  const auto back = testing_support::read_pgn(pgn).at(0);
  EXPECT_EQ(back.tag("FEN"), fen);
  EXPECT_EQ(back.san, record.san);

  const std::string svg = evaluation_svg(r);
  EXPECT_TRUE(well_formed(svg)) << svg;
  EXPECT_EQ(testing_support::count_of(svg, "<circle class=\"move"), 3);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"1. e4 e5 2. Ke3 *", "move 2. Ke3 is not legal"},
      {"1. e4 Nf3 *", "move 1... Nf3 is not legal"},
  };
  for (const auto& [text, message] : bad) {
    const std::string error =
        testing_support::error_of<std::runtime_error>([&] { review_game(1, testing_support::read_pgn(text).at(0), scripted({})); });
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
  EXPECT_THROW(review_game(1, testing_support::read_pgn("[FEN \"8/8/8 w - - 0 1\"]\n\n*").at(0), scripted({})), board::FenError);
}

// Off a terminal a line a game and the summaries; on a terminal the progress
// is one line, redrawn in place and wiped when the game is done.
TEST(ReviewRun, OnATerminalTheProgressIsOneLineRedrawnInPlace) {
  testing_support::FakeEngine fake("default-score 0\nscore f1c4 -700\nscore d1h5 -120\n");
  testing_support::TempDir dir;
  testing_support::write_file(dir.file("game.pgn"), std::string(kQueenBlunder) + "\n" + kQueenBlunder);
  ReviewPlan plan;
  plan.file = dir.file("game.pgn");
  plan.depth = 2;
  plan.jobs = 1;
  plan.moves = true;
  plan.out = dir.file("annotated.pgn");
  std::ostringstream all, all_log;
  run_review(plan, all, all_log);
  testing_support::expect_as_in_file(
      "review_command.txt",
      std::regex_replace(all.str() + "----\n" + all_log.str() + "----\n" + testing_support::read_file(plan.out),
                         std::regex(R"(in [\d.]+ s \([\d.]+ s per move\))"), "in - s (- s per move)"));
  plan.live = true;
  plan.moves = false;
  plan.out.clear();
  plan.games = 1;  // the first of the two
  std::ostringstream out, log;
  run_review(plan, out, log);
  const std::string text = log.str();
  EXPECT_NE(text.find("\r\033[KReviewing game 1 (Careless - Alert): 1/6 moves, about "), std::string::npos) << text;
  EXPECT_EQ(text.find("\n"), text.rfind("\n")) << text;  // the lines for a file are not written
  EXPECT_NE(text.find("\r\033[KReviewed 6 moves in 1 game in "), std::string::npos) << text;
}

TEST(Review, EndToEndWithStockfish) {
  if (::access(testing_support::stockfish_path(), X_OK) != 0) GTEST_SKIP() << "stockfish is not installed";
  testing_support::TempDir dir;
  const std::string broken = "[Event \"broken\"]\n\n1. e4 e5 2. Ke3 *\n\n";
  testing_support::write_file(dir.file("games.pgn"), broken + kQueenBlunder + "\n" + kQueenBlunder);
  const auto res = testing_support::run_cli({"review", dir.file("games.pgn"), "--depth", "5", "--jobs", "2", "--moves",
                                             "--out", dir.file("annotated.pgn"), "--svg", dir.file("graph.svg"), "--verbose"});
  ASSERT_EQ(res.status, 0) << res.err;
  // --verbose: the analysts' own lines too (each says its name as it starts).
  for (const char* said : {"\nreview 0\n", "game 1: move 2. Ke3 is not legal", "; 1 game skipped\n"})
    EXPECT_NE(res.err.find(said), std::string::npos) << said << "\n" << res.err;
  EXPECT_NE(res.out.find("\n3. Bc4 ?? ("), std::string::npos) << res.out;
  const std::string pgn = testing_support::read_file(dir.file("annotated.pgn"));
  EXPECT_NE(pgn.find("3. Bc4 $4"), std::string::npos) << pgn;
  EXPECT_EQ(testing_support::read_pgn(pgn).at(0).san, testing_support::read_pgn(kQueenBlunder).at(0).san);
  // A graph a game, numbered as the games of the file.
  EXPECT_FALSE(std::filesystem::exists(dir.file("graph.svg")));
  const std::string svg = testing_support::read_file(dir.file("graph-3.svg"));
  EXPECT_TRUE(well_formed(svg)) << svg;
  EXPECT_EQ(testing_support::count_of(svg, "<circle class=\"move"), 6);
  EXPECT_NE(svg.find(">Game 3: Careless - Alert, 0-1 (depth 5)</text>"), std::string::npos);
  EXPECT_NE(testing_support::read_file(dir.file("graph-2.svg")).find(">Game 2: Careless"), std::string::npos);
  // pgn-extract replays the game, variations included, or drops it.
  if (::access("/usr/games/pgn-extract", X_OK) != 0) return;
  const std::string command = "/usr/games/pgn-extract -s -o " + dir.file("out.pgn") + " " + dir.file("annotated.pgn") +
                              " 2>" + dir.file("err");
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(testing_support::read_file(dir.file("err")), "");
  const std::string extracted = testing_support::read_file(dir.file("out.pgn"));
  EXPECT_EQ(testing_support::read_pgn(extracted).size(), 2u);
  EXPECT_NE(extracted.find("$4"), std::string::npos);
}
