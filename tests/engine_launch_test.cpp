// Starting a player's engine: the choice of executable, the start-up lines,
// and with real processes the line reader and writer, a dying engine and the
// clean-up.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/platform.h"
#include "support/fake_engine_session.h"
#include "support/scripted_channel.h"

using namespace ai_players;
using namespace testing_support;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
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
    write_file(dir.file(file), "#!/bin/sh\necho " + tag + " >> " + engine::shell_quote(dir.file("started.log")) +
                                   "\nwhile read -r line; do :; done\n");  // builtins only: PATH is narrowed below
    ::chmod(dir.file(file).c_str(), 0755);
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
  testing_support::write_file(engine, "#!/bin/sh\nwhile read -r line; do :; done\necho ended > " + engine::shell_quote(ended) + "\n");
  ::chmod(engine.c_str(), 0755);
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
