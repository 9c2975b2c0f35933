#include "ai_players/engine/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"

extern char** environ;

namespace ai_players::engine {

namespace {

std::string reason(int err) { return std::strerror(err); }

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Holds SIGPIPE blocked in this thread only, so that a write to a dead engine
// fails with EPIPE instead of ending the host; the SIGPIPE raised meanwhile is
// taken off the thread before the mask is restored. A thread that blocks
// SIGPIPE itself is left exactly as it is: the signal stays pending as it
// would for any write of its own. (With SIGPIPE unblocked nothing can already
// be pending, so whatever is pending after a failed write is ours.)
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old);
    changed_ = sigismember(&old, SIGPIPE) == 0;
  }
  ~SigpipeGuard() {
    if (!changed_) return;
    if (broke_) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_UNBLOCK, &pipe_, nullptr);
  }
  void pipe_broke() { broke_ = true; }

 private:
  sigset_t pipe_{};
  bool changed_ = false;
  bool broke_ = false;
};

}  // namespace

EngineProcess::EngineProcess(const std::string& command) : command_(command) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    const int err = errno;
    for (int fd : {in[0], in[1], out[0], out[1]})
      if (fd >= 0) ::close(fd);
    throw EngineError(format_s("The chess engine %s cannot be started: %s", command_, reason(err)));
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Own process group, so that the shell and whatever it starts can be killed together;
  // default SIGPIPE handling and no blocked signals, whatever the host's thread has.
  sigset_t none, pipe_only;
  sigemptyset(&none);
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &pipe_only);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const char* argv[] = {"sh", "-c", command_.c_str(), nullptr};
  const int err = ::posix_spawn(&pid_, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(in[0]);
  ::close(out[1]);
  to_engine_ = in[1];
  from_engine_ = out[0];
  if (err != 0) {
    pid_ = -1;
    close_fd(to_engine_);
    close_fd(from_engine_);
    throw EngineError(format_s("The chess engine %s cannot be started: %s", command_, reason(err)));
  }
}

EngineProcess::~EngineProcess() {
  close_fd(to_engine_);  // the engine sees the end of its input
  close_fd(from_engine_);
  if (pid_ <= 0) return;
  // Wait for the exit without reaping, so that the group id cannot be reused
  // before whatever the shell left behind in the group is killed too.
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(300);
  auto pause = microseconds(200);
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return;  // already reaped elsewhere
    }
    if (info.si_pid == pid_ || steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, microseconds(20000));
  }
  ::kill(-pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void EngineProcess::write(std::string_view bytes) {
  SigpipeGuard guard;
  while (!bytes.empty()) {
    const ssize_t n = to_engine_ < 0 ? (errno = EBADF, -1) : ::write(to_engine_, bytes.data(), bytes.size());
    if (n < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err == EPIPE) guard.pipe_broke();
      throw EngineError(format_s("The chess engine %s cannot be written to: %s", command_, reason(err)));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void EngineProcess::flush() {}

std::string EngineProcess::read_line(std::optional<std::chrono::milliseconds> timeout) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + timeout.value_or(milliseconds(0));
  for (;;) {
    const auto nl = buffer_.find('\n', scanned_);
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl + 1);
      buffer_.erase(0, nl + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = buffer_.size();
    if (eof_ || from_engine_ < 0) {
      scanned_ = 0;
      return std::exchange(buffer_, std::string());  // the last, unterminated piece, then ""
    }
    if (timeout) {
      const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      pollfd p{from_engine_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, 1 << 30)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0)
        throw EngineTimeout(format_s("The chess engine %s gave no answer within %s ms", command_,
                                     static_cast<long long>(timeout->count())));
    }
    char chunk[65536];
    const ssize_t n = ::read(from_engine_, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      eof_ = true;  // an unreadable pipe is a dead engine
    } else if (n == 0) {
      eof_ = true;
    } else {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
}

}  // namespace ai_players::engine
