// The engine child process: pipes, line reads, clean-up.
#include "ai_players/engine/engine_process.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ai_players/core/errors.h"

using ai_players::engine::EngineProcess;
using ai_players::engine::kMaxEngineLine;
using namespace std::chrono_literals;

TEST(EngineProcess, ReadsWholeLinesAndWritesMoreThanAPipeHolds) {
  EngineProcess p("printf 'one\\ntwo\\r\\nthree'");
  EXPECT_EQ(p.read_line(), "one\n");
  EXPECT_EQ(p.read_line(), "two\r\n");
  EXPECT_EQ(p.read_line(), "three");  // the unterminated tail, then the end
  EXPECT_EQ(p.read_line(ai_players::engine::Clock::now() + 1ms), "");  // the end of stream never waits
  EngineProcess cat("cat");
  cat.write(std::string(100000, 'x') + "\n");
  EXPECT_EQ(cat.read_line()->size(), 100001u);
}

TEST(EngineProcess, DestructorKillsAndReapsWhatTheShellStartedAndNothingLeaks) {
  // A shell that ignores the end of its input, and one that exits at once
  // leaving its child behind: neither leaves anything running.
  for (const char* command : {"sleep 300 & echo $!; sleep 300", "sleep 300 & echo $!"}) {
    pid_t shell, background;
    {
      EngineProcess p(command);
      shell = p.pid();
      background = std::stoi(*p.read_line());
    }
    EXPECT_EQ(::waitpid(shell, nullptr, WNOHANG), -1);  // reaped by us: not even a zombie
    EXPECT_EQ(errno, ECHILD);
    int tries = 0;  // a killed grandchild is reaped by init; give that a moment
    while (::kill(background, 0) == 0 && ++tries < 200) std::this_thread::sleep_for(10ms);
    EXPECT_LT(tries, 200) << command;
  }
  // Descriptors of one engine are not inherited by the next.
  std::set<std::string> before;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) before.insert(fd.path().filename());
  EngineProcess first("cat");
  EngineProcess second("ls /proc/$$/fd");
  for (std::string line; !(line = *second.read_line()).empty();) {
    line.pop_back();
    EXPECT_TRUE(std::stoi(line) <= 2 || before.count(line)) << "inherited descriptor " << line;
  }
}

TEST(EngineProcess, A1MiBLineIsTheLongestTakenAndTheEngineDiesWithTheThreadThatStartedIt) {
  const auto xs = [](std::size_t n) { return "head -c " + std::to_string(n) + " /dev/zero | tr '\\0' x"; };
  EngineProcess longest(xs(kMaxEngineLine));
  EXPECT_EQ(longest.read_line()->size(), kMaxEngineLine);
  EngineProcess longer(xs(kMaxEngineLine + 1));
  EXPECT_THROW(longer.read_line(), ai_players::EngineError);

  std::unique_ptr<EngineProcess> orphan;
  std::thread([&] {
    orphan = std::make_unique<EngineProcess>("echo up; exec sleep 300");
    orphan->read_line();  // the child is set up: it can no longer miss the thread's end
  }).join();
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(orphan->pid()), &info, WEXITED | WNOWAIT), 0);
  EXPECT_TRUE(info.si_code == CLD_KILLED && info.si_status == SIGKILL);
}
