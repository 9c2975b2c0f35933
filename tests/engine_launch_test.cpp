// Starting a player's engine: the choice of executable, the start-up lines,
// the line writer and reader, and what happens when the engine dies.
#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/platform.h"
#include "support/fake_engine_session.h"

using namespace ai_players;
using namespace testing_support;
namespace fs = std::filesystem;

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
  // Whom the player started (the player must be gone).
  std::string started() { return read_file(dir_.file("started.log")); }

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

const std::string kHoudiniLinux =
    "WINEPREFIX=/home/durnel/.houdwine64 /home/durnel/.PlayOnLinux/wine/linux-amd64/1.3.28/bin/wine64 "
    "engines/Houdini_20c_Pro_x64.exe";

std::size_t open_fd_count() {
  std::size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// Keeps the shell's "not found" complaints about absent engines out of the test output.
class QuietStderr {
 public:
  QuietStderr() : saved_(::dup(2)) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    ::close(null);
  }
  ~QuietStderr() {
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_;
};

}  // namespace

TEST(EngineLaunch, StartsWithTheFourStartupLinesAndSetsTheBaseFields) {
  FakeEngine fake;
  CaptureEcho echo;
  {
    AI_BASIC p("Talvo", 100);
    EXPECT_EQ(echo.lines, std::vector<std::string>{"Talvo 100"});
    EXPECT_EQ(p.Name, "Talvo (100)");
    EXPECT_EQ(p.ELO.text(), "100");
    EXPECT_FALSE(p.DEBUG);
    EXPECT_EQ(p.enginepath, std::optional<std::string>(fake_engine_path()));
    p.writeIntoEngine("go depth 3   \t \n");
    p.writeIntoEngine("isready\r\n\n");
  }
  EXPECT_EQ(fake.raw_received(),
            "uci\nucinewgame\nsetoption name Contempt value 0\nsetoption name Threads value 1\n"
            "go depth 3\nisready\n");
}

TEST(EngineLaunch, RefusesAnyOtherEngineNameBeforeDoingAnything) {
  FakeEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(AI_BASIC("Talvo", 100, "Houdini_20c_Pro_x64.exe"), AssertionError);
  EXPECT_THROW(AI_BASIC("Talvo", 100, ""), AssertionError);
  EXPECT_TRUE(echo.lines.empty());
  EXPECT_TRUE(fake.received().empty());
}

TEST_F(FixedPaths, WindowsBranchesChooseTheirPaths) {
  const std::string w32 = "c:\\Houdini_20c_Pro_w32.exe", x64 = "c:\\Houdini_20c_Pro_x64.exe",
                    sf = "c:\\stockfish-222-64-ja-intel.exe", talvo = "data\\engines\\talvo_engine32.exe";
  for (const char* name : {"dataenginesHoudini_20c_Pro_w32.exe", "c:Houdini_20c_Pro_w32.exe",
                           "c:Houdini_20c_Pro_x64.exe", "c:stockfish-222-64-ja-intel.exe",
                           "dataenginestalvo_engine32.exe"})
    stand_in(name, "x");
  struct Case {
    std::set<std::string> existing;
    std::string platform_id, absolute;
    bool houdini;
    std::string expected;
  };
  const Case cases[] = {
      {{"c:\\"}, "linux", "", true, "data\\engines\\Houdini_20c_Pro_w32.exe"},
      {{"c:\\", w32}, "linux", "", true, w32},
      {{"c:\\", w32, x64}, "linux", "", true, x64},  // the 64-bit file wins
      {{"c:\\", sf}, "linux", "/x/" + talvo, false, sf},
      {{sf}, "win32", "D:\\data\\engines\\talvo_engine32.exe", true, sf},
      {{sf}, "win32", "C:\\data\\engines\\talvo_engine32.exe", false, sf},  // case-sensitive test
      {{sf}, "win32", "c:\\data\\engines\\talvo_engine32.exe", false, talvo},
      {{}, "win32", "", false, talvo},
  };
  for (const auto& c : cases) {
    auto platform = fake_platform(c.existing, c.platform_id);
    platform.absolute_path = [&c](const std::string&) { return c.absolute; };
    engine::ScopedPlatform sp(platform);
    AI_BASIC p("H", 2000, c.houdini ? std::optional<std::string>(AI_BASIC::HOUDINI) : std::nullopt);
    EXPECT_EQ(p.enginepath, c.expected) << c.platform_id << " " << c.absolute;
    EXPECT_EQ(p.engine->command(), c.expected);  // handed to the shell as it stands
  }
  EXPECT_EQ(started(), "x\nx\nx\nx\nx\nx\nx\nx\n");
}

TEST_F(FixedPaths, HoudiniOnLinuxRunsUnderWineWithoutAnEnginePath) {
  QuietStderr quiet;  // the shell cannot find wine here
  engine::ScopedPlatform sp(fake_platform({}));
  try {
    AI_BASIC p("H", 2000, std::string(AI_BASIC::HOUDINI));
    EXPECT_FALSE(p.enginepath.has_value());
    EXPECT_EQ(p.engine->command(), kHoudiniLinux);
  } catch (const EngineError& e) {  // the shell may have gone before the start-up lines
    EXPECT_EQ(std::string(e.what()), "The chess engine " + kHoudiniLinux + " cannot be written to: Broken pipe");
  }
}

TEST_F(FixedPaths, StockfishOnLinuxIsMadeExecutableOrRefused) {
  std::vector<std::string> shell;
  for (bool chmod_works : {false, true}) {
    auto platform = fake_platform({});
    platform.run_shell = [&shell](const std::string& c) { shell.push_back(c); };
    platform.is_executable = [&shell, chmod_works](const std::string&) { return chmod_works && !shell.empty(); };
    engine::ScopedPlatform sp(platform);
    shell.clear();
    if (chmod_works) {
      stand_in("data/engines/stockfish-222-64-ja", "stockfish");
      AI_BASIC p("S", 100);
      EXPECT_EQ(p.engine->command(), "data/engines/stockfish-222-64-ja");
    } else {
      try {
        AI_BASIC p("S", 100);
        FAIL() << "started";
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "The chess engine data/engines/stockfish-222-64-ja is not executable");
      }
      EXPECT_EQ(echo_.lines.back(), "Unable to change permissions on engine to make it executable.");
    }
    EXPECT_EQ(shell, std::vector<std::string>{"chmod 755 data/engines/stockfish-222-64-ja"});
  }
  EXPECT_EQ(started(), "stockfish\n");
}

TEST_F(FixedPaths, OverrideTakesAnyPathLiterallyAndComesBeforeTheBranches) {
  // Blanks, a quote and shell characters in the path are not interpreted.
  const std::string odd = dir_.file("it's a $HOME; dir");
  stand_in("it's a $HOME; dir/my engine", "odd");
  stand_in("elo engine", "elo");
  stand_in("plain", "plain");
  {
    ScopedEnv env("AI_PLAYERS_ENGINE", odd + "/my engine");
    engine::ScopedPlatform windows(fake_platform({"c:\\"}, "win32"));  // the override wins anyway
    AI_BASIC p("T", 100);
    EXPECT_EQ(p.enginepath, odd + "/my engine");
    // The Elo-limited player asks its own variable first, the others ignore it.
    ScopedEnv elo("AI_PLAYERS_ELO_ENGINE", dir_.file("elo engine"));
    AI_BASIC h("H", 2000, std::string(AI_BASIC::HOUDINI));
    EXPECT_EQ(h.enginepath, dir_.file("elo engine"));
    AI_BASIC q("T", 100);
    EXPECT_EQ(q.enginepath, odd + "/my engine");
  }
  {  // a bare name is looked up in PATH; the host default serves when no variable is set
    ScopedEnv path("PATH", "/nonexistent:" + dir_.path());
    engine::set_default_engine("plain");
    AI_BASIC p("T", 100);
    engine::set_default_engine(std::nullopt);
    EXPECT_EQ(p.enginepath, dir_.file("plain"));
  }
  std::istringstream log(started());
  std::multiset<std::string> tags{std::istream_iterator<std::string>(log), {}};  // started together: any order
  EXPECT_EQ(tags, (std::multiset<std::string>{"elo", "odd", "odd", "plain"}));
  write_file(dir_.file("not-executable"), "");
  ScopedEnv env("AI_PLAYERS_ENGINE", dir_.file("not-executable"));
  try {
    AI_BASIC p("T", 100);
    FAIL() << "started";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "The chess engine " + dir_.file("not-executable") + " is not executable");
  }
}

TEST(EngineLaunch, DeadEngineFailsWritesWithADiagnosticAndReadsEmpty) {
  FakeEngine fake("on isready\ndie\n");
  AI_BASIC p("Talvo", 100);
  p.writeIntoEngine("isready");
  EXPECT_EQ(p.readFromEngine(), "id name FakeEngine\n");  // what was written before it died
  EXPECT_EQ(p.readFromEngine(), "uciok\n");
  EXPECT_EQ(p.readFromEngine(), "");
  EXPECT_EQ(p.readFromEngine(), "");
  ::waitpid(p.engine->pid(), nullptr, 0);  // its stdin may close a moment after its stdout
  CaptureBugprint bug;
  try {
    p.writeIntoEngine("position fen x moves  ");
    FAIL() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()),
              "The chess engine exec " + engine::shell_quote(fake_engine_path()) +
                  " cannot be written to: Broken pipe");
  }
  EXPECT_EQ(bug.lines, (std::vector<std::string>{"position fen x moves\n", " ^^^^^", "Talvo (100)", "", "", "", ""}));
  EXPECT_THROW(p.writeIntoEngine("uci"), EngineError);  // every later write too
  // The host survived SIGPIPE without any change to its signal handling.
  sigset_t mask, pending;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&mask, SIGPIPE));
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  struct sigaction action {};
  sigaction(SIGPIPE, nullptr, &action);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
}

TEST(EngineLaunch, GarbledOutputIsAnErrorNotText) {
  FakeEngine fake("on isready\n> readyok caf\xc3\xa9\n> bad \xe9t\xe9\n> \xed\xa0\x80\n");
  AI_BASIC p("Talvo", 100);
  p.writeIntoEngine("isready");
  p.readFromEngine();
  p.readFromEngine();
  EXPECT_EQ(p.readFromEngine(), "readyok caf\xc3\xa9\n");
  EXPECT_THROW(p.readFromEngine(), Error);  // Latin-1 bytes
  EXPECT_THROW(p.readFromEngine(), Error);  // an encoded surrogate
}

TEST(EngineLaunch, HundredsOfPlayersLeaveNoDescriptorOrChildBehind) {
  FakeEngine fake;
  CaptureEcho quiet;
  const std::size_t before = open_fd_count();
  for (int i = 0; i < 200; ++i) AI_BASIC p("P", i);
  EXPECT_EQ(open_fd_count(), before);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(fake.received().size(), 200u * 4);
}
