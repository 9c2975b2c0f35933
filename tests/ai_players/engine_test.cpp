// The engine: starting it (the choice of executable, the start-up lines, the
// line reader and writer, a dying engine and the clean-up); the dialogue
// against the scripted engine (the probe that turns a node budget into a
// depth, the candidate searches, how failures surface and searches are cut
// short); engines that misbehave as real ones do, each fault ending a reply
// within its deadline and leaving no process behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/platform.h"
#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/safe_reply.h"
#include "support/fake_engine_session.h"
#include "support/scripted_channel.h"
#include "support/test_support.h"

using namespace ai_players;
using namespace testing_support;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using engine::EngineProcess;
using engine::find_engine;
using Lines = std::vector<std::string>;

namespace {

engine::Platform fake_platform(std::set<std::string> existing, std::string id = "linux") {
  engine::Platform p = engine::system_platform();
  p.path_exists = [existing](const std::string& path) { return existing.count(path) > 0; };
  p.platform_id = std::move(id);
  return p;
}

// The built-in paths: a scripted engine stands in for whatever they name.
engine::EngineConfig fixed_paths(const ScriptedEngine& fake) {
  auto config = fake.config();
  config.path.reset();
  return config;
}

}  // namespace

TEST(EngineLaunch, SendsTheStartupLinesAndWritesStrippedLines) {
  ScriptedEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(AI_BASIC("Talvo", 100, "Houdini_20c_Pro_x64.exe", fake.config()), AssertionError);  // before anything
  {
    AI_BASIC p("Talvo", 100, std::nullopt, fake.config());
    EXPECT_EQ(p.Name, "Talvo (100)");
    p.writeIntoEngine("go depth 3   \t \n");
    p.writeIntoEngine("isready\r\n\n");
  }
  EXPECT_EQ(echo.lines, Lines{"Talvo 100"});
  EXPECT_EQ(fake.received(), (Lines{"uci", "ucinewgame", "setoption name Contempt value 0",
                                    "setoption name Threads value 1", "go depth 3", "isready"}));
}

TEST(EngineLaunch, BuiltInPathsFollowThePlatformAndStockfishIsMadeExecutableOrRefused) {
  const std::string w32 = "c:\\Houdini_20c_Pro_w32.exe", x64 = "c:\\Houdini_20c_Pro_x64.exe",
                    sf = "c:\\stockfish-222-64-ja-intel.exe", talvo = "data\\engines\\talvo_engine32.exe",
                    wine = "WINEPREFIX=/home/durnel/.houdwine64 /home/durnel/.PlayOnLinux/wine/linux-amd64/1.3.28/"
                           "bin/wine64 engines/Houdini_20c_Pro_x64.exe";
  // Existing paths, platform, absolute path of the talvo engine, Houdini asked for, the command.
  const std::tuple<std::set<std::string>, const char*, std::string, bool, std::string> cases[] = {
      {{"c:\\"}, "linux", "", true, "data\\engines\\Houdini_20c_Pro_w32.exe"},
      {{"c:\\", w32}, "linux", "", true, w32},
      {{"c:\\", w32, x64}, "linux", "", true, x64},  // the 64-bit file wins
      {{"c:\\", sf}, "linux", "/x/" + talvo, false, sf},
      {{sf}, "win32", "D:\\data\\engines\\talvo_engine32.exe", true, sf},
      {{sf}, "win32", "C:\\data\\engines\\talvo_engine32.exe", false, sf},  // case-sensitive test
      {{sf}, "win32", "c:\\data\\engines\\talvo_engine32.exe", false, talvo},
      {{}, "win32", "", false, talvo},
      {{}, "linux", "", true, wine},  // no path of its own: messages name the command
  };
  ScriptedEngine fake;
  CaptureEcho echo;
  for (const auto& [existing, id, absolute, houdini, expected] : cases) {
    auto platform = fake_platform(existing, id);
    platform.absolute_path = [&absolute = absolute](const std::string&) { return absolute; };
    engine::ScopedPlatform sp(platform);
    AI_BASIC p("H", 2000, houdini ? std::optional<std::string>(AI_BASIC::HOUDINI) : std::nullopt, fixed_paths(fake));
    EXPECT_EQ(p.enginepath.value_or(wine), expected) << id << " " << absolute;
    EXPECT_EQ(std::make_pair(p.engine_command, p.engine_name()), std::make_pair(expected, expected));
  }
  // chmod is tried once per player; the second time it works.
  const std::string stockfish = "data/engines/stockfish-222-64-ja";
  Lines shell;
  auto platform = fake_platform({});
  platform.run_shell = [&shell](const std::string& c) { shell.push_back(c); };
  platform.is_executable = [&shell](const std::string&) { return shell.size() == 2; };
  engine::ScopedPlatform sp(platform);
  EXPECT_EQ(error_of<Error>([&] { AI_BASIC("S", 100, std::nullopt, fixed_paths(fake)); }),
            "The chess engine " + stockfish + " is not executable");
  EXPECT_EQ(echo.lines.back(), "Unable to change permissions on engine to make it executable.");
  EXPECT_EQ(AI_BASIC("S", 100, std::nullopt, fixed_paths(fake)).engine_command, stockfish);
  EXPECT_EQ(shell, (Lines{"chmod 755 " + stockfish, "chmod 755 " + stockfish}));
  EXPECT_EQ(fake.launches(), 10);
}

TEST(EngineLaunch, AGivenPathIsRunLiterallyALookedUpNameTooAndTheHostFindsItsEngine) {
  TempDir dir;
  CaptureEcho quiet;
  // An executable that records its start and then reads until its input ends.
  const auto stand_in = [&](const std::string& file, const std::string& tag) {
    write_executable(dir.file(file), "#!/bin/sh\necho " + tag + " >> " + engine::shell_quote(dir.file("started.log")) +
                                         "\nwhile read -r line; do :; done\n");  // builtins only: PATH is narrowed below
    return dir.file(file);
  };
  const std::string odd = stand_in("it's a $HOME; dir", "odd");  // not interpreted by the shell
  stand_in("plain", "plain");
  {
    engine::ScopedPlatform windows(fake_platform({"c:\\"}, "win32"));  // a given path wins anyway
    EXPECT_EQ(AI_BASIC("T", 100, std::nullopt, {odd, {}}).enginepath, odd);
  }
  {  // a bare name is looked up in PATH
    ScopedEnv path("PATH", "/nonexistent:" + dir.path());
    EXPECT_EQ(AI_BASIC("T", 100, std::nullopt, {"plain", {}}).enginepath, dir.file("plain"));
    // An empty element, inside or at the end, is the current directory.
    const auto cwd = fs::current_path();
    fs::current_path(dir.path());
    for (const char* list : {"/nonexistent::/x", "/nonexistent:"}) {
      ScopedEnv with_empty("PATH", list);
      EXPECT_EQ(AI_BASIC("T", 100, std::nullopt, {"plain", {}}).enginepath, "./plain") << list;
    }
    fs::current_path(cwd);
  }
  EXPECT_EQ(read_file(dir.file("started.log")), "odd\nplain\nplain\nplain\n");  // all gone, all started
  write_file(dir.file("not-executable"), "");
  EXPECT_EQ(error_of<Error>([&] { AI_BASIC("T", 100, std::nullopt, {dir.file("not-executable"), {}}); }),
            "The chess engine " + dir.file("not-executable") + " is not executable");
  // The host's choice: the Elo-limited persona asks its own variable first.
  // A host that does not say is not the Elo-limited persona; an empty variable is none.
  ScopedEnv engine("AI_PLAYERS_ENGINE", odd);
  for (const std::string elo : {"", "elo"}) {
    ScopedEnv elo_engine("AI_PLAYERS_ELO_ENGINE", elo);
    EXPECT_EQ((Lines{find_engine(false).value_or("none"), find_engine(true).value_or("none"), find_engine().value_or("none")}),
              (Lines{odd, elo.empty() ? odd : elo, odd}));
  }
}

TEST(EngineLaunch, DeadEngineFailsWritesWithADiagnosticAndReadsEmpty) {
  FakeEngine fake("on isready\n> readyok caf\xc3\xa9\n> bad \xe9t\xe9\n> \xed\xa0\x80\ndie\n");
  CaptureEcho quiet;
  AI_BASIC p("Talvo", 100, std::nullopt, fake.config());
  p.writeIntoEngine("isready");
  // What was written before it died, where Latin-1 bytes and an encoded surrogate are garbled output, then nothing.
  Lines reads;
  for (int i = 0; i < 7; ++i)
    if (auto e = error_of<Error>([&] { reads.push_back(p.readFromEngine()); }); e != "no error") reads.push_back(e);
  const std::string garbled = "The chess engine " + std::string(fake_engine_path()) + " wrote a line that is not valid UTF-8 (garbled output): '";
  EXPECT_EQ(reads, (Lines{"id name FakeEngine\n", "uciok\n", "readyok caf\xc3\xa9\n", garbled + "bad \xe9t\xe9'", garbled + "\xed\xa0\x80'", "", ""}));
  ends_within(dynamic_cast<EngineProcess&>(*p.engine).pid(), 3s);  // its stdin may close a moment after its stdout
  CaptureBugprint bug;
  EXPECT_EQ(error_of<EngineError>([&] { p.writeIntoEngine("position fen x moves  "); }),
            "The chess engine " + std::string(fake_engine_path()) + " cannot be written to: Broken pipe");
  EXPECT_EQ(bug.lines, (Lines{"position fen x moves\n", " ^^^^^", "Talvo (100)", "", "", "", ""}));
  EXPECT_THROW(p.writeIntoEngine("uci"), EngineError);  // every later write too
  // The host survived SIGPIPE without any change to its signal handling.
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  struct sigaction action {};
  sigaction(SIGPIPE, nullptr, &action);
  EXPECT_TRUE(!sigismember(&mask, SIGPIPE) && action.sa_handler == SIG_DFL);
}

TEST(EngineProcess, ReadsWholeLinesAndWritesMoreThanAPipeHolds) {
  EngineProcess p("printf 'one\\ntwo\\r\\nthree'");
  // The unterminated tail, then the end, which never waits.
  EXPECT_EQ((std::vector{p.read_line(), p.read_line(), p.read_line(), p.read_line(engine::Clock::now() + 1ms)}),
            (std::vector<std::optional<std::string>>{"one\n", "two\r\n", "three", ""}));
  EngineProcess cat("cat");
  // The supervisor is a copy of the host, so a signal meant for the host by
  // name reaches it too; it ignores that and follows the host's lifeline only.
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::kill(cat.supervisor_pid(), sig);
  std::this_thread::sleep_for(50ms);
  cat.write(std::string(100000, 'x') + "\n");
  EXPECT_EQ(cat.read_line()->size(), 100001u);
}

TEST(EngineProcess, DestructorEndsWhatTheShellStartedLetsAWellBehavedEngineEndOnItsOwnAndLeaksNothing) {
  // A shell that ignores the end of its input, and one that exits at once
  // leaving its child behind: neither leaves anything running.
  for (const char* command : {"sleep 300 & echo $!; sleep 300", "sleep 300 & echo $!"}) {
    pid_t shell, background, supervisor;
    {
      EngineProcess p(command);
      shell = p.pid(), supervisor = p.supervisor_pid();
      background = std::stoi(*p.read_line());
    }
    EXPECT_TRUE(::waitpid(supervisor, nullptr, WNOHANG) == -1 && errno == ECHILD);  // reaped by us: not even a zombie
    EXPECT_TRUE(ends_within(shell, 3s) && ends_within(background, 3s)) << command;
  }
  // An engine that ends when its input does is not killed: it ends on its own.
  TempDir dir;
  const std::string engine = dir.file("engine"), ended = dir.file("ended");
  write_executable(engine, "#!/bin/sh\nwhile read -r line; do :; done\necho ended > " + engine::shell_quote(ended) + "\n");
  CaptureEcho quiet;
  const auto start = std::chrono::steady_clock::now();
  { AI_BASIC p("T", 100, std::nullopt, {engine, {}}); }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);  // the time itself is measured in bench/
  EXPECT_EQ(read_file(ended), "ended\n");
  // Descriptors of one engine are not inherited by the next.
  std::set<std::string> before;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) before.insert(fd.path().filename());
  EngineProcess first("cat");
  EngineProcess second("ls /proc/$$/fd");
  for (std::string line; !(line = *second.read_line()).empty();) {
    line.pop_back();
    EXPECT_TRUE(std::stoi(line) <= 2 || before.count(line)) << "inherited descriptor " << line;
  }
}

TEST(EngineProcess, A1MiBLineIsTheLongestTakenAndAnEngineWaitedForEndsAtItsDeadline) {
  const auto xs = [](std::size_t n) { return "head -c " + std::to_string(n) + " /dev/zero | tr '\\0' x"; };
  EXPECT_EQ(EngineProcess(xs(engine::kMaxEngineLine)).read_line()->size(), engine::kMaxEngineLine);
  EXPECT_THROW(EngineProcess(xs(engine::kMaxEngineLine + 1)).read_line(), EngineError);
  // A flood never reaches the deadline on a quiet pipe; the end of the output is an error, not a loop.
  EngineProcess flood("exec yes");
  const auto deadline = engine::Clock::now() + 200ms;
  EXPECT_THROW(for (;;) flood.read_line_by(deadline), EngineTimeout);
  EXPECT_LT(engine::Clock::now() - deadline, 3s);
  EXPECT_THROW(EngineProcess("true").read_line_within(3s), EngineError);
  EngineProcess deaf("exec sleep 300");  // never reads: a write that cannot finish ends in time
  const auto comm = [&] { return testing_support::read_file("/proc/" + std::to_string(deaf.pid()) + "/comm"); };
  testing_support::eventually([&] { return comm() == "sleep\n"; }, 3s);  // until it has exec'd
  EXPECT_EQ(comm(), "sleep\n");  // pid() is the engine's own
  deaf.write_timeout = 100ms;
  EXPECT_THROW(for (;;) deaf.write(std::string(65536, 'x')), EngineTimeout);
  // A signal caught during the wait (a terminal's Ctrl-C, say) does not make it forget its deadline.
  struct sigaction caught {}, before {};
  caught.sa_handler = [](int) {};
  ::sigaction(SIGUSR1, &caught, &before);
  const pthread_t waiting = ::pthread_self();
  std::thread poke([waiting] {
    std::this_thread::sleep_for(50ms);
    ::pthread_kill(waiting, SIGUSR1);
  });
  EXPECT_FALSE(deaf.read_line(engine::Clock::now() + 200ms));
  poke.join();
  ::sigaction(SIGUSR1, &before, nullptr);
}

TEST(EngineProcess, AnEngineBelongsToItsOwnerNotToTheThreadThatStartedIt) {
  FakeEngine fake("score e2e4 20\nscore d2d4 10\n");
  CaptureEcho quiet;
  std::unique_ptr<AI_BASIC> p;
  std::thread([&] { p = std::make_unique<AI_BASIC>("T", 100, std::nullopt, fake.config()); }).join();
  std::this_thread::sleep_for(50ms);  // time for anything tied to the ended thread to happen
  place(*p, std::string(common::FEN_New_Game));
  const auto got = p->obtain_engine_thoughts(2, 3);
  EXPECT_EQ(std::make_pair(got.size(), got.at(0).pv_list.at(0)), std::make_pair(std::size_t{2}, std::string("e2e4")));
}

TEST(EngineProcess, NoEngineOutlivesAHostKilledWithSigkillNotEvenOneInASessionOfItsOwn) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t host = ::fork();
  if (host == 0) {
    // The host: an engine whose shell starts a grandchild in a new session; it reports both.
    ::close(report[0]);
    EngineProcess p("setsid sh -c 'echo $$; exec sleep 300' & exec sleep 300");
    const std::string line = std::to_string(p.pid()) + " " + *p.read_line();
    [[maybe_unused]] const ssize_t n = ::write(report[1], line.data(), line.size());
    ::pause();
    std::_Exit(0);
  }
  ::close(report[1]);
  char text[64] = {};
  ASSERT_GT(::read(report[0], text, sizeof text - 1), 0);
  ::close(report[0]);
  pid_t engine = 0, grandchild = 0;
  std::istringstream(text) >> engine >> grandchild;
  ASSERT_TRUE(engine > 0 && grandchild > 0) << text;
  ASSERT_FALSE(ends_within(grandchild, 0ms));
  ::kill(host, SIGKILL);
  ::waitpid(host, nullptr, 0);
  EXPECT_TRUE(ends_within(engine, 3s) && ends_within(grandchild, 3s));
}

TEST(EngineProcess, NoDescriptorOrProcessOutlivesAFailedStartOrAFinishedEngine) {
  const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto children = [] { return descendants(::getpid()).size(); };
  const auto fds_before = descriptors();
  const auto children_before = children();
  CaptureEcho quiet;
  // Starts that fail after the supervisor is forked: the start takes the last ten descriptors
  // the limit allows, so the supervisor finds none for its own.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  std::vector<int> lowest;
  for (int i = 0; i < 10; ++i) lowest.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(*std::max_element(lowest.begin(), lowest.end()) + 1);
  for (const int fd : lowest) ::close(fd);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  Lines failures;
  for (int i = 0; i < 200; ++i)
    failures.push_back(error_of<EngineError>([] { AI_BASIC("T", 100, std::nullopt, {fake_engine_path(), {}}); }));
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(failures, Lines(200, "The chess engine " + std::string(fake_engine_path()) +
                                     " cannot be started: its supervisor failed"));
  EXPECT_EQ(descriptors(), fds_before);
  EXPECT_EQ(children(), children_before);
  // Engines that finish: once their output has ended nothing of them is left, not even while
  // the object is kept.
  for (int i = 0; i < 200; ++i) {
    EngineProcess p("echo bye");
    while (!p.read_line()->empty()) {
    }
    ASSERT_EQ(children(), children_before) << i;
  }
  EXPECT_EQ(descriptors(), fds_before);
}

namespace {

const std::string kStartFen(common::FEN_New_Game);

// The lines the engine received after its four start-up lines.
Lines after_startup(const ScriptedEngine& fake) {
  const Lines lines = fake.received();
  return {lines.begin() + std::min<std::ptrdiff_t>(4, std::ssize(lines)), lines.end()};
}

// A scripted answer to the next "go depth": one info line, then the bestmove line.
std::string answer(const std::string& info, const std::string& bestmove) {
  return "on go depth\n> info " + info + "\n> bestmove " + bestmove + "\n";
}

struct Player {
  explicit Player(const ScriptedEngine& fake, const std::string& fen = kStartFen)
      : p("Talvo", 100, std::nullopt, fake.config()) {
    place(p, fen);
  }
  CaptureEcho quiet;
  AI_BASIC p;
};

Lines moves_of(const std::vector<Analysis>& analyses) {
  Lines out;
  for (const auto& a : analyses) out.push_back(a.pv_list.at(0));
  return out;
}

}  // namespace

TEST(EngineDialogue, DepthSearchSendsThePositionAndExcludesEachFoundMove) {
  ScriptedEngine fake("score f1c4 30 g8f6\nscore g1f3 20\nscore d2d4 25\n");
  Player pl(fake);
  place(pl.p, kStartFen, "e2e4 e7e5");
  const std::string after = pl.p.board.export_FEN();
  const auto got = pl.p.obtain_engine_thoughts(2, 9, std::nullopt, "f1c4 g1f3  d2d4");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(std::tie(got[0].score, got[0].depth, got[0].pv_list), std::make_tuple(30, 9, Lines{"f1c4", "g8f6"}));
  EXPECT_EQ(got[1].pv_list, Lines{"d2d4"});
  // What the reply's analysis says of a move: the line found for it, none for a move no line began with.
  const auto line = pl.p.line_for("f1c4");
  ASSERT_TRUE(line);
  EXPECT_EQ(std::tie(line->score, line->depth, line->pv_list), std::make_tuple(30, 9, Lines{"f1c4", "g8f6"}));
  EXPECT_FALSE(pl.p.line_for("g1f3"));
  pl.p.MakeMovesFromStartPos(pl.p.game_history);  // from the start again, not from the last position
  EXPECT_EQ(pl.p.board.export_FEN(), after);
  const std::string position = "position fen " + kStartFen + " moves e2e4 e7e5";
  EXPECT_EQ(after_startup(fake), (Lines{position, "setoption name MultiPV value 1",
                                        "go depth 9 searchmoves f1c4 g1f3 d2d4", "go depth 9 searchmoves g1f3 d2d4",
                                        position}));
}

TEST(EngineDialogue, NodeBudgetProbesForADepthThenSearchesEveryMove) {
  const std::string fen = "7k/8/8/8/8/8/8/K7 w - - 0 1";
  ScriptedEngine fake("score a1b2 -5\n");
  {
    Player pl(fake, fen);
    EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 6, 100000), AssertionError);  // depth and budget
    EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 0, 40000), AssertionError);   // budget too small
    // Clipped to the three legal moves; equal scores ordered by their moves.
    EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(5, 0, 100000)), (Lines{"a1b1", "a1a2", "a1b2"}));
    EXPECT_EQ(pl.p.last_search_depth, 11);
  }
  EXPECT_EQ(after_startup(fake),
            (Lines{"position fen " + fen + " moves", "setoption name MultiPV value 3", "go infinite", "stop",
                   "setoption name MultiPV value 1", "go depth 11 searchmoves a1a2 a1b1 a1b2",
                   "go depth 11 searchmoves a1b1 a1b2", "go depth 11 searchmoves a1b2"}));
}

TEST(EngineDialogue, BestmoveRunIntoPonderIsRepairedOtherwiseNotFound) {
  ScriptedEngine fake(answer("depth 5 score cp 10 pv e2e4 d7d5", "e2e4ponder d7d5") +
                  answer("depth 5 score cp 5 pv d2d4", "d2d4ponder") + answer("depth 5 score cp 1 pv a2a3", "a2a3") +
                  answer("depth 5 score cp 1 pv e2e4", ""));
  Player pl(fake);
  CaptureBugprint bug;
  EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "e2e4 d2d4")), (Lines{"e2e4", "d2d4"}));
  ASSERT_EQ(bug.lines.size(), 28u);  // two pairs of seven-line diagnostics
  EXPECT_EQ(Lines(bug.lines.begin(), bug.lines.begin() + 9),
            (Lines{"debug:bestmove incorrect::", "['bestmove e2e4ponder d7d5\n']", "['e2e4', 'd2d4']", "", "", "",
                   "", "fen::", kStartFen}));
  // a2a3 was not asked about
  EXPECT_EQ(error_of<Error>([&] { pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "e2e4 d2d4"); }), "bestmove not found!!");
  EXPECT_THROW(pl.p.obtain_engine_thoughts(1, 5), Error);  // a bestmove line without a move
  // Still usable; more candidates asked for than given runs into the same error.
  EXPECT_EQ(pl.p.obtain_engine_thoughts(1, 5, std::nullopt, "g1f3").size(), 1u);
  EXPECT_THROW(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "g1f3"), Error);
}

// Within one reply a move keeps its deepest line, the latest of that depth; the next reply starts afresh.
TEST(EngineDialogue, AReplyKeepsTheDeepestLineOfEachMove) {
  ScriptedEngine fake(answer("depth 9 score cp 30 pv e2e4 e7e5", "e2e4") + answer("depth 3 score cp 50 pv e2e4", "e2e4") +
                      answer("depth 9 score cp 20 pv e2e4 c7c5", "e2e4") + answer("depth 9 score cp 10 pv d2d4", "d2d4"));
  Player pl(fake);
  {
    const AI_BASIC::ReplyScope reply(pl.p);
    for (int depth : {9, 3, 9}) pl.p.obtain_engine_thoughts(1, depth, std::nullopt, "e2e4");
    const auto line = pl.p.line_for("e2e4");
    ASSERT_TRUE(line);
    EXPECT_EQ(std::tie(line->score, line->depth, line->pv_list), std::make_tuple(20, 9, Lines{"e2e4", "c7c5"}));
  }
  pl.p.obtain_engine_thoughts(1, 9, std::nullopt, "d2d4");
  EXPECT_FALSE(pl.p.line_for("e2e4"));
  EXPECT_TRUE(pl.p.line_for("d2d4"));
}

TEST(EngineDialogue, ResultsAreOrderedByScoreThenDepthThenMovesWithMatesFolded) {
  // Lines without a depth are not principal variations.
  ScriptedEngine fake(answer("depth 5 score cp 10 pv e2e4\n> info string score cp 99", "e2e4") +
                  answer("depth 5 score cp 10 pv g1f3 b8c6", "g1f3") +
                  answer("depth 6 score cp 10 upperbound pv a2a3", "a2a3") +
                  answer("depth 5 score mate -1 pv h2h3 d8h4", "h2h3") +
                  answer("depth 5 score mate 2 pv d2d4", "d2d4") + answer("depth 5 score mate 1 pv c2c3", "c2c3"));
  Player pl(fake);
  const auto got = pl.p.obtain_engine_thoughts(6, 5, std::nullopt, "e2e4 g1f3 a2a3 h2h3 d2d4 c2c3");
  EXPECT_EQ(moves_of(got), (Lines{"c2c3", "d2d4", "a2a3", "g1f3", "e2e4", "h2h3"}));
  EXPECT_EQ(std::make_tuple(got[0].score, got[1].score, got[5].score),
            std::make_tuple(MATE_IN(1), MATE_IN(2), -MATE_IN(1)));
}

TEST(EngineDialogue, InfoLinesAreReadFromWholeTokensOrFailWithADiagnostic) {
  ScriptedEngine fake;
  Player pl(fake);
  using Triple = std::tuple<int, int, Lines>;
  const std::pair<const char*, Triple> good[] = {
      // seldepth and multipv are not depth and pv; the first depth counts
      {"info seldepth 30 depth 9 multipv 1 score cp -35 pv e2e4 depth 3\n", {-35, 9, {"e2e4", "depth", "3"}}},
      {"  info\tdepth 20 score cp +12 lowerbound nodes 1 pv a7a8q\r\n", {12, 20, {"a7a8q"}}},
      {"info depth 3 score 57 pv", {57, 3, {}}},
      {"info depth 5 cp 10 score mate 1 pv a1a2", {MATE_IN(1), 5, {"a1a2"}}},  // the mate wins
  };
  for (const auto& [line, expected] : good) EXPECT_EQ(pl.p.analyse_engine_outputline_(line), expected) << line;
  const std::pair<const char*, const char*> bad[] = {  // line, the error's message (none: a failed precondition)
      {"info depth 20 score mate 0 pv e7e5", nullptr},
      {"info depth 20 mate 3 score cp 1 pv e7e5", nullptr},
      {"info depth 20 score cp 10", "no 'pv' token"},
      {"info seldepth 20 score cp 10 pv e2e4", "no 'depth' token"},
      {"info depth 12x score cp 10 pv e2e4", "invalid depth value: '12x'"},
      {"info depth 12 score cp 1.5 pv e2e4", "invalid score value: '1.5'"},
      {"info depth 12 score cp 99999999999 pv e2e4", "score value out of range: '99999999999'"},
      {"info depth 12 score cp", "no value after 'cp'"},
      {"", "no 'depth' token"}};
  for (const auto& [line, message] : bad) {
    CaptureBugprint bug;
    if (!message)
      EXPECT_THROW(pl.p.analyse_engine_outputline_(line), AssertionError) << line;
    else
      EXPECT_EQ(error_of<Error>([&] { pl.p.analyse_engine_outputline_(line); }), message) << line;
    EXPECT_EQ(bug.lines, (Lines{"_analyse_output::", line, "", "", "", "", ""}));
  }
}

// The second candidate search prints one line and runs until told "stop".
const std::string kSlowSecond =
    "score e2e4 20\nscore d2d4 10\nscore g1f3 5\n"
    "on go depth 5 searchmoves e2e4\n> info depth 5 score cp 20 pv e2e4\n> bestmove e2e4\n"
    "on go depth 5 searchmoves d2d4\n> info depth 4 score cp 10 pv d2d4\non stop\n> bestmove d2d4\n";

// The searches and stops the engine was told, cut to the length of the expected lines.
Lines searches_sent(const ScriptedEngine& fake, const Lines& expected) {
  Lines sent;
  for (const auto& line : fake.received())
    if (line.starts_with("go") || line == "stop")
      sent.push_back(sent.size() < expected.size() ? line.substr(0, expected[sent.size()].size()) : line);
  return sent;
}

TEST(SearchControl, ACutShortCallKeepsTheLinesFoundAndStartsNoSearchAfterTheCut) {
  using Setup = std::function<void(AI_BASIC&)>;
  const Setup watchdog = [](AI_BASIC& p) { p.engine_timeout = 30ms; };
  const Setup clock = [](AI_BASIC& p) { p.stop_at = engine::Clock::now() + 30ms; };
  const Setup run_out = [](AI_BASIC& p) { p.stop_at = engine::Clock::now(); };
  const Setup interrupted = [](AI_BASIC& p) { p.interrupt(); };
  const Setup late = [](AI_BASIC& p) { p.stop_at = engine::Clock::now() + 2s; };
  const std::string all = "go depth 5 searchmoves e2e4 d2d4 g1f3", rest = "go depth 5 searchmoves d2d4 g1f3";
  // The first search stopped before its first line; a line from a stopped search counts only for
  // a move still to be searched.
  const std::string first_stopped = "score e2e4 20\non go depth 5\non stop\n> bestmove e2e4\n";
  const std::string odd_line = "on go depth 5\n> info depth 3 score cp 1 pv h2h4\non stop\n> bestmove e2e4\n";
  const std::tuple<const char*, std::string, Setup, Lines, Lines> cases[] = {
      {"no line: time up before", kSlowSecond, run_out, {}, {}},
      {"no line: interrupted before", kSlowSecond, interrupted, {}, {}},
      {"no line: stopped before the first", first_stopped, watchdog, {}, {all, "stop"}},
      {"no line: a line naming no candidate", odd_line, clock, {}, {all, "stop"}},
      {"one line", kSlowSecond.substr(0, kSlowSecond.find("> info depth 4")) + "on stop\n> bestmove d2d4\n", clock,
       {"e2e4"}, {all, rest, "stop"}},
      {"some lines: watchdog", kSlowSecond, watchdog, {"e2e4", "d2d4"}, {all, rest, "stop"}},
      {"some lines: clock", kSlowSecond, clock, {"e2e4", "d2d4"}, {all, rest, "stop"}},
      {"all lines", "score e2e4 20\nscore d2d4 10\nscore g1f3 5\n", late, {"e2e4", "d2d4", "g1f3"},
       {all, rest, "go depth 5 searchmoves g1f3"}},
  };
  for (const auto& [name, script, setup, moves, searches] : cases) {
    ScriptedEngine fake(script);
    Player pl(fake);
    AI_BASIC::ReplyScope reply(pl.p);
    setup(pl.p);
    CaptureBugprint bug;  // an expected cut prints no diagnostics
    EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(3, 5, std::nullopt, "e2e4 d2d4 g1f3")), moves) << name;
    EXPECT_EQ(pl.p.cut_short(), moves.size() < 3) << name;
    EXPECT_EQ(searches_sent(fake, searches), searches) << name;
    EXPECT_TRUE(bug.lines.empty()) << name;
    // Later calls of a cut-short reply search nothing, but the board follows the game.
    place(pl.p, kStartFen, "e2e4");
    if (pl.p.cut_short()) {
      EXPECT_TRUE(pl.p.obtain_engine_thoughts(3, 5).empty()) << name;
      EXPECT_EQ(searches_sent(fake, searches), searches) << name;
      EXPECT_EQ(pl.p.board.export_FEN(), Position("e2e4").board.export_FEN());
    }
  }
  // From another thread, while the engine searches; the end of the reply ends the interrupt.
  ScriptedEngine fake(kSlowSecond);
  Player pl(fake);
  EXPECT_FALSE(pl.p.out_of_time() || pl.p.cut_short() || pl.p.engine_replaced());  // nothing to say before a reply
  {
    AI_BASIC::ReplyScope reply(pl.p);
    std::thread host([&] { std::this_thread::sleep_for(30ms), pl.p.interrupt(); });
    EXPECT_EQ(moves_of(pl.p.obtain_engine_thoughts(3, 5, std::nullopt, "e2e4 d2d4 g1f3")), (Lines{"e2e4", "d2d4"}));
    host.join();
    EXPECT_TRUE(pl.p.cut_short());
  }
  AI_BASIC::ReplyScope next(pl.p);
  EXPECT_FALSE(pl.p.out_of_time() || pl.p.cut_short());
  EXPECT_EQ(pl.p.obtain_engine_thoughts(2, 5, std::nullopt, "e2e4 g1f3").size(), 2u);
}

TEST(SearchControl, TheWatchdogCutsASearchThatMakesNoProgressNotOneThatDoes) {
  const auto lines = [](std::string line, int count) {  // '#' counts up from 1
    std::string out;
    for (int i = 1; i <= count; ++i)
      out += "> " + std::string(line).replace(line.find('#'), 1, std::to_string(i)) + "\nsleep 25\n";
    return out;
  };
  // 300 ms of lines, 25 ms apart, against a 100 ms watchdog.
  const std::pair<std::string, bool> cases[] = {
      {lines("info depth # score cp 5 pv e2e4", 12), false},                      // deeper and deeper
      {lines("info depth 9 score cp 5 nodes #000 pv e2e4", 12), false},           // more and more nodes
      {lines("info depth 9 currmove e2e4 currmovenumber #", 12), false},          // on to the next move
      {lines("info depth 9 score cp 5 nodes 1000 pv e2e4 #", 12), true},          // the same again and again
      {lines("info string thinking #", 12), true},                                // babble
  };
  // Side by side, as each case takes its 300 ms; one sink for all (sinks are the process's),
  // and one that keeps nothing, as the threads echo at once.
  common::ScopedEchoSink quiet([](std::string_view) {});
  std::vector<std::future<void>> running;
  for (const auto& [info, cut] : cases)
    running.push_back(std::async(std::launch::async, [&info = info, cut = cut] {
      ScriptedEngine fake("on go depth 9\n> info depth 1 score cp 3 pv e2e4\n" + info +
                          "> bestmove e2e4\non stop\n> bestmove e2e4\n");
      AI_BASIC p("Talvo", 100, std::nullopt, fake.config());
      place(p, kStartFen);
      AI_BASIC::ReplyScope reply(p);
      p.engine_timeout = 100ms;
      EXPECT_EQ(p.obtain_engine_thoughts(1, 9, std::nullopt, "e2e4").size(), 1u) << info;
      EXPECT_EQ(p.cut_short(), cut) << info;
      EXPECT_EQ(fake.received("stop").size(), cut ? 1u : 0u) << info;
    }));
  for (auto& r : running) r.get();
  // A whole reply has a bound too: a multiple of the watchdog.
  // 400 ms of progress: only the reply's bound (300 ms) cuts it.
  ScriptedEngine slow("on go depth 9\n" + lines("info depth # score cp 5 pv e2e4", 16) + "> bestmove e2e4\non stop\n> bestmove e2e4\n");
  Player pl(slow);
  pl.p.engine_timeout = 30ms;
  {
    AI_BASIC::ReplyScope reply(pl.p);
    const auto start = engine::Clock::now();
    EXPECT_EQ(pl.p.obtain_engine_thoughts(1, 9, std::nullopt, "e2e4").size(), 1u);
    EXPECT_TRUE(pl.p.cut_short());
    EXPECT_GE(engine::Clock::now() - start, 300ms);
  }
  EXPECT_FALSE(pl.p.out_of_time());  // the bound was the reply's, not the next one's
}

// The quick search that must run when time is up has a short leash: half the
// grace without progress, then half the grace to answer "stop".
TEST(SearchControl, AQuickMoveThatMustRunIsGivenUpAfterHalfTheGraceTwice) {
  ScriptedEngine deaf(std::vector<std::string>{"on go depth 1\n", ""});
  Player pl(deaf);
  pl.p.stop_grace = 200ms;
  AI_BASIC::ReplyScope reply(pl.p);
  pl.p.interrupt();
  ScriptedDraws draws({0.0});
  bool searched = true;
  const auto start = engine::Clock::now();
  const MovePtr move = pl.p.quick_move(&searched);
  EXPECT_GE(engine::Clock::now() - start, 200ms);
  EXPECT_FALSE(searched);
  EXPECT_EQ(move, pl.p.legalmoves.front());  // a random legal move instead
  EXPECT_NE(pl.p.engine_trouble.find("did not answer \"stop\" within 100 ms while looking for a quick move (go depth 1)"),
            std::string::npos) << pl.p.engine_trouble;
  EXPECT_EQ(pl.p.activity, "");  // a later failure must not be blamed on this search
  EXPECT_TRUE(pl.p.engine_replaced());  // for the host's note, and no search on the fresh engine in this reply
  EXPECT_EQ(deaf.received("stop").size(), 1u);
}

TEST(SearchControl, AProbeCutShortGivesTheCandidatesOfItsOwnLastLinesAndOnlyToItsOwnRequest) {
  const auto info = [](int pv, const char* rest) {
    return "> info depth 8 seldepth 9 multipv " + std::to_string(pv) + " score " + rest + "\n";
  };
  const std::string probe = "on go infinite\n" + info(1, "cp 30 nodes 5000 nps 1000000 pv e2e4 e7e5") +
                            info(2, "cp 12 nodes 5000 nps 1000000 pv d2d4") +
                            info(1, "cp 25 nodes 9000 nps 1000000 pv g1f3") + "on stop\n> bestmove g1f3\n";
  ScriptedEngine fake(probe + "on go infinite\n> info depth 8 multipv 1 score cp 9 nodes 99 nps 9 pv h2h3\n");
  Player pl(fake);
  {
    AI_BASIC::ReplyScope reply(pl.p);
    pl.p.stop_at = engine::Clock::now() + 30ms;
    const auto got = pl.p.obtain_engine_thoughts(2, 0, 100000);
    EXPECT_EQ(moves_of(got), (Lines{"g1f3", "d2d4"}));  // the last line of each variation, best first
    EXPECT_TRUE(fake.received("go depth").empty());
    EXPECT_EQ(pl.p.last_search_depth, 8);
  }
  {  // The next request, cut before its probe said anything, does not play the last one's lines.
    AI_BASIC::ReplyScope reply(pl.p);
    std::thread host([&] { std::this_thread::sleep_for(30ms), pl.p.interrupt(); });
    EXPECT_TRUE(pl.p.obtain_engine_thoughts(2, 0, 100000).empty());
    host.join();
    EXPECT_TRUE(fake.received("go depth").empty());
  }
  // An engine that ignores "stop" is replaced at once, and the probe's lines are the candidates.
  ScriptedEngine deaf(std::vector<std::string>{"on go infinite\n" + info(1, "cp 3 nodes 10 nps 10 pv d2d4"), ""});
  Player stuck(deaf);
  stuck.p.engine_timeout = 10ms;
  stuck.p.stop_grace = 30ms;
  EXPECT_EQ(moves_of(stuck.p.obtain_engine_thoughts(1, 0, 100000)), Lines{"d2d4"});
  EXPECT_EQ(stuck.p.engine_trouble, "The chess engine " + std::string(fake_engine_path()) +
                                        " did not answer \"stop\" within 30 ms while probing for a depth with a "
                                        "budget of 100000 nodes; it was killed and replaced");
  EXPECT_TRUE(stuck.p.engine_replaced() && stuck.p.cut_short() && !stuck.p.engine_broken);
  EXPECT_EQ(deaf.launches(), 2);  // at once, not at the next request
  stuck.p.begin_request();  // the next request starts with no trouble of its own
  EXPECT_TRUE(stuck.p.engine_trouble.empty() && !stuck.p.engine_replaced() && !stuck.p.cut_short());
}

TEST(EngineDialogue, OnlyInDebugModeASlowBudgetSearchIsRecorded) {
  TempDir dir;
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  Lines sounds;
  const common::ScopedPlaySoundSink sound([&](std::string_view s) { sounds.emplace_back(s); });
  // 40001 nodes should take 0.2 s; the probe alone takes longer.
  const std::string pv1 = "info depth 13 seldepth 13 multipv 1 score cp 4 nodes 50000 nps 1000 pv e2e4 e7e5";
  const std::string slow_probe = "on go infinite\nsleep 300\n> " + pv1 + "\non stop\n> bestmove e2e4\n";
  ScriptedEngine fake(slow_probe + slow_probe);
  Player pl(fake);
  CaptureBugprint bug;
  for (const bool debug : {false, true}) {
    pl.p.DEBUG = debug;
    pl.p.obtain_engine_thoughts(1, 0, 40001);
  }
  EXPECT_EQ(sounds, Lines{"admiralty.wav"});
  EXPECT_EQ(bug.lines.size(), 3u * 7u);  // the record, then each element of elines
  const std::string text = read_file("debug.txt");
  const std::string head = "\n\nmpv:1.00; nodes:40001, depth:11, t1:";
  const std::string tail = " (32) \n(" + pv1 + ")\n" + kStartFen + "\n\n" + pv1 + "\n\n";
  EXPECT_EQ(text.substr(0, head.size()), head) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
  std::filesystem::current_path(cwd);
}

// ---- the probe

namespace {

const long long N = 1000000;

// A script line printing an info line of the given principal variation, with a pv of `pv_moves` moves.
std::string info(int depth, long long nodes, int pv_moves, const std::string& score = "cp 30", long long nps = N,
                 int multipv = 1) {
  std::string line = "> info depth " + std::to_string(depth) + " seldepth 40 multipv " + std::to_string(multipv) +
                     " score " + score + " nodes " + std::to_string(nodes) + " nps " + std::to_string(nps) +
                     " time 10 pv";
  for (int i = 0; i < pv_moves; ++i) line += i % 2 ? " e7e5" : " e2e4";
  return line + "\n";
}

// The engine answers "go infinite" with `lines`, and "stop" with `after_stop` and a bestmove.
std::string probe_script(const std::string& lines, const std::string& after_stop = "") {
  return "on go infinite\n" + lines + "on stop\n" + after_stop + "> bestmove e2e4\n";
}

struct Probe {
  explicit Probe(const std::string& script) : fake(script) {}
  int run(int multipv) { return p.o_t_get_depth_(multipv, 0, N); }
  ScriptedEngine fake;
  CaptureEcho quiet;
  AI_BASIC p{"Talvo", 100, std::nullopt, fake.config()};
};

}  // namespace

TEST(EngineProbe, EstimatesFromTheLastLineBeforeTheStopRule) {
  struct Case {
    std::string lines, after_stop;
    int multipv, depth;
    bool decided;  // stopped early with a diagnostic
  };
  const Case cases[] = {
      // min(14, max(12, 9)) - 1; other lines and other variations are skipped
      {"> info string warming up\n" + info(5, 10000, 3, "cp 30", N, 2) + info(14, 950000, 9), "", 1, 11, false},
      // depth 18 goes on with 16 pv moves, stops with 15; lines after "stop" count for nothing
      {info(18, 100000, 16) + info(18, 150000, 15) + info(18, 200000, 10), info(30, 2 * N, 30), 3, 14, false},
      // from 11 on an over-budget line stops the probe but keeps the estimate
      {info(13, 1000, 5) + info(20, 2 * N, 30), "", 2, 11, false},
      // below 11 the estimate still follows, and the result is capped at 30
      {info(10, 1000, 5) + info(45, 2 * N, 45), "", 2, 30, false},
      {info(13, 1000, 5) + info(15, N, 14), "", 2, 13, false},
      // the edges: an estimate of 11 is kept by a line at 1.25 times the budget, a line just
      // below follows; 0.9 times the budget stops
      {info(11, 1000, 5) + info(20, 1250000, 30), "", 2, 10, false},
      {info(12, 1000, 5) + info(20, 1249999, 30), "", 2, 19, false},
      {info(13, 899999, 13) + info(14, 900000, 14), info(16, 950000, 16), 2, 13, false},
      // a mate stops early; an estimate of 11 is raised to 12
      {info(11, 300000, 7, "mate 4", 100000), "", 1, 11, true},
      // a large cp too, but not below a quarter of the budget, nor for a fast engine at a low depth
      {info(8, 200000, 3, "cp -2701", 100000) + info(9, 300000, 3, "cp 2701", 200000) +
           info(10, 300000, 3, "cp 2701", 100000),
       "", 2, 9, true},
  };
  for (const Case& c : cases) {
    Probe pr(probe_script(c.lines, c.after_stop));
    CaptureBugprint bug;
    EXPECT_EQ(pr.run(c.multipv), c.depth) << c.lines;
    const std::string stop_line = c.lines.substr(c.lines.rfind("> ") + 2);
    EXPECT_EQ(bug.lines, (c.decided ? Lines{"--- THE-LOW-NODE_OR_HIGH-SCORE ---", "1000000", "2", "300.0", "", "", "",
                                            stop_line, "", "", "", "", "", ""}
                                    : Lines{}));
    EXPECT_EQ(pr.p.elines, Lines{""});  // recorded only in debug mode
    const Lines sent = pr.fake.received();
    EXPECT_EQ(Lines(sent.begin() + 4, sent.end()),
              (Lines{"setoption name MultiPV value " + std::to_string(std::max(2, c.multipv)), "go infinite", "stop"}));
  }
}

TEST(EngineProbe, DebugModeRecordsTheFirstVariationAlsoAfterTheStop) {
  Probe pr(probe_script(info(9, 1000, 3, "cp 30", N, 2) + info(9, 1000, 3) + info(14, 950000, 9), info(15, N, 9)));
  pr.p.DEBUG = true;
  pr.p.elines = {"", "a line of an earlier search"};
  EXPECT_EQ(pr.run(2), 11);
  EXPECT_EQ(pr.p.elines,
            (Lines{"", info(9, 1000, 3).substr(2), info(14, 950000, 9).substr(2), info(15, N, 9).substr(2)}));
}

TEST(EngineProbe, GivenDepthSkipsTheProbeEarlyBestmoveGivesMinusOneBrokenOutputFails) {
  Probe pr("on go infinite\n> bestmove e2e4\n");
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, std::nullopt), 7);
  EXPECT_EQ(pr.p.o_t_get_depth_(1, 7, N), 7);
  EXPECT_THROW(pr.p.o_t_get_depth_(1, 0, std::nullopt), AssertionError);
  EXPECT_EQ(pr.run(1), -1);
  EXPECT_EQ(pr.fake.received()[4], "setoption name MultiPV value 2");  // nothing before the probe
  Probe no_nps("on go infinite\n> info depth 9 multipv 1 score cp 3 nodes 10 pv e2e4\n");
  EXPECT_THROW(no_nps.run(1), Error);
  // The engine dies, or goes quiet after "stop": its output ends, no endless wait.
  for (const std::string& script : Lines{"on go infinite\n" + info(9, 1000, 3) + "die\n",
                                         "on go infinite\n" + info(14, N, 9) + "on stop\nclose\n"}) {
    Probe broken(script);
    EXPECT_THROW(broken.run(1), EngineError) << script;
    EXPECT_TRUE(broken.p.engine_broken);  // restarted at the next request
  }
}

// The probe's own "stop" is waited for as long as the engine takes unless the host set a limit
// (a watchdog: see the cut probe above); a limit that comes later starts the grace then.
TEST(EngineProbe, ALimitThatComesAfterItsOwnStopBoundsTheWaitForTheAnswer) {
  Probe interrupted("on go infinite\n" + info(14, N, 9));
  interrupted.p.stop_grace = 50ms;
  std::thread host([&] {
    std::this_thread::sleep_for(100ms);
    interrupted.p.interrupt();
  });
  EXPECT_EQ(interrupted.run(1), 11);
  host.join();
  EXPECT_TRUE(interrupted.p.cut_short() && interrupted.p.engine_replaced());
  EXPECT_EQ(interrupted.fake.launches(), 2);
}

namespace {

struct Fault {
  const char* name;
  std::string script;  // for the fake engine; "exec:PATH" runs PATH instead
  bool recovers;       // a move all the same, with a note; or a PersonaFailure
  const char* text;    // part of the note, or of the PersonaFailure text
  bool clock = false;  // the host's clock runs out 300 ms into the reply
};

}  // namespace

TEST(EngineFaults, EachFaultEndsTheReplyInTimeWithAMoveOrAClearMessageAndLeavesNothingRunning) {
  const std::string random = "was cut short before it found a move, so it plays a random legal move";
  const Fault faults[] = {
      {"silent after go", "on go\nhang\n", true, random.c_str()},
      // What it found is played, or the candidate leads to a rule that needs a last move: either way a note.
      {"ignores stop", "on go\n> info depth 1 score cp 3 pv h2h3\n", true, ""},
      {"ignores stop under a clock", "on go\n> info depth 1 score cp 3 pv h2h3\n", true, "", true},
      {"floods", "exec:/usr/bin/yes", true, random.c_str()},
      {"never-ending line", "on go\n>> " + std::string(1100000, 'x') + "\n", false, "without ending the line"},
      {"dies mid-reply", "on go\ndie\n", false, "output ended"},
  };
  TempDir dir;
  // Side by side, as each fault takes its watchdog and grace; each engine reads
  // its own script, and one sink that keeps nothing serves all (sinks are the process's).
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  const board::Board position("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::MoveList legal = position.legal_moves();
  std::vector<std::future<void>> running;
  for (const Fault& fault : faults) {
    const bool exec = fault.script.starts_with("exec:");
    const std::string path = exec ? fault.script.substr(5) : scripted_engine_file(dir, fault.name, fault.script);
    running.push_back(std::async(std::launch::async, [&fault, &legal, &position, path] {
      SCOPED_TRACE(fault.name);
      engine::EngineConfig config;
      config.path = path;
      BEGINNER_GANG hera("Hera", Number(0.05), 550, config);
      // A fault found in what the engine says needs no watchdog; a long one keeps a loaded machine from racing it.
      hera.engine_timeout = fault.recovers ? 300ms : 5s;
      hera.stop_grace = 200ms;
      const auto start = engine::Clock::now();
      if (fault.clock) hera.stop_at = start + 300ms;
      try {
        const SafeReply reply = reply_safely(hera, {}, legal, position.export_FEN());
        EXPECT_TRUE(fault.recovers);
        EXPECT_TRUE(!reply.note.empty() && reply.note.find(fault.text) != std::string::npos) << reply.note;
        EXPECT_NE(std::find(legal.begin(), legal.end(), reply.move), legal.end());
        EXPECT_TRUE(reply.cut_short && reply.engine_restarted) << reply.note;
        EXPECT_NE(reply.detail.find("did not answer \"stop\" within 200 ms"), std::string::npos) << reply.detail;
        // Without a clock: the watchdog and the grace; with one: the budget and the grace (and slack for a loaded machine).
        EXPECT_LT(engine::Clock::now() - start, 1500ms);
      } catch (const PersonaFailure& e) {
        const std::string text = e.what();
        EXPECT_FALSE(fault.recovers) << text;
        EXPECT_NE(text.find(fault.text), std::string::npos) << text;
        EXPECT_EQ(text.find("exec '"), std::string::npos) << text;  // the path, not the shell command
        EXPECT_LT(text.size(), 2000u) << "an engine's line is quoted, not copied whole";
      }
    }));
  }
  for (auto& r : running) r.get();  // a fault that hangs fails the test at its timeout
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
  EXPECT_EQ(errno, ECHILD);
}

// A host shutting down abandons a persona mid-reply: the reply ends at once,
// and neither it nor a later reply starts another engine.
TEST(EngineFaults, AnAbandonedPersonaEndsItsReplyAndStartsNoEngine) {
  TempDir dir;
  const std::string script = dir.file("script"), log = dir.file("log");
  testing_support::write_file(script, "on go\nsleep 10000\n");
  ScopedEnv script_env("FAKE_ENGINE_SCRIPT", script);
  ScopedEnv log_env("FAKE_ENGINE_LOG", log);
  common::ScopedEchoSink quiet([](std::string_view) {});
  ScopedBugprintSink quiet_diagnostics([](std::string_view) {});
  const board::Board position("r1bq1rk1/pp3ppp/2nbpn2/2pp4/3P4/2PBPN2/PP1N1PPP/R1BQ1RK1 w - - 0 8");
  const board::MoveList legal = position.legal_moves();
  engine::EngineConfig config;
  config.path = testing_support::fake_engine_path();
  BEGINNER_GANG hera("Hera", Number(0.05), 550, config);
  auto reply = std::async(std::launch::async, [&] { return reply_safely(hera, {}, legal, position.export_FEN()); });
  testing_support::eventually([&] { return testing_support::read_file(log).find("go ") != std::string::npos; }, 5s);
  const auto start = engine::Clock::now();
  hera.abandon();
  const SafeReply got = reply.get();  // the safe fallback, at once
  EXPECT_EQ(got.note, "Hera lost its engine, so it plays a random legal move");
  EXPECT_NE(std::find(legal.begin(), legal.end(), got.move), legal.end());
  EXPECT_LT(engine::Clock::now() - start, 1s);
  try {
    reply_safely(hera, {}, legal, position.export_FEN());
    ADD_FAILURE() << "an abandoned persona replied";
  } catch (const PersonaFailure& e) {
    EXPECT_NE(std::string(e.what()).find("was shut down; its engine is not restarted"), std::string::npos) << e.what();
  }
  EXPECT_EQ(testing_support::count_of(testing_support::read_file(log), "\nuci\n"), 0);  // the first line is the only uci
  EXPECT_TRUE(testing_support::read_file(log).starts_with("uci\n"));
}
