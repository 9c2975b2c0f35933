// Game review: judging moves, the annotated PGN, the summary and the graph.
#include <unistd.h>

#include <algorithm>
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

TEST(Review, QueenBlunderIsMarkedAnnotatedAndSummarised) {
  const auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  // 3. Bc4 (f1c4) loses the queen; 2... Nf6 (g8f6) is a small inaccuracy; 1... e5
  // scores better than the engine's first choice in the head-to-head search.
  const PreviewFn preview = scripted({
      {"f1c4", Preview{-60, -950, {"h5e5", "f8e7", "d2d3"}}},
      {"g8f6", Preview{90, 30, {"b8c6", "f1c4", "g7g6"}}},
      {"e7e5", Preview{15, 40, {"e7e5", "g1f3"}}},
  });
  // Progress after each move, with its mark at once: the terminal's line.
  std::vector<std::string> progress;
  ReviewMarks marks;
  const GameReview r = review_game(1, record, preview, 7, [&](const ReviewStep& step) {
    std::string line = marks.line(step, 80);
    EXPECT_EQ(line.size(), 80u);
    progress.push_back(line.erase(line.find_last_not_of(' ') + 1));
  });
  ASSERT_EQ(r.moves.size(), 6u);
  ASSERT_EQ(progress.size(), 7u);
  EXPECT_EQ(progress[0], "[............] 0/6 moves");
  EXPECT_EQ(progress[4], "[########....] 4/6 moves; 1 inaccuracy; latest 2... Nf6?!");
  EXPECT_EQ(progress[6], "[############] 6/6 moves; 1 blunder, 1 inaccuracy; latest 3. Bc4??");
  // Narrower: the parts that fit, whole; the bar itself cut only when nothing else is left.
  EXPECT_EQ(marks.line({6, 6}, 62), "[############] 6/6 moves; 1 blunder, 1 inaccuracy             ");
  EXPECT_EQ(marks.line({6, 6}, 10), "[#########");

  // The annotated game (marks, evals, best lines as variations), the summary,
  // the moves with their marks, and the totals over two games.
  const std::string pgn = annotated_pgn(r);
  testing_support::expect_as_in_file("review_queen_blunder.txt",
                                     pgn + "----\n" + summary_text(r) + "----\n" + moves_text(r) + "----\n" + totals_text({r, r}));
  EXPECT_EQ(totals_text({r}), "");

  // A side that made no move has no worst moves to name.
  const GameReview one = review_game(1, testing_support::read_pgn("[White \"W\"]\n\n1. e4 *\n").at(0),
                                     scripted({{"e2e4", Preview{20, 20, {"e2e4"}}}}), 7);
  EXPECT_EQ(testing_support::count_of(summary_text(one), "worst:"), 1) << summary_text(one);
}

// Judges that note which plies each of them saw; judge `broken` throws
// EngineError at its second move (once, or always).
struct JudgeLog {
  std::mutex mutex{};
  std::vector<std::set<std::size_t>> seen{};
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
                                   [&](const ReviewStep& step) { progress.push_back(step.done); });
  // Worker k judges plies k and k + 3.
  EXPECT_EQ((std::multiset<std::set<std::size_t>>(log.seen.begin(), log.seen.end())),
            (std::multiset<std::set<std::size_t>>{{0, 3}, {1, 4}, {2, 5}}));
  EXPECT_EQ(progress, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(annotated_pgn(r), annotated_pgn(alone));
  EXPECT_EQ(r.moves[4].best_coord, "h5e5");
  EXPECT_EQ(r.moves[4].fen, "rnbqkb1r/pppp1ppp/5n2/4p2Q/4P3/8/PPPP1PPP/RNB1KBNR w KQkq - 2 3");

  JudgeLog once{.broken = 0};
  EXPECT_EQ(review_game(1, record, once.maker({}), 2, 16).moves.size(), 6u);
  EXPECT_EQ(once.seen.size(), 3u);  // the broken one's worker got a fresh judge
  JudgeLog always{.broken = 0, .always = true};
  EXPECT_THROW(review_game(1, record, always.maker({}), 2, 16), EngineError);
}

TEST(ReviewEngine, TheBestLineThenThePlayedMoveAloneAtTheSameDepthOrAClearError) {
  testing_support::CaptureEcho quiet;
  testing_support::ScriptedEngine fake("score e2e4 30 e7e5\nscore d2d4 10\n");
  ReviewEngine engine(fake.config(), std::nullopt);
  const board::MoveList legal = board::Board().legal_moves();
  const std::string start(common::FEN_New_Game);
  const auto judged = [&](const char* move) {
    const Preview p = engine.judge({}, *board::make_move(move, legal), legal, start, 12);
    return std::make_tuple(p.best_score, p.actual_score, p.best_line);
  };
  EXPECT_EQ(judged("e2e4"), std::make_tuple(30, 30, std::vector<std::string>{"e2e4", "e7e5"}));
  EXPECT_EQ(judged("d2d4"), std::make_tuple(30, 10, std::vector<std::string>{"e2e4", "e7e5"}));
  EXPECT_EQ(fake.received("go").size(), 3u);
  EXPECT_EQ(fake.received("go").back(), "go depth 12 searchmoves d2d4");
  testing_support::ScriptedEngine silent("on go\non stop\n> bestmove a2a3\n");  // cut by the watchdog before any line
  ReviewEngine none(silent.config(), std::chrono::milliseconds(20));
  const std::string error = testing_support::error_of<EngineError>([&] { none.judge({}, *legal.front(), legal, start, 12); });
  EXPECT_NE(error.find("found no move"), std::string::npos) << error;
  // An engine that died on one move is replaced for the next.
  testing_support::ScriptedEngine dying(std::vector<std::string>{"on go\ndie\n", "score e2e4 5\n"});
  ReviewEngine again(dying.config(), std::nullopt);
  EXPECT_THROW(again.judge({}, *legal.front(), legal, start, 12), EngineError);
  EXPECT_EQ(again.judge({}, *legal.front(), legal, start, 12).best_score, 5);
}

// The summary's columns hold a long name and one of fewer characters than
// bytes; the game score of a game that Black starts and White ends.
TEST(Review, ColumnsThatHoldLongNamesAndAMoveListFromASetUpPosition) {
  auto record = testing_support::read_pgn(kQueenBlunder).at(0);
  record.set_tag("White", "Grandmaster Maximilian Alexander von Careless-Longname");
  record.set_tag("Black", "\u00c5se");
  const auto setup = testing_support::read_pgn("[FEN \"4k3/8/8/8/8/8/4P3/4K2R b K - 3 30\"]\n\n30... Kd7 31. Kf1 *").at(0);
  testing_support::expect_as_in_file("review_long_names.txt", summary_text(review_game(1, record, scripted(kQueenBlunderJudged))) +
                                                                  "----\n" + moves_text(review_game(1, setup, scripted({}))));
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
  EXPECT_TRUE(well_formed(svg));
  // Where every mark, number, grid line and label sits, as looked at in a
  // browser: White +5 and +9 well apart, a mate above both, either side's
  // mate for White alike.
  testing_support::expect_as_in_file("review_graph_7_plies.svg", svg);
  // The step at its bounds: every 2nd move up to 20 moves, 5th up to 50, 10th up to 100, then 20th.
  GameReview longer = r;
  for (const auto& [count, step] : {std::pair{20, 2}, {21, 5}, {50, 5}, {51, 10}, {100, 10}, {101, 20}}) {
    longer.moves.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) longer.moves[static_cast<std::size_t>(i)].number = i + 1;
    const std::string drawn = evaluation_svg(longer);
    // The title, the first move's number, then one a step.
    EXPECT_EQ(testing_support::count_of(drawn, "text-anchor=\"middle\">"), 2 + count / step) << count;
    if (count == 51) testing_support::expect_as_in_file("review_graph_51_moves.svg", drawn);
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
    if (!later.review) {  // the moves judged so far come with their marks, the rest as played
      ASSERT_EQ(later.moves.size(), 20u);
      EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(later.judged, true)), later.done);
      EXPECT_TRUE(later.judged[0]);
      EXPECT_EQ(later.moves[19].san, "Ng8");
    }
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
  EXPECT_EQ(fens, std::vector<std::string>(3, fen));
  const std::string pgn = annotated_pgn(r);
  EXPECT_EQ(testing_support::read_pgn(pgn).at(0).san, record.san);
  // The annotated game and its graph, then what is said of illegal moves.
  std::string said = pgn + "----\n" + evaluation_svg(r) + "----\n";
  for (const char* illegal : {"1. e4 e5 2. Ke3 *", "1. e4 Nf3 *"})
    said += testing_support::error_of<std::runtime_error>(
                [&] { review_game(1, testing_support::read_pgn(illegal).at(0), scripted({})); }) + "\n";
  testing_support::expect_as_in_file("review_set_up_position.txt", said);
  EXPECT_THROW(review_game(1, testing_support::read_pgn("[FEN \"8/8/8 w - - 0 1\"]\n\n*").at(0), scripted({})), board::FenError);
  // A preview with no verdict on a move other than the best stops the review: no score is made up.
  EXPECT_EQ(testing_support::error_of<EngineError>([&] {
              review_game(1, record, scripted({{"d7c6", Preview{0, std::nullopt, {"d7e6"}}}}));
            }),
            "The engine had no time to judge the move Kc6");
}

// Off a terminal a line a game and the summaries; on a terminal the progress
// is one line, redrawn in place and wiped when the game is done.
TEST(ReviewRun, OnATerminalTheProgressIsOneLineRedrawnInPlace) {
  testing_support::FakeEngine fake("default-score 0\nscore f1c4 -700\nscore d1h5 -120\n");
  testing_support::TempDir dir;
  testing_support::write_file(dir.file("game.pgn"), std::string(kQueenBlunder) + "\n" + kQueenBlunder);
  const ReviewPlan plan{.file = dir.file("game.pgn"), .depth = 2, .jobs = 1, .out = dir.file("annotated.pgn"), .svg = {},
                        .moves = true};
  std::ostringstream all, all_log, first, live_log;  // first: the first of the two games, on a terminal
  run_review(plan, all, all_log);
  run_review({.file = plan.file, .depth = 2, .jobs = 1, .games = 1, .out = {}, .svg = {}, .live = true}, first, live_log);
  testing_support::expect_as_in_file(
      "review_command.txt",
      std::regex_replace(all.str() + "----\n" + all_log.str() + "----\n" + testing_support::read_file(plan.out) + "----\n" +
                             first.str() + "----\n" + testing_support::replace_all(live_log.str(), "\r\033[K", "<wiped>"),
                         std::regex(R"(\d+(\.\d+)? s\b)"), "- s"));
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
