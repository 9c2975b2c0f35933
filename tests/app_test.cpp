// The host program's games, their PGN, match statistics and score texts.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ai_players/core/analysis.h"
#include "engine_client/engine_strength.h"
#include "game/game.h"
#include "game/numbers.h"
#include "game/time_control.h"
#include "tournament/match_stats.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "pgn/pgn_file.h"
#include "players/engine_watch.h"
#include "players/human_game.h"
#include "players/library_output.h"
#include "support/fake_engine_session.h"
#include "players/measured_ratings.h"
#include "support/test_support.h"
#include "players/move_judgement.h"
#include "players/persona_factory.h"
#include "players/persona_player.h"
#include "serve/api.h"
#include "support/scripted_channel.h"
#include "support/pgn_replay.h"
#include "terminal/board_view.h"
#include "terminal/line_input.h"
#include "terminal/terminal_play.h"
#include "uci/uci_protocol.h"

namespace ai_players::app {
namespace {

using V = std::vector<std::string>;

// A value as the expected files show it: "none", milliseconds with their unit.
template <class T>
std::string show(const T& v) {
  if constexpr (requires { v.has_value(); })
    return v ? show(*v) : "none";
  else if constexpr (requires { v.count(); })
    return fmt::format("{} ms", v.count());
  else
    return fmt::format("{}", v);
}

// A line of an expected file: what `f` gives, or the UserError it throws.
template <class F>
std::string line(const std::string& what, F f) {
  try {
    return what + ": " + show(f()) + "\n";
  } catch (const UserError& e) {
    return what + ": error: " + e.what() + "\n";
  }
}

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

// Plays the listed SAN moves in order, for both sides.
Mover scripted(V moves) {
  return [moves](const MoveRequest& r) -> MoveReply {
    const std::string& want = moves.at(r.history.size() % moves.size());
    for (const auto& m : r.legal)
      if (m->to_SAN(r.legal) == want) return {m, ""};
    throw std::logic_error("scripted move not legal: " + want);
  };
}

// How a game ended, in one line.
std::string ending_of(const PlayedGame& game) {
  if (!game.outcome) return "going on";
  return fmt::format("{} {} after {} plies: {}", game.outcome->result, termination_text(game.outcome->why),
                     game.san.size(), game.final_comment);
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

// The numbers of flags and of a GUI's go, at their bounds: 0 s is "no limit", a
// millisecond the least other time. Bad input is quoted, cut after 100 characters.
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
  // A GUI's go: the mover's own clock; movestogo 0 and a negative time mean none and
  // nothing left; the limits passed on in the GUI's order; searchmoves ends the line.
  const auto go = [](const std::string& args, int side) {
    return line(fmt::format("go '{}' for {}", args, side == common::WHITE ? "white" : "black"), [&] {
      const GoRequest g = parse_go(args, side);
      return fmt::format("time {} inc {} to go {} movetime {}; depth {} nodes {} mate {} ponder {} infinite {}; '{}'",
                         show(g.clock.remaining), show(g.clock.increment), show(g.clock.moves_to_go),
                         show(g.clock.movetime), show(g.depth), show(g.nodes), show(g.mate), g.ponder, g.infinite,
                         g.limits);
    });
  };
  text += go("wtime 1000 btime 2000 winc 10 binc 20 movestogo 5 depth 7", common::BLACK);
  for (const char* s : {"movestogo 0 wtime -5", "movestogo 10000 depth", "depth 100", "depth 0", "mate 100", "mate 0",
                        "ponder movetime 300 nodes 1 mate 99 depth 99 infinite searchmoves e2e4 depth 3", "nodes 0",
                        "movestogo 10001", "wtime x"})
    text += go(s, common::WHITE);
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

TEST(MatchStats, TallyEloAndItsText) {
  Tally t;
  for (const auto& [result, white] : std::vector<std::pair<const char*, bool>>{
           {"1-0", true}, {"1-0", false}, {"0-1", false}, {"1/2-1/2", false}, {"*", true}})
    t.add(result, white);
  EXPECT_EQ((std::vector<int>{t.wins, t.losses, t.draws, t.unfinished, t.scored_games()}),
            (std::vector<int>{2, 1, 1, 1, 4}));
  EXPECT_EQ(std::make_pair(t.score(), Tally{}.score()), std::make_pair(0.625, 0.5));  // nothing scored reads as even
  // The margin follows the per-game variance: many draws narrow it, more games too;
  // an interval that reaches a score of 0 or 1 is unbounded there; no "-0".
  std::string text;
  for (double s : {0.75, 0.25, 0.0}) text += fmt::format("score {}: {:+.4f}\n", s, elo_from_score(s));
  for (const Tally& c :
       {Tally{6, 2, 2}, {10, 20, 10}, {2, 5, 13}, {30, 40, 30}, {0, 5, 0}, {4, 0, 0}, {0, 1, 3}, {3, 0, 1}}) {
    const EloEstimate e = estimate_elo(c);
    text += fmt::format("+{} ={} -{}: {:+.2f} +/- {:.2f}, {}\n", c.wins, c.draws, c.losses, e.difference + 0.0,
                        e.margin, format_elo(e));  // + 0.0: an even score's -0 shows as 0
  }
  text += "-0.3 +/- 12.4: " + format_elo({-0.3, 12.4}) + "\n";
  testing_support::expect_as_in_file("elo_estimates.txt", text);
}

TEST(PlayText, PreviewWordsBoardMarksAndMoveRowsAsInFile) {
  std::string text;
  const int mate1 = MATE_IN(1);
  for (const auto& [played, best, judged] : {std::tuple{mate1, mate1, true}, {30, 30, true}, {442, mate1, true},
                                             {-20, 35, true}, {30, 30, false}})
    text += judgement_text({"b8=R#", "b8=Q#", "b8b8q", {}, Score(played), Score(best), false, judged, ""}) + "\n";
  // The last move's squares in brackets, from either side, neighbours sharing a bar.
  for (const auto& [black_view, last] : {std::pair{false, "h1h2"}, {false, "e1f1"}, {true, "e1f1"}, {true, ""}})
    text += fmt::format("{}\n", fmt::join(board_lines(kEnding, black_view, last), "\n"));
  text += wrapped("one two three four", 9) + "\n";
  // Tenths under ten seconds, hours from the first.
  for (const int ms : {-5, 9999, 10000, 3599999, 3600000}) text += clock_text(milliseconds(ms)) + " ";
  PlayedGame g;
  g.start_fen = "4k3/8/8/8/8/8/8/4K2R b K - 0 30";
  g.san = {"Kd7", "Rh7+", "Ke6", "Rh6+", "Kf5"};
  for (const std::size_t rows : {2, 9}) text += fmt::format("\n{}", fmt::join(move_rows(g, rows), "\n"));
  // An engine line in SAN: twelve moves at most, and only as far as it is legal.
  V shuffles;
  for (int i = 0; i < 16; ++i) shuffles.push_back(V{"g1f3", "g8f6", "f3g1", "f6g8"}[i % 4]);
  const std::string start(common::FEN_New_Game);
  text += fmt::format("\n{}\n{}\n", fmt::join(san_line(start, shuffles), " "),
                      fmt::join(san_line(start, {"e2e4", "e7e5", "e4e5", "g8f6"}), " "));
  testing_support::expect_as_in_file("play_texts.txt", text);
}

// A preview cut short before the head-to-head ranked the human's move: no verdict, in words
// or in the page's numbers.
TEST(PlayText, APreviewWithNoTimeToJudgeTheMoveSaysSo) {
  testing_support::ScriptedEngine fake("score e2e4 40 e7e5\nscore d2d4 30\non go depth 7 searchmoves b1c3 e2e4\n"
                                       "on stop\n> bestmove b1c3\n");
  testing_support::CaptureEcho quiet;
  Verevovera adviser(fake.config());
  const GameState game{std::string(common::FEN_New_Game)};
  const auto move = board::find_move(game.legal(), "b1c3");
  adviser.stop_at = std::chrono::steady_clock::now() + milliseconds(300);
  const MoveJudgement j = judge_move(adviser, game, *move, 7);
  EXPECT_EQ(j.text, "Your move Nc3: no time to judge this move");
  const json page = judgement_json(j);
  EXPECT_TRUE(page["score"].is_null() && page["score_text"].is_null()) << page.dump();
  EXPECT_EQ(std::make_pair(page["best"], page["best_score"]), std::make_pair(json("e4"), json(40)));
  adviser.stop_at.reset();  // time to judge it: the engine's order of the two
  EXPECT_EQ(judgement_json(judge_move(adviser, game, *move, 7))["score"], 0);
}

TEST(Strengths, MeasuredRatingsReadTheirFileAndTheEngineRangeRoundsInward) {
  std::istringstream tsv(
      "name\trating\tmargin\tgames\tbound\n"
      "Talvo\t388.2\t219.4\t80\t-1\t0-0-80\n"
      "Gnome\t1078.4\t151.2\t80\t0\n"
      "HOUD20c:1350\t1350\t0\t80\t0\n"
      "Verevovera\t1635.5\t185.4\t80\t1\n"
      "Broken\tnan\t1\t2\t0\n"
      "Short\t12\n");
  std::string text;
  for (const auto& [name, m] : read_measured_ratings(tsv))
    text += fmt::format("{}: {} games, {}\n", name, m.games, measured_text(m));
  // The least range is taken; multiples of 10 inside the range are played, and a
  // range with none leaves the asked strength alone.
  for (const char* spin : {"default 1320 min 1320 max 3190", "min 1 max 1", "min 0 max 3190", "min 2000 max 1999",
                           "min x max 3190", "min 1320", "min 1320 max", "max 3190"}) {
    const auto r = elo_range_of({"option name Hash type spin", "option name UCI_Elo type spin " + std::string(spin)});
    text += fmt::format("UCI_Elo {}: {}\n", spin, r ? fmt::format("{}..{}", r->min, r->max) : "none");
  }
  for (const auto& [asked, min, max] : {std::tuple{1200, 1320, 3190}, {1200, 1321, 3190}, {1330, 1321, 3190},
                                        {3200, 1320, 3199}, {3200, 1320, 3200}, {1500, 1321, 1329}, {1320, 1320, 1320}})
    text += fmt::format("{} in {}..{}: {}\n", asked, min, max, playable_elo(asked, EloRange{min, max}));
  text += fmt::format("1200 in no range: {}\n", playable_elo(1200, std::nullopt));
  // A persona's strength as its name says, without an engine.
  for (const char* name : {"gnome", "HOUD20c", "houd20c:1", "HOUD20c:0", "HOUD20c:-5", "HOUD20c:12x", "HOUD20c1500", "Nobody"}) {
    std::string said;
    try {
      const auto strength = roster_strength(name);
      said = strength ? std::to_string(*strength) : "none";
    } catch (const PersonaError& e) {
      said = e.what();
    }
    text += fmt::format("{}: {}\n", name, said);
  }
  testing_support::expect_as_in_file("strengths.txt", text);
}

TEST(LibraryOutput, KeepsTheLatestDiagnosticsAndNamesTheCommandThatFailed) {
  testing_support::CaptureBugprint outside;
  testing_support::CaptureEcho outside_echo;
  {
    LibraryOutput output(false);
    bugprint("setoption name Hash value 16");
    bugprint("position startpos\r\n");
    bugprint("position startpos ^^^^^ Gnome");
    bugprint("\n");
    EXPECT_EQ(output.diagnostics(), (V{"setoption name Hash value 16", "position startpos", "position startpos ^^^^^ Gnome"}));
    EXPECT_EQ(describe_failure("Gnome was choosing a move", EngineError("The chess engine x stopped"), output.diagnostics()),
              "engine failure while Gnome was choosing a move: The chess engine x stopped\n"
              "  the command that failed: position startpos");
    EXPECT_EQ(describe_failure("the review was judging", std::runtime_error("no"), {"^^^^^ only"}),
              "failure while the review was judging: no");
    for (int i = 0; i < 500; ++i) bugprint("line " + std::to_string(i));
    // At 200 lines the older half goes: 103 lines are left, "line 397" the first.
    EXPECT_EQ(std::make_tuple(output.diagnostics().size(), output.diagnostics().front(), output.diagnostics().back()),
              std::make_tuple(103u, "line 397", "line 499"));
  }
  EXPECT_TRUE(outside.lines.empty());
  bugprint("after");
  common::echo("after too");
  ASSERT_FALSE(outside.lines.empty());
  EXPECT_EQ(std::make_pair(outside.lines.front(), outside_echo.lines), std::make_pair(std::string("after"), V{"after too"}));
}

// The two ways a game against a person ends without a move of the rules: the
// person's flag falls, or the persona can give no move at all.
TEST(HumanGameEnds, OnTheHumansFlagAndWhenThePersonaCannotMove) {
  testing_support::FakeEngine fake("on go\ndie\non go\ndie\non go\ndie\non go\ndie\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  HumanGameSetup setup = houdini().game;  // no e2e4 to open with: the engine must answer
  setup.clock = TimeControl{milliseconds(400), milliseconds(0)};
  {
    // Each side's first move is free: a game nobody has begun is not lost on time.
    HumanGame waiting(setup);
    std::this_thread::sleep_for(milliseconds(450));
    EXPECT_FALSE(waiting.flag_check());
    const HumanGame::View view = waiting.view();
    EXPECT_TRUE(*view.white_left == milliseconds(400) && !view.clock_runs && !view.record.outcome);
    // Then the flag falls; a lone king cannot win on time.
    std::string text;
    for (const std::string& fen : {std::string("4k3/7r/8/8/8/8/8/4K2R w K - 0 1"), kEnding}) {
      GameState state(fen, TimeControl{milliseconds(400), milliseconds(50)}, true);
      for (const char* move : {"e1d1", "e8d8"}) {
        EXPECT_TRUE(state.charge(milliseconds(1000)));
        state.play(*board::find_move(state.legal(), move));
      }
      EXPECT_TRUE(state.clock_runs() && state.charge(milliseconds(300)) && *state.time_left(common::WHITE) == milliseconds(150));
      state.play(*board::find_move(state.legal(), "d1e1"));
      state.play(*board::find_move(state.legal(), "d8e8"));
      EXPECT_FALSE(state.charge(milliseconds(151)));
      text += ending_of(state.record()) + "\n";
    }
    EXPECT_EQ(text, "0-1 time forfeit after 4 plies: White ran out of time\n"
                    "1/2-1/2 time forfeit after 4 plies: White ran out of time\n");
  }
  HumanGame game(houdini().game);
  game.play_human(*game.read_move("Rh7"));
  ASSERT_TRUE(game.personas_turn());
  EXPECT_FALSE(game.reply());
  const std::string end = ending_of(game.view().record);
  EXPECT_TRUE(end.starts_with("* abandoned after 1 plies: HOUD20c could not move: ")) << end;
  EXPECT_EQ(game.pgn("E", "S").tag("Termination"), "abandoned");
}

// "Move now" in the player's own turn came too late for the last reply and
// is not for the next one; in the persona's turn it counts even before the
// reply's thread has begun.
// A draw offer is answered by the persona's score and the game's length, each at its boundary.
TEST(HumanGame, ADrawIsTakenWhenLosingAndInALevelGameFromMoveThirty) {
  std::string text;
  for (const auto& [cp, plies] : {std::pair{-200, 0}, {-199, 0}, {49, 59}, {49, 60}, {50, 200}}) {
    const DrawAnswer a = answer_draw(Score(cp), static_cast<std::size_t>(plies));
    text += fmt::format("{} after {}: {}\n", cp, plies, a.accepted ? "accepted" : a.reason);
  }
  EXPECT_EQ(text, "-200 after 0: accepted\n"
                  "-199 after 0: it is too early; it takes a draw in a level game from move 30 on\n"
                  "49 after 59: it is too early; it takes a draw in a level game from move 30 on\n"
                  "49 after 60: accepted\n"
                  "50 after 200: it thinks it is better\n");
}

TEST(HumanGame, MoveNowCountsOnlyInThePersonasTurn) {
  testing_support::FakeEngine fake("on go\n> info depth 9 score cp 50 pv e8d8\n> bestmove e8d8\n"
                                   "on go\non stop\n> bestmove d8c7\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  HumanGame game(houdini().game);
  game.move_now();
  game.play_human(*game.read_move("Rh7"));
  const auto searched = game.reply();
  ASSERT_TRUE(searched);
  EXPECT_EQ(std::make_pair(searched->san, searched->cut_short), std::make_pair(std::string("Kd8"), false));
  game.play_human(*game.read_move("Rh8"));
  game.move_now();
  const auto hurried = game.reply();  // the engine searches until told to stop
  ASSERT_TRUE(hurried);
  EXPECT_EQ(std::make_pair(hurried->san, hurried->cut_short), std::make_pair(std::string("Kc7"), true));
}

// An engine that had to be replaced once is given another chance; the same
// engine failing again is broken, and the persona gives up instead of waiting
// on it reply after reply. The summary counts the restart.
TEST(PersonaPlayer, AnEngineReplacedTwiceIsBroken) {
  // The first engine dies at once; the second in the second position; the third is well.
  testing_support::TempDir dir;
  const std::string engine = dir.file("engine.sh"), count = dir.file("count");
  for (int i = 0; const char* script : {"on go\ndie\n", "on position fen 4k3/8/8/8/8/8/8/4K2R\ndie\n", ""})
    testing_support::write_file(dir.file(std::to_string(i++)), script);
  testing_support::write_file(engine, "#!/bin/sh\nn=$(cat " + count + " 2>/dev/null || echo 0)\necho $((n + 1)) >" +
                                          count + "\n[ $n -gt 2 ] && n=2\nFAKE_ENGINE_SCRIPT=" + dir.path() +
                                          "/$n exec " + testing_support::fake_engine_path() + "\n");
  std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  PersonaSettings settings;
  settings.engine = engine;
  PersonaPlayer player{"Hera", make_persona("Hera", settings)};
  const board::Board middle("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::Board ending(kEnding);
  const SafeReply first = ask_persona(player, {}, middle.legal_moves(), middle.export_FEN(), std::nullopt);
  EXPECT_TRUE(!first.cut_short && first.engine_restarted) << first.note;
  try {
    ask_persona(player, {}, ending.legal_moves(), ending.export_FEN(), std::nullopt);
    ADD_FAILURE() << "a broken engine was waited on again";
  } catch (const PersonaFailure& e) {
    EXPECT_NE(std::string(e.what()).find("Hera (550) could not choose a move: the chess engine " + engine + " failed again ("),
              std::string::npos) << e.what();
  }
  EXPECT_TRUE(player_report(player, 1)
                  .ends_with("Hera: its engine was restarted 2 times\nHera: could not finish 1 game (abandoned, not scored)\n"))
      << player_report(player, 1);
  const PersonaPlayer counted{"Gnome", nullptr, 1, 1, 1};
  EXPECT_EQ(player_report(counted, 2), "Gnome: 1 of 1 reply cut short by the clock\nGnome: 1 fallback move in 2 games\n");
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

TEST(TerminalPlay, AnInterruptWhileThePersonaThinksLetsItMoveThenEndsTheSession) {
  testing_support::FakeEngine fake("on go\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  common::ScopedEchoSink quiet([](std::string_view) {});
  std::istringstream typed("Rh7\n");
  LineInput in(typed);
  std::thread host([&] {
    const auto go = [](const std::string& line) { return line.starts_with("go"); };
    testing_support::eventually([&] { return std::ranges::any_of(fake.received(), go); });
    in.interrupt();
  });
  std::ostringstream out;
  play_in_terminal(houdini(), in, out);
  host.join();
  const std::string text = out.str();
  EXPECT_NE(text.find("HOUD20c plays Kd8"), std::string::npos) << text;
  EXPECT_EQ(testing_support::count_of(text, "Your move"), 1) << text;  // none after the interrupt
  EXPECT_TRUE(text.ends_with("Interrupted.\nThe game is left unfinished.\n")) << text;
}

// The signs of life a thinking persona shows: searches started in this reply
// and the deepest depth of the running one.
TEST(EngineWatch, CountsSearchesAndTheRunningSearchsDepth) {
  EngineWatch watch;
  const auto reading = [&] { return std::make_pair(watch.read().searches, watch.read().depth); };
  watch.sent("position startpos\n");
  watch.sent("go depth 9\n");
  // Not deeper: kept at 7; and two lines that give no depth.
  for (const char* info : {"info depth 7 seldepth 9 score cp 20 pv e2e4", "info depth 5 currmove e2e4",
                           "info string depth 30", "info depth x"})
    watch.received(info);
  EXPECT_EQ(reading(), std::make_pair(1, 7));
  watch.sent("go depth 3 searchmoves e2e4\n");
  EXPECT_EQ(reading(), std::make_pair(2, 0));
  watch.received("info depth 12");
  watch.reset();
  EXPECT_EQ(reading(), std::make_pair(0, 0));
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

}  // namespace
}  // namespace ai_players::app
