// Starting a player's engine: the choice of executable, the start-up lines,
// the line writer and reader, and what happens when the engine dies.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
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

const std::vector<std::string> kStartup = {"uci", "ucinewgame", "setoption name Contempt value 0",
                                           "setoption name Threads value 1"};

// Works in a fresh directory whose engine stand-ins record their own start;
// the override is switched off so that the fixed paths are used.
class FixedPaths : public ::testing::Test {
 protected:
  FixedPaths() : old_cwd_(fs::current_path()) { fs::current_path(dir_.path()); }
  ~FixedPaths() override { fs::current_path(old_cwd_); }

  // An executable that appends `tag` to started.log and then reads until its input ends.
  void stand_in(const std::string& file, const std::string& tag) {
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
    EXPECT_EQ(p.myside, 0);
    EXPECT_EQ(p.oppside, 0);
    EXPECT_EQ(p.start_fen, common::FEN_New_Game);
    EXPECT_EQ(p.enginepath, std::optional<std::string>(fake_engine_path()));
    p.writeIntoEngine("go depth 3   \t \n");
    p.writeIntoEngine("isready\r\n\n");
  }
  EXPECT_EQ(fake.raw_received(),
            "uci\nucinewgame\nsetoption name Contempt value 0\nsetoption name Threads value 1\n"
            "go depth 3\nisready\n");
  // A real number is kept as given and shown as such.
  AI_BASIC q("Rex", 270.0);
  EXPECT_EQ(q.Name, "Rex (270.0)");
}

TEST(EngineLaunch, RefusesAnyOtherEngineNameBeforeDoingAnything) {
  FakeEngine fake;
  CaptureEcho echo;
  EXPECT_THROW(AI_BASIC("Talvo", 100, "Houdini_20c_Pro_x64.exe"), AssertionError);
  EXPECT_THROW(AI_BASIC("Talvo", 100, ""), AssertionError);
  EXPECT_TRUE(echo.lines.empty());
  EXPECT_TRUE(fake.received().empty());
}

TEST_F(FixedPaths, HoudiniOnWindowsPrefersTheSixtyFourBitOverride) {
  stand_in("dataenginesHoudini_20c_Pro_w32.exe", "shipped");
  stand_in("c:Houdini_20c_Pro_w32.exe", "w32");
  stand_in("c:Houdini_20c_Pro_x64.exe", "x64");
  const std::string w32 = "c:\\Houdini_20c_Pro_w32.exe", x64 = "c:\\Houdini_20c_Pro_x64.exe";
  const std::string houdini(AI_BASIC::HOUDINI);
  {
    engine::ScopedPlatform sp(fake_platform({"c:\\"}));
    AI_BASIC p("H", 2000, houdini);
    EXPECT_EQ(p.enginepath, "data\\engines\\Houdini_20c_Pro_w32.exe");
    EXPECT_EQ(p.engine->command(), *p.enginepath);  // handed to the shell as it stands
  }
  {
    engine::ScopedPlatform sp(fake_platform({"c:\\", w32}));
    AI_BASIC p("H", 2000, houdini);
    EXPECT_EQ(p.enginepath, w32);
  }
  {
    engine::ScopedPlatform sp(fake_platform({"c:\\", w32, x64}));
    AI_BASIC p("H", 2000, houdini);
    EXPECT_EQ(p.enginepath, x64);
  }
  EXPECT_EQ(started(), "shipped\nw32\nx64\n");
}

TEST_F(FixedPaths, OwnEngineOnWindowsWithTheStockfishOverride) {
  stand_in("dataenginestalvo_engine32.exe", "talvo");
  stand_in("c:stockfish-222-64-ja-intel.exe", "stockfish");
  const std::string sf = "c:\\stockfish-222-64-ja-intel.exe";
  auto with_absolute = [&](std::set<std::string> existing, std::string id, std::string absolute) {
    auto p = fake_platform(std::move(existing), std::move(id));
    p.absolute_path = [absolute](const std::string&) { return absolute; };
    return p;
  };
  {  // "c:\" alone selects Windows, also without a Houdini request
    engine::ScopedPlatform sp(with_absolute({"c:\\"}, "linux", "/x/data\\engines\\talvo_engine32.exe"));
    AI_BASIC p("T", 100);
    EXPECT_EQ(p.enginepath, "data\\engines\\talvo_engine32.exe");
  }
  {  // a Houdini request without "c:\" is not the Houdini branch on Windows
    engine::ScopedPlatform sp(with_absolute({sf}, "win32", "D:\\games\\data\\engines\\talvo_engine32.exe"));
    AI_BASIC p("T", 100, std::string(AI_BASIC::HOUDINI));
    EXPECT_EQ(p.enginepath, sf);
  }
  {  // an upper-case drive letter does not count as "c:"
    engine::ScopedPlatform sp(with_absolute({sf}, "win32", "C:\\games\\data\\engines\\talvo_engine32.exe"));
    AI_BASIC p("T", 100);
    EXPECT_EQ(p.enginepath, sf);
  }
  {
    engine::ScopedPlatform sp(with_absolute({sf}, "win32", "c:\\games\\data\\engines\\talvo_engine32.exe"));
    AI_BASIC p("T", 100);
    EXPECT_EQ(p.enginepath, "data\\engines\\talvo_engine32.exe");
  }
  EXPECT_EQ(started(), "talvo\nstockfish\nstockfish\ntalvo\n");
}

TEST_F(FixedPaths, HoudiniOnLinuxRunsUnderWineWithoutAnEnginePath) {
  QuietStderr quiet;
  engine::ScopedPlatform sp(fake_platform({}));
  AI_BASIC p("H", 2000, std::string(AI_BASIC::HOUDINI));
  EXPECT_FALSE(p.enginepath.has_value());
  EXPECT_EQ(p.engine->command(), kHoudiniLinux);
}

TEST_F(FixedPaths, StockfishOnLinuxIsMadeExecutableOrRefused) {
  const std::string sf = "data/engines/stockfish-222-64-ja";
  fs::create_directories(dir_.file("data/engines"));
  std::vector<std::string> shell;
  auto platform_with = [&](bool executable_after_chmod) {
    auto p = fake_platform({});
    p.run_shell = [&shell](const std::string& c) { shell.push_back(c); };
    p.is_executable = [&shell, executable_after_chmod](const std::string&) {
      return executable_after_chmod && !shell.empty();
    };
    return p;
  };
  {
    engine::ScopedPlatform sp(platform_with(false));
    try {
      AI_BASIC p("S", 100);
      FAIL() << "started";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "The chess engine data/engines/stockfish-222-64-ja is not executable");
    }
    EXPECT_EQ(shell, std::vector<std::string>{"chmod 755 " + sf});
    EXPECT_EQ(echo_.lines.back(), "Unable to change permissions on engine to make it executable.");
  }
  shell.clear();
  stand_in(sf, "stockfish");
  {
    engine::ScopedPlatform sp(platform_with(true));
    AI_BASIC p("S", 100);
    EXPECT_EQ(p.enginepath, sf);
  }
  EXPECT_EQ(shell.size(), 1u);
  EXPECT_EQ(started(), "stockfish\n");
  {  // already executable: no permission change
    shell.clear();
    AI_BASIC p("S", 100);
    EXPECT_TRUE(shell.empty());
  }
}

TEST_F(FixedPaths, OverrideTakesAnyPathLiterallyAndComesBeforeTheBranches) {
  // Blanks, a quote and shell characters in the path are not interpreted.
  const std::string odd = dir_.file("it's a $HOME; dir");
  fs::create_directories(odd);
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
  auto log = started();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);  // all four were started ...
  EXPECT_NE(log.find("elo\n"), std::string::npos);         // ... through the shell, quoted
  EXPECT_NE(log.find("plain\n"), std::string::npos);
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
  EXPECT_EQ(fake.received().size(), 200 * kStartup.size());
}

TEST(EngineLaunch, DestroyingAPlayerEndsAnEngineThatIgnoresTheEndOfInput) {
  FakeEngine fake("linger\n");
  pid_t pid;
  {
    AI_BASIC p("Talvo", 100);
    pid = p.engine->pid();
  }
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);  // killed and reaped
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(fake.received(), kStartup);
}
