// Starting a player's engine: the choice of executable, the start-up lines,
// the line writer and reader, and what happens when the engine dies.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/platform.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace testing_support;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

// Works in a fresh directory whose engine stand-ins record their own start;
// the override is switched off so that the fixed paths are used.
class FixedPaths : public ::testing::Test {
 protected:
  FixedPaths() : old_cwd_(fs::current_path()) { fs::current_path(dir_.path()); }
  ~FixedPaths() override { fs::current_path(old_cwd_); }

  // An executable that appends `tag` to started.log and then reads until its input ends.
  void stand_in(const std::string& file, const std::string& tag) {
    fs::create_directories(fs::path(dir_.file(file)).parent_path());
    write_file(dir_.file(file), "#!/bin/sh\necho " + tag + " >> started.log\nexec cat > /dev/null\n");
    ::chmod(dir_.file(file).c_str(), 0755);
  }
  // Whom the players started, in any order (they must be gone).
  std::multiset<std::string> started() {
    std::istringstream log(read_file(dir_.file("started.log")));
    return {std::istream_iterator<std::string>(log), {}};
  }
  static engine::Platform fake_platform(std::set<std::string> existing, std::string id = "linux") {
    engine::Platform p = engine::system_platform();
    p.path_exists = [existing](const std::string& path) { return existing.count(path) > 0; };
    p.platform_id = std::move(id);
    return p;
  }

  TempDir dir_;
  fs::path old_cwd_;
  // The shell eats the backslashes of the Windows paths, and a name without a
  // slash is looked up in PATH: the stand-ins are found there.
  ScopedEnv path_{"PATH", dir_.path() + ":" + std::getenv("PATH")};
  ScopedEnv no_engine_{"AI_PLAYERS_ENGINE", std::nullopt};
  ScopedEnv no_elo_engine_{"AI_PLAYERS_ELO_ENGINE", std::nullopt};
  CaptureEcho echo_;
};

}  // namespace

TEST(EngineLaunch, SendsTheStartupLinesAndWritesStrippedLines) {
  FakeEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(AI_BASIC("Talvo", 100, "Houdini_20c_Pro_x64.exe"), AssertionError);  // before anything
  {
    AI_BASIC p("Talvo", 100);
    EXPECT_EQ(p.Name, "Talvo (100)");
    p.writeIntoEngine("go depth 3   \t \n");
    p.writeIntoEngine("isready\r\n\n");
  }
  EXPECT_EQ(echo.lines, Lines{"Talvo 100"});
  EXPECT_EQ(fake.raw_received(),
            "uci\nucinewgame\nsetoption name Contempt value 0\nsetoption name Threads value 1\ngo depth 3\nisready\n");
}

TEST_F(FixedPaths, WindowsBranchesChooseTheirPaths) {
  const std::string w32 = "c:\\Houdini_20c_Pro_w32.exe", x64 = "c:\\Houdini_20c_Pro_x64.exe",
                    sf = "c:\\stockfish-222-64-ja-intel.exe", talvo = "data\\engines\\talvo_engine32.exe";
  for (const char* name : {"dataenginesHoudini_20c_Pro_w32.exe", "c:Houdini_20c_Pro_w32.exe",
                           "c:Houdini_20c_Pro_x64.exe", "c:stockfish-222-64-ja-intel.exe",
                           "dataenginestalvo_engine32.exe"})
    stand_in(name, "x");
  const std::tuple<std::set<std::string>, const char*, std::string, bool, std::string> cases[] = {
      {{"c:\\"}, "linux", "", true, "data\\engines\\Houdini_20c_Pro_w32.exe"},
      {{"c:\\", w32}, "linux", "", true, w32},
      {{"c:\\", w32, x64}, "linux", "", true, x64},  // the 64-bit file wins
      {{"c:\\", sf}, "linux", "/x/" + talvo, false, sf},
      {{sf}, "win32", "D:\\data\\engines\\talvo_engine32.exe", true, sf},
      {{sf}, "win32", "C:\\data\\engines\\talvo_engine32.exe", false, sf},  // case-sensitive test
      {{sf}, "win32", "c:\\data\\engines\\talvo_engine32.exe", false, talvo},
      {{}, "win32", "", false, talvo},
  };
  for (const auto& [existing, id, absolute, houdini, expected] : cases) {
    auto platform = fake_platform(existing, id);
    platform.absolute_path = [&absolute = absolute](const std::string&) { return absolute; };
    engine::ScopedPlatform sp(platform);
    AI_BASIC p("H", 2000, houdini ? std::optional<std::string>(AI_BASIC::HOUDINI) : std::nullopt);
    EXPECT_EQ(p.enginepath, expected) << id << " " << absolute;
    EXPECT_EQ(p.engine->command(), expected);  // handed to the shell as it stands
  }
  EXPECT_EQ(started().size(), 8u);
}

TEST_F(FixedPaths, LinuxRunsHoudiniUnderWineAndMakesStockfishExecutableOrRefusesIt) {
  {
    const int saved = ::dup(2), null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);  // the shell cannot find wine here and says so
    engine::ScopedPlatform sp(fake_platform({}));
    const std::string wine =
        "WINEPREFIX=/home/durnel/.houdwine64 /home/durnel/.PlayOnLinux/wine/linux-amd64/1.3.28/bin/wine64 "
        "engines/Houdini_20c_Pro_x64.exe";
    try {
      AI_BASIC p("H", 2000, std::string(AI_BASIC::HOUDINI));
      EXPECT_FALSE(p.enginepath.has_value());
      EXPECT_EQ(p.engine->command(), wine);
    } catch (const EngineError& e) {  // the shell may have gone before the start-up lines
      EXPECT_EQ(std::string(e.what()), "The chess engine " + wine + " cannot be written to: Broken pipe");
    }
    ::dup2(saved, 2);
    ::close(saved);
    ::close(null);
  }
  // chmod is tried once per player; the second time it works.
  const std::string stockfish = "data/engines/stockfish-222-64-ja";
  Lines shell;
  auto platform = fake_platform({});
  platform.run_shell = [&shell](const std::string& c) { shell.push_back(c); };
  platform.is_executable = [&shell](const std::string&) { return shell.size() == 2; };
  engine::ScopedPlatform sp(platform);
  EXPECT_EQ(error_of<Error>([] { AI_BASIC("S", 100); }), "The chess engine " + stockfish + " is not executable");
  EXPECT_EQ(echo_.lines.back(), "Unable to change permissions on engine to make it executable.");
  stand_in(stockfish, "stockfish");
  EXPECT_EQ(AI_BASIC("S", 100).engine->command(), stockfish);
  EXPECT_EQ(shell, (Lines{"chmod 755 " + stockfish, "chmod 755 " + stockfish}));
  EXPECT_EQ(started(), std::multiset<std::string>{"stockfish"});
}

TEST_F(FixedPaths, OverrideTakesAnyPathLiterallyAndComesBeforeTheBranches) {
  const std::string odd = dir_.file("it's a $HOME; dir/my engine");  // not interpreted by the shell
  stand_in("it's a $HOME; dir/my engine", "odd");
  stand_in("elo engine", "elo");
  stand_in("plain", "plain");
  {
    ScopedEnv env("AI_PLAYERS_ENGINE", odd);
    engine::ScopedPlatform windows(fake_platform({"c:\\"}, "win32"));  // the override wins anyway
    EXPECT_EQ(AI_BASIC("T", 100).enginepath, odd);
    // The Elo-limited player asks its own variable first, the others ignore it.
    ScopedEnv elo("AI_PLAYERS_ELO_ENGINE", dir_.file("elo engine"));
    EXPECT_EQ(AI_BASIC("H", 2000, std::string(AI_BASIC::HOUDINI)).enginepath, dir_.file("elo engine"));
    EXPECT_EQ(AI_BASIC("T", 100).enginepath, odd);
  }
  {  // a bare name is looked up in PATH; the host default serves when no variable is set
    ScopedEnv path("PATH", "/nonexistent:" + dir_.path());
    engine::set_default_engine("plain");
    EXPECT_EQ(AI_BASIC("T", 100).enginepath, dir_.file("plain"));
    engine::set_default_engine(std::nullopt);
  }
  EXPECT_EQ(started(), (std::multiset<std::string>{"elo", "odd", "odd", "plain"}));
  write_file(dir_.file("not-executable"), "");
  ScopedEnv env("AI_PLAYERS_ENGINE", dir_.file("not-executable"));
  EXPECT_EQ(error_of<Error>([] { AI_BASIC("T", 100); }),
            "The chess engine " + dir_.file("not-executable") + " is not executable");
}

TEST(EngineLaunch, DeadEngineFailsWritesWithADiagnosticAndReadsEmpty) {
  FakeEngine fake("on isready\n> readyok caf\xc3\xa9\n> bad \xe9t\xe9\n> \xed\xa0\x80\ndie\n");
  AI_BASIC p("Talvo", 100);
  p.writeIntoEngine("isready");
  EXPECT_EQ(p.readFromEngine(), "id name FakeEngine\n");  // what was written before it died
  EXPECT_EQ(p.readFromEngine(), "uciok\n");
  EXPECT_EQ(p.readFromEngine(), "readyok caf\xc3\xa9\n");
  EXPECT_THROW(p.readFromEngine(), Error);  // Latin-1 bytes are garbled output
  EXPECT_THROW(p.readFromEngine(), Error);  // so is an encoded surrogate
  EXPECT_EQ(p.readFromEngine(), "");
  EXPECT_EQ(p.readFromEngine(), "");
  ::waitpid(p.engine->pid(), nullptr, 0);  // its stdin may close a moment after its stdout
  CaptureBugprint bug;
  EXPECT_EQ(error_of<EngineError>([&] { p.writeIntoEngine("position fen x moves  "); }),
            "The chess engine exec " + engine::shell_quote(fake_engine_path()) + " cannot be written to: Broken pipe");
  EXPECT_EQ(bug.lines, (Lines{"position fen x moves\n", " ^^^^^", "Talvo (100)", "", "", "", ""}));
  EXPECT_THROW(p.writeIntoEngine("uci"), EngineError);  // every later write too
  // The host survived SIGPIPE without any change to its signal handling.
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  struct sigaction action {};
  sigaction(SIGPIPE, nullptr, &action);
  EXPECT_TRUE(!sigismember(&mask, SIGPIPE) && action.sa_handler == SIG_DFL);
}

TEST(EngineLaunch, HundredsOfPlayersLeaveNoDescriptorOrChildBehind) {
  const auto open_fds = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  FakeEngine fake;
  CaptureEcho quiet;
  const auto before = open_fds();
  for (int i = 0; i < 200; ++i) AI_BASIC p("P", i);
  EXPECT_EQ(open_fds(), before);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(fake.received().size(), 200u * 4);
}
