// The host program's games, their PGN, match statistics and score texts.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <cmath>
#include <set>
#include <sstream>
#include <stdexcept>

#include "ai_players/core/analysis.h"
#include "engine_client/engine_strength.h"
#include "game/game.h"
#include "game/numbers.h"
#include "game/time_control.h"
#include "tournament/match_stats.h"
#include "game/user_error.h"
#include "pgn/game_pgn.h"
#include "players/engine_watch.h"
#include "players/human_game.h"
#include "players/library_output.h"
#include "support/fake_engine_session.h"
#include "players/measured_ratings.h"
#include "support/test_support.h"
#include "players/move_judgement.h"
#include "players/persona_factory.h"
#include "players/persona_player.h"
#include "support/pgn_replay.h"
#include "terminal/board_view.h"
#include "terminal/line_input.h"
#include "terminal/terminal_play.h"
#include "uci/uci_protocol.h"

namespace ai_players::app {
namespace {

using board::MoveList;
using board::MovePtr;
using V = std::vector<std::string>;

// The move text alone, as to_pgn writes it after the tags.
std::string movetext(const V& san, const std::string& fen, const std::string& result) {
  PgnGame g;
  g.san = san;
  g.result = result;
  if (!fen.empty()) g.set_tag("FEN", fen);
  const std::string text = to_pgn(g);
  const std::size_t from = fen.empty() ? 1 : text.find("\n\n") + 2;
  return text.substr(from, text.size() - from - 1);
}

TEST(Pgn, MovetextNumbersMovesAndWrapsAtEightyColumns) {
  EXPECT_EQ(movetext({"e4", "e5", "Nf3"}, "", "*"), "1. e4 e5 2. Nf3 *\n");
  EXPECT_EQ(movetext({}, "", "1/2-1/2"), "1/2-1/2\n");
  // Black to move at move 12: the first move gets "12..." and White's next move 13.
  const std::string fen = "r1bqkb1r/pppp1ppp/2n5/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 3 12";
  EXPECT_EQ(movetext({"Nf6", "Nc3", "d5", "exd5"}, fen, "1-0"), "12... Nf6 13. Nc3 d5 14. exd5 1-0\n");

  V san;
  std::string one_line;
  for (std::size_t i = 0; i < 301; ++i) {
    san.push_back(V{"Nxe4+", "O-O-O", "e8=Q#", "a3", "Rfxd1", "Qh4"}[i % 6]);
    one_line += pgn_move_unit("", i, san.back()) + " ";
  }
  std::istringstream in(movetext(san, "", "0-1"));
  std::string rejoined;
  for (std::string line; std::getline(in, line); rejoined += line + " ") {
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_TRUE(in.peek() == EOF || line.size() > 70) << "a line left short: " << line;
    EXPECT_NE(line.back(), '.') << "a move number ends the line: " << line;
  }
  EXPECT_EQ(rejoined, one_line + "0-1 ");
}

TEST(Pgn, APlayedGameHasItsTagsInOrderEscapedAndSetUpOnlyForAnotherStart) {
  GameTags who{"Test \"quoted\" \\ event", "?", "3", "Diana", kHumanName, 1350, std::nullopt, TimeControl{}, ""};
  who.clock.reset();
  GameState standard(std::string(common::FEN_New_Game));
  standard.play(*standard.legal().front());
  GameState set_up("7k/8/6K1/8/8/8/8/5Q2 w - - 0 1");
  set_up.play(*board::find_move(set_up.legal(), "Qf7"));
  const auto plain = testing_support::read_pgn(to_pgn(pgn_of(standard.record(), who)));
  const std::string text = to_pgn(pgn_of(set_up.record(), who));
  const auto stalemate = testing_support::read_pgn(text);
  ASSERT_TRUE(plain.size() == 1 && stalemate.size() == 1);
  const auto names = [](const testing_support::ReadGame& r) {
    V out;
    for (const auto& tag : r.tags) out.push_back(tag.first);
    return out;
  };
  V tags = {"Event", "Site", "Date", "Round", "White", "Black", "Result", "Termination", "WhiteElo", "PlyCount"};
  EXPECT_EQ(names(plain[0]), tags);
  tags.insert(tags.begin() + 7, {"SetUp", "FEN"});
  EXPECT_EQ(names(stalemate[0]), tags);
  const auto& g = stalemate[0];
  EXPECT_EQ((V{g.tag("Event"), g.tag("FEN"), g.tag("White"), g.tag("Black"), g.tag("WhiteElo"), g.tag("Result"),
               g.tag("Termination")}),
            (V{who.event, "7k/8/6K1/8/8/8/8/5Q2 w - - 0 1", "Diana", "Human", "1350", "1/2-1/2", "normal"}));
  EXPECT_TRUE(text.find("]\n\n1. Qf7 {stalemate} 1/2-1/2\n\n") != std::string::npos) << text;
  EXPECT_EQ(plain[0].tag("Result"), "*");  // a game going on
  EXPECT_EQ(plain[0].tag("Termination"), "unterminated");
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

TEST(Game, EndsByEachRuleWithTheRightResultAndReadsBackFromPgn) {
  struct Ending {
    std::string fen;  // empty: the standard start
    V moves;
    int max_plies;
    std::string result, termination;
    std::size_t plies;
  };
  const std::vector<Ending> endings = {
      {"", {"f3", "e5", "g4", "Qh4#"}, 0, "0-1", "checkmate", 4},
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", {"Ra8#"}, 0, "1-0", "checkmate", 1},
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 99 80", {"Ra8#"}, 0, "1-0", "checkmate", 1},  // mate beats fifty moves
      {"7k/8/6K1/8/8/8/8/5Q2 w - - 0 1", {"Qf7"}, 0, "1/2-1/2", "stalemate", 1},
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", {"-"}, 0, "1/2-1/2", "stalemate", 0},  // already over
      {"7k/8/8/8/8/8/R7/K7 w - - 99 80", {"Ra3"}, 0, "1/2-1/2", "fifty-move rule", 1},
      {"", {"Nf3", "Nf6", "Ng1", "Ng8"}, 0, "1/2-1/2", "threefold repetition", 8},
      {"k7/8/8/8/8/8/1q6/K7 w - - 0 1", {"Kxb2"}, 0, "1/2-1/2", "insufficient material", 1},
      {"", {"Nf3", "Nf6", "Ng1", "Ng8"}, 3, "*", "unterminated", 3},
  };
  for (const auto& e : endings) {
    SCOPED_TRACE(e.fen + " " + e.termination);
    const std::string fen = e.fen.empty() ? std::string(common::FEN_New_Game) : e.fen;
    const PlayedGame game = play_game(scripted(e.moves), scripted(e.moves), {fen, e.max_plies, {}, {}});
    EXPECT_EQ(std::make_pair(game.outcome->result, termination_text(game.outcome->why)),
              std::make_pair(e.result, e.termination));
    ASSERT_EQ(game.san.size(), e.plies);
    ASSERT_EQ(game.moves.size(), e.plies);
    const auto read = testing_support::read_pgn(to_pgn(pgn_of(game, {})));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].san, game.san);
    const auto again = outcome_of(testing_support::replay(read[0]));
    EXPECT_EQ(again ? termination_text(again->why) : "unterminated", e.termination);
  }
  // A mover's answer must be legal: here White's e4 is offered to Black.
  const Mover cheat = [](const MoveRequest&) {
    return MoveReply{board::make_move("e2e4", board::Board().legal_moves()), ""};
  };
  const std::string start(common::FEN_New_Game);
  EXPECT_THROW(play_game(scripted({"e4"}), cheat, {start, 0, {}, {}}), std::logic_error);
  // A mover that cannot move ends the game as abandoned; one over its clock loses on
  // time, and a lone king cannot win on time.
  const Mover failing = [](const MoveRequest&) -> MoveReply { throw MoverFailure("no engine"); };
  const Mover slow = [](const MoveRequest& r) {
    EXPECT_TRUE(r.deadline.has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    return MoveReply{r.legal.front(), "slow"};
  };
  const TimeControl blitz{std::chrono::milliseconds(100), {}};
  const struct {
    std::string fen;
    Mover white;
    std::string result, termination;
  } stops[] = {{start, failing, "*", "abandoned"},
               {start, slow, "0-1", "time forfeit"},
               {"k7/8/8/8/8/8/8/KQ6 w - - 0 1", slow, "1/2-1/2", "time forfeit"}};
  for (const auto& c : stops) {
    const PlayedGame game = play_game(c.white, scripted({"e4"}), {c.fen, 0, blitz, {}});
    EXPECT_EQ(std::make_pair(game.outcome->result, termination_text(game.outcome->why)),
              std::make_pair(c.result, c.termination));
    EXPECT_FALSE(game.final_comment.empty());
  }
}

// The numbers of flags, at their bounds: 0 s is "no limit", a millisecond the least other time.
TEST(Numbers, ReadWithinTheirBounds) {
  using std::chrono::milliseconds;
  EXPECT_EQ(read_whole("-3", "n", -3, 3), -3);
  EXPECT_EQ(read_whole("3", "n", -3, 3), 3);
  for (const char* bad : {"4", "-4", "", "1x", "+1"}) EXPECT_THROW(read_whole(bad, "n", -3, 3), UserError) << bad;
  EXPECT_EQ(read_seconds("0", "t", 10), std::nullopt);
  EXPECT_EQ(read_seconds("0.001", "t", 10), milliseconds(1));
  EXPECT_EQ(read_seconds("10", "t", 10), milliseconds(10000));
  EXPECT_EQ(read_seconds("2.5", "t", 10), milliseconds(2500));
  for (const char* bad : {"0.0009", "10.001", "-1", "inf", "nan", "", "2s"})
    EXPECT_THROW(read_seconds(bad, "t", 10), UserError) << bad;
  EXPECT_EQ(read_seed("18446744073709551615", "s"), 18446744073709551615u);
  for (const char* bad : {"18446744073709551616", "-1", ""}) EXPECT_THROW(read_seed(bad, "s"), UserError) << bad;
}

TEST(TimeControl, BudgetsKeepAReserveAndReadTheirText) {
  using ms = std::chrono::milliseconds;
  struct Case {
    ClockReading clock;
    std::optional<ms> budget;
  };
  const Case cases[] = {
      {{std::nullopt, ms(0), std::nullopt, std::nullopt, ms(50)}, std::nullopt},  // nothing limits it
      {{std::nullopt, ms(0), std::nullopt, ms(1000), ms(50)}, ms(950)},          // movetime less overhead
      {{ms(60050), ms(0), std::nullopt, std::nullopt, ms(50)}, ms(2000)},        // a 30th of what is left
      {{ms(60050), ms(1000), std::nullopt, std::nullopt, ms(50)}, ms(2750)},     // and most of the increment
      {{ms(10050), ms(0), 1, std::nullopt, ms(50)}, ms(5000)},                   // never more than half
      {{ms(40), ms(0), std::nullopt, std::nullopt, ms(50)}, ms(5)},              // a floor, even when late
  };
  for (const auto& c : cases) EXPECT_EQ(move_budget(c.clock), c.budget);
  // A game's clock gives its increment to the budget; with no clock the fixed time counts.
  const auto now = std::chrono::steady_clock::now();
  const std::string start(common::FEN_New_Game);
  EXPECT_EQ(GameState(start, parse_time_control("60+1")).move_deadline(now, std::nullopt, ms(50)), now + ms(1998 + 750));
  EXPECT_EQ(GameState(start).move_deadline(now, ms(1000), ms(50)), now + ms(950));
  // A GUI's go: the mover's own clock; movestogo 0 and a negative time mean none and nothing left.
  const GoRequest go = parse_go("wtime 1000 btime 2000 winc 10 binc 20 movestogo 5 depth 7", common::BLACK);
  EXPECT_EQ(std::make_tuple(go.clock.remaining, go.clock.increment, go.clock.moves_to_go, go.depth),
            std::make_tuple(std::optional(ms(2000)), ms(20), std::optional(5), std::optional(7)));
  EXPECT_EQ(std::make_pair(parse_go("movestogo 0 wtime -5", common::WHITE).clock.moves_to_go,
                           parse_go("movestogo 0 wtime -5", common::WHITE).clock.remaining),
            std::make_pair(std::optional<int>(), std::optional(ms(0))));
  // The limits passed on in the GUI's order and at their bounds; searchmoves ends the line.
  const GoRequest all = parse_go("ponder movetime 300 nodes 1 mate 99 depth 99 infinite searchmoves e2e4 depth 3", common::WHITE);
  EXPECT_EQ(std::make_tuple(all.limits, all.ponder, all.infinite, all.clock.movetime, all.nodes, all.mate, all.depth),
            std::make_tuple("movetime 300 nodes 1 mate 99 depth 99", true, true, std::optional(ms(300)),
                            std::optional(1LL), std::optional(99), std::optional(99)));
  for (const char* bad : {"depth 100", "depth 0", "mate 100", "mate 0", "nodes 0", "movestogo 10001", "wtime x"})
    EXPECT_THROW(parse_go(bad, common::WHITE), UserError) << bad;
  EXPECT_EQ(parse_go("movestogo 10000 depth", common::WHITE).clock.moves_to_go, 10000);  // a key without its value
  EXPECT_EQ(parse_time_control("60+1").pgn(), "60+1");
  EXPECT_EQ(parse_time_control("0.5+0.1").pgn(), "0.5+0.1");
  EXPECT_EQ(parse_time_control("300").increment, ms(0));
  for (const char* bad : {"", "+1", "60+", "0", "a+b", "-5"}) EXPECT_THROW(parse_time_control(bad), UserError) << bad;
  // Bad input is quoted in the message, cut after 100 characters.
  EXPECT_EQ(echoed(std::string(100, 'a')), "'" + std::string(100, 'a') + "'");
  EXPECT_EQ(echoed(std::string(101, 'a')), "'" + std::string(100, 'a') + "...'");
}

TEST(MatchStats, TallyEloAndItsText) {
  Tally t;
  for (const auto& [result, white] : std::vector<std::pair<const char*, bool>>{
           {"1-0", true}, {"1-0", false}, {"0-1", false}, {"1/2-1/2", false}, {"*", true}})
    t.add(result, white);
  EXPECT_EQ((std::vector<int>{t.wins, t.losses, t.draws, t.unfinished, t.scored_games()}),
            (std::vector<int>{2, 1, 1, 1, 4}));
  EXPECT_DOUBLE_EQ(t.score(), 0.625);
  EXPECT_DOUBLE_EQ(Tally{}.score(), 0.5);  // nothing scored yet reads as even

  EXPECT_NEAR(elo_from_score(0.75), 190.8485, 1e-3);
  EXPECT_NEAR(elo_from_score(0.25), -190.8485, 1e-3);
  EXPECT_TRUE(std::isinf(elo_from_score(0.0)) && elo_from_score(0.0) < 0);
  // The margin follows the per-game variance: many draws narrow it, more games too.
  struct Case {
    Tally tally;
    double difference, margin;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{{{6, 2, 2}, 147.19, 268.73, "+147 +/- 269"},
                                         {{10, 20, 10}, 0, 77.39, "+0 +/- 77"},
                                         {{2, 5, 13}, -214.85, 168.40, "-215 +/- 168"},
                                         {{30, 40, 30}, 0, 53.16, "+0 +/- 53"},
                                         {{0, 5, 0}, 0, 0, "+0 +/- 0"}}) {
    const EloEstimate e = estimate_elo(c.tally);
    EXPECT_NEAR(e.difference, c.difference, 0.01) << c.text;
    EXPECT_NEAR(e.margin, c.margin, 0.01) << c.text;
    EXPECT_EQ(format_elo(e), c.text);
  }
  EXPECT_EQ(format_elo(estimate_elo({4, 0, 0})), "+inf");
  EXPECT_EQ(format_elo(estimate_elo({0, 1, 3})), "-338 +/- inf");  // the interval reaches a score of 0
  EXPECT_EQ(format_elo(estimate_elo({3, 0, 1})), "+191 +/- inf");
  EXPECT_EQ(format_elo({-0.3, 12.4}), "+0 +/- 12");  // no "-0"
}

TEST(PlayText, PreviewWordsBoardMarksAndMoveRows) {
  const auto said = [](int played, int best, bool played_best) {
    MoveJudgement j{"b8=R#", "b8=Q#", "b8b8q", {}, Score(played), Score(best), played_best, ""};
    return judgement_text(j);
  };
  const int mate1 = MATE_IN(1);
  EXPECT_EQ(said(mate1, mate1, false), "Your move b8=R# mates");
  EXPECT_EQ(said(30, 30, false), "Your move b8=R# is as good as the engine's best b8=Q# (+0.30)");
  EXPECT_EQ(said(442, mate1, false), "Your move b8=R# (+4.42) misses mate in 1: b8=Q#");
  EXPECT_EQ(said(-20, 35, false), "Your move b8=R# scored -0.20 against the engine's best b8=Q# (+0.35)");

  // The last move's squares in brackets, from either side, neighbours sharing a bar.
  const std::string fen = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";
  EXPECT_EQ(board_lines(fen, false, "h1h2")[7], "2 | . . . . . . .[.]|");
  EXPECT_EQ(board_lines(fen, false, "e1f1")[8], "1 | . . . .[K|.]. R |");
  EXPECT_EQ(board_lines(fen, true, "e1f1")[1], "1 | R .[.|K]. . . . |");
  EXPECT_EQ(board_lines(fen, true)[10], "    h g f e d c b a");
  EXPECT_EQ(wrapped("one two three four", 9), "one two\nthree\nfour");
  // Tenths under ten seconds, hours from the first.
  using std::chrono::milliseconds;
  EXPECT_EQ((V{clock_text(milliseconds(-5)), clock_text(milliseconds(9999)), clock_text(milliseconds(10000)),
               clock_text(milliseconds(3599999)), clock_text(milliseconds(3600000))}),
            (V{"0:00.0", "0:09.9", "0:10", "59:59", "1:00:00"}));

  PlayedGame g;
  g.start_fen = "4k3/8/8/8/8/8/8/4K2R b K - 0 30";
  g.san = {"Kd7", "Rh7+", "Ke6", "Rh6+", "Kf5"};
  EXPECT_EQ(move_rows(g, 2), (V{" 31. Rh7+    Ke6", " 32. Rh6+    Kf5"}));
  EXPECT_EQ(move_rows(g, 9).front(), " 30. ...     Kd7");

  // An engine line in SAN: twelve moves at most, and only as far as it is legal.
  const std::vector<std::string> shuffle{"g1f3", "g8f6", "f3g1", "f6g8"};
  std::vector<std::string> line;
  for (int i = 0; i < 4; ++i) line.insert(line.end(), shuffle.begin(), shuffle.end());
  const auto san = san_line(std::string(common::FEN_New_Game), line);
  EXPECT_EQ(san.size(), 12u);
  EXPECT_EQ(std::make_pair(san.front(), san.back()), std::make_pair(std::string("Nf3"), std::string("Ng8")));
  EXPECT_EQ(san_line(std::string(common::FEN_New_Game), {"e2e4", "e7e5", "e4e5", "g8f6"}), (V{"e4", "e5"}));
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
  const auto m = read_measured_ratings(tsv);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m.at("Gnome").games, 80);
  EXPECT_EQ(measured_text(m.at("Gnome")), "1078 \u00b1151");
  EXPECT_EQ(measured_text(m.at("HOUD20c:1350")), "1350 anchor");
  EXPECT_EQ(measured_text(m.at("Verevovera")), "\u22651636");
  EXPECT_EQ(measured_text(m.at("Talvo")), "\u2264388");

  const auto range = [](const std::string& line) { return elo_range_of({"option name Hash type spin", line}); };
  const auto r = range("option name UCI_Elo type spin default 1320 min 1320 max 3190");
  ASSERT_TRUE(r);
  EXPECT_EQ(std::make_pair(r->min, r->max), std::make_pair(1320, 3190));
  EXPECT_EQ(range("option name UCI_Elo type spin min 1 max 1").value_or(EloRange{0, 0}).max, 1);  // the least range taken
  for (const char* bad : {"option name UCI_Elo type spin min 0 max 3190", "option name UCI_Elo type spin min 2000 max 1999",
                          "option name UCI_Elo type spin min x max 3190", "option name UCI_Elo type spin min 1320",
                          "option name UCI_Elo type spin min 1320 max", "option name UCI_Elo type spin max 3190"})
    EXPECT_FALSE(range(bad)) << bad;
  // Multiples of 10 inside the range; a range with none leaves the asked strength alone.
  const auto at = [](int asked, int min, int max) { return playable_elo(asked, EloRange{min, max}); };
  EXPECT_EQ(at(1200, 1320, 3190), 1320);
  EXPECT_EQ(at(1200, 1321, 3190), 1330);
  EXPECT_EQ(at(1330, 1321, 3190), 1330);
  EXPECT_EQ(at(3200, 1320, 3199), 3190);
  EXPECT_EQ(at(3200, 1320, 3200), 3200);
  EXPECT_EQ(at(1500, 1321, 1329), 1500);
  EXPECT_EQ(at(1320, 1320, 1320), 1320);
  EXPECT_EQ(playable_elo(1200, std::nullopt), 1200);
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
  HumanGameSetup setup;
  setup.persona = "HOUD20c";
  setup.preview = false;
  setup.start_fen = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";  // no e2e4 to open with: the engine must answer
  setup.clock = TimeControl{milliseconds(400), milliseconds(0)};
  {
    // The flag falls; a lone king cannot win on time.
    HumanGame bare(setup);
    HumanGameSetup armed = setup;
    armed.start_fen = "4k3/7r/8/8/8/8/8/4K2R w K - 0 1";
    HumanGame rook(armed);
    EXPECT_FALSE(rook.flag_check());
    std::this_thread::sleep_for(milliseconds(450));
    for (auto [game, result] : {std::pair<HumanGame*, const char*>{&rook, "0-1"}, {&bare, "1/2-1/2"}}) {
      EXPECT_TRUE(game->flag_check());
      const auto end = game->view().record.outcome;
      ASSERT_TRUE(end);
      EXPECT_EQ(std::make_pair(end->result, end->why), std::make_pair(std::string(result), Termination::TimeForfeit));
      EXPECT_EQ(game->view().record.final_comment, "White ran out of time");
    }
  }
  setup.clock.reset();
  HumanGame game(setup);
  game.play_human(*game.read_move("Rh7"));
  ASSERT_TRUE(game.personas_turn());
  EXPECT_FALSE(game.reply());
  const auto view = game.view();
  ASSERT_TRUE(view.record.outcome);
  EXPECT_EQ(std::make_pair(view.record.outcome->result, view.record.outcome->why),
            std::make_pair(std::string("*"), Termination::Abandoned));
  EXPECT_TRUE(view.record.final_comment.starts_with("HOUD20c could not move: ")) << view.record.final_comment;
  EXPECT_EQ(game.pgn("E", "S").tag("Termination"), "abandoned");
}

// An engine that had to be replaced once is given another chance; the same
// engine failing again is broken, and the persona gives up instead of waiting
// on it reply after reply. The summary counts the restart.
TEST(PersonaPlayer, AnEngineReplacedTwiceIsBroken) {
  // The first engine dies at once; the second in the second position; the third is well.
  testing_support::TempDir dir;
  const std::string engine = dir.file("engine.sh"), count = dir.file("count");
  testing_support::write_file(dir.file("0"), "on go\ndie\n");
  testing_support::write_file(dir.file("1"), "on position fen 4k3/8/8/8/8/8/8/4K2R\ndie\n");
  testing_support::write_file(dir.file("2"), "");
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
  const board::Board ending("4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  player.persona->interrupt();  // "move now" that came after the last reply: not for the next one
  const SafeReply first = ask_persona(player, {}, middle.legal_moves(), middle.export_FEN(), std::nullopt);
  EXPECT_FALSE(first.cut_short) << first.note;
  EXPECT_TRUE(first.engine_restarted) << first.note;
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

// At a terminal the persona's thinking redraws one line that says how to hurry it.
// The preview persona and the engine persona are offered beside the roster's
// buildable rows; a "disabled." row is reachable by name but not offered.
TEST(PersonaEntries, OfferedAndPlayableLists) {
  const auto names = [](const std::vector<PersonaEntry>& entries) {
    std::set<std::string> out;
    for (const auto& e : entries) out.insert(e.name);
    return out;
  };
  const auto offered = names(offered_entries()), playable = names(playable_entries());
  for (const char* name : {"Talvo", "Diana", "Verevovera", "HOUD20c"})
    EXPECT_TRUE(offered.count(name) && playable.count(name)) << name;
  EXPECT_FALSE(offered.count("disabled.Freya"));
  EXPECT_TRUE(playable.count("disabled.Freya"));
  EXPECT_FALSE(playable.count("disabled.Donar"));  // the strong gang cannot build it
}

TEST(TerminalPlay, ATickerShowsTheSearchAndHowToMoveNow) {
  testing_support::FakeEngine fake("on go\n> info depth 1 score cp 10 pv e8d8\nsleep 400\n> bestmove e8d8\n");
  common::ScopedEchoSink quiet([](std::string_view) {});
  TerminalPlay options;
  options.game.persona = "HOUD20c";
  options.game.preview = false;
  options.game.start_fen = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";
  options.live = true;
  std::istringstream typed("Rh7\nreview\n");  // and then the input ends
  LineInput in(typed);
  std::ostringstream out;
  play_in_terminal(options, in, out);
  const std::string text = out.str();
  EXPECT_NE(text.find("\rHOUD20c is thinking: "), std::string::npos) << text;
  EXPECT_NE(text.find(", depth 1 (Enter: move now)"), std::string::npos) << text;  // from the first depth on
  EXPECT_NE(text.find("HOUD20c plays Kd8"), std::string::npos) << text;
  EXPECT_NE(text.find("Reviews are not available here"), std::string::npos) << text;  // none was given
  EXPECT_GE(testing_support::count_of(text, "HOUD20c thinks at most 10 s a move"), 2) << text;  // welcome and panel
  EXPECT_EQ(text.find("write"), std::string::npos) << text;  // no PGN file asked for, none written
  EXPECT_TRUE(text.ends_with("End of input.\nThe game is left unfinished.\n")) << text;
  // The ticker's line is wiped before the reply is written.
  const auto wiped = text.find("\r" + std::string(79, ' ') + "\r");
  EXPECT_TRUE(wiped != std::string::npos && wiped > text.rfind("(Enter: move now)") &&
              wiped < text.find("HOUD20c plays")) << text;
}

TEST(TerminalPlay, AnInterruptWhileThePersonaThinksLetsItMoveThenEndsTheSession) {
  testing_support::FakeEngine fake("on go\non stop\n> bestmove e8d8\n");  // thinks until told to stop
  common::ScopedEchoSink quiet([](std::string_view) {});
  TerminalPlay options;
  options.game.persona = "HOUD20c";
  options.game.preview = false;
  options.game.start_fen = "4k3/8/8/8/8/8/8/4K2R w K - 0 1";
  std::istringstream typed("Rh7\n");
  LineInput in(typed);
  std::thread host([&] {
    const auto searching = [&] {
      for (const auto& line : fake.received())
        if (line.starts_with("go")) return true;
      return false;
    };
    while (!searching()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    in.interrupt();
  });
  std::ostringstream out;
  play_in_terminal(options, in, out);
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
  watch.received("info depth 7 seldepth 9 score cp 20 pv e2e4");
  watch.received("info depth 5 currmove e2e4");  // not deeper: kept at 7
  watch.received("info string depth 30");
  watch.received("info depth x");
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
  for (int i = 0; i < 500 && !input.ended(); ++i) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_TRUE(input.ended());
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(input.next_since(started, milliseconds(100)));
  EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(100));
  // A wake ends the wait under way, or the next one if it came first; once each.
  std::thread waker([&] { std::this_thread::sleep_for(milliseconds(50)), input.wake(); });
  for (int i = 0; i < 2; ++i) {
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(input.next_since(started, milliseconds(60000)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(30000));
    if (i == 0) waker.join(), input.wake();
  }
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(input.next_since(started, milliseconds(100)));
  EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(100));
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(input.next(milliseconds(60000)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(30000));
}

}  // namespace
}  // namespace ai_players::app
