// The engine child process: pipes, line reads, dead engines, clean-up.
#include "ai_players/engine/engine_process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_support.h"

using ai_players::engine::EngineProcess;
using namespace std::chrono_literals;

namespace {

std::set<int> open_fds() {
  std::set<int> fds;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') fds.insert(std::atoi(e->d_name));
    ::closedir(d);
  }
  return fds;
}

bool gone(pid_t pid) {
  // A killed grandchild is reaped by init, not by us; give that a moment.
  for (int i = 0; i < 200; ++i) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

}  // namespace

TEST(EngineProcess, ReadsWholeLinesWithTheirTerminators) {
  EngineProcess p("printf 'one\\ntwo\\r\\nthree'");
  EXPECT_EQ(p.read_line(), "one\n");
  EXPECT_EQ(p.read_line(), "two\r\n");
  EXPECT_EQ(p.read_line(), "three");  // the unterminated tail, then the end
  EXPECT_EQ(p.read_line(), "");
  EXPECT_EQ(p.read_line(1ms), "");  // the end of stream never waits
}

TEST(EngineProcess, EchoesWhatIsWritten) {
  EngineProcess p("cat");
  p.write("a b\n");
  p.write(std::string(100000, 'x') + "\n");  // larger than a pipe buffer
  EXPECT_EQ(p.read_line(), "a b\n");
  EXPECT_EQ(p.read_line().size(), 100001u);
}

TEST(EngineProcess, DestructorKillsAndReapsWhatTheShellStarted) {
  // A shell that ignores the end of its input, and one that exits at once
  // leaving its child behind: neither leaves anything running.
  for (const char* command : {"sleep 300 & echo $!; sleep 300", "sleep 300 & echo $!"}) {
    pid_t shell, background;
    {
      EngineProcess p(command);
      shell = p.pid();
      background = std::stoi(p.read_line());
    }
    EXPECT_EQ(::waitpid(shell, nullptr, WNOHANG), -1);  // reaped by us: not even a zombie
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(gone(background)) << command;
  }
}

TEST(EngineProcess, OtherChildrenDoNotInheritThePipes) {
  const auto before = open_fds();
  EngineProcess first("cat");
  EngineProcess second("ls /proc/$$/fd");
  for (std::string line; !(line = second.read_line()).empty();) {
    const int fd = std::stoi(line);
    EXPECT_TRUE(fd <= 2 || before.count(fd)) << "inherited descriptor " << fd;
  }
}
