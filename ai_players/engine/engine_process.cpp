#include "ai_players/engine/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
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

// Puts `fd` on `target` in the child, keeping it open across exec.
void move_fd(int fd, int target) {
  if (fd == target)
    ::fcntl(fd, F_SETFD, 0);
  else
    ::dup2(fd, target);
}

}  // namespace

EngineProcess::EngineProcess(const std::string& command, std::string name)
    : command_(command), name_(name.empty() ? command : std::move(name)) {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, wake[2] = {-1, -1}, started[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(started, O_CLOEXEC) != 0) {
    const int err = errno;
    for (int fd : {in[0], in[1], out[0], out[1], wake[0], wake[1], started[0], started[1]})
      if (fd >= 0) ::close(fd);
    throw EngineError(format_s("The chess engine %s cannot be started: %s", name_, reason(err)));
  }

  const pid_t parent = ::getpid();
  const char* argv[] = {"sh", "-c", command_.c_str(), nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    // Only async-signal-safe calls from here to exec: the host may have threads.
    ::setpgid(0, 0);  // own group: the shell and whatever it starts die together
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the host is already gone
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    move_fd(in[0], STDIN_FILENO);
    move_fd(out[1], STDOUT_FILENO);
    ::execve("/bin/sh", const_cast<char**>(argv), environ);
    ::_exit(127);
  }
  const int err = errno;
  // Wait for the exec (it closes `started`): the parent-death signal is tied
  // to this thread, which must still be alive when the child arms it.
  ::close(started[1]);
  if (child > 0) {
    char byte;
    while (::read(started[0], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  ::close(started[0]);
  pid_ = child;
  if (child > 0) ::setpgid(child, child);  // also here, so the group exists before we might kill it
  ::close(in[0]);
  ::close(out[1]);
  to_engine_ = in[1];
  from_engine_ = out[0];
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  if (child < 0) {
    pid_ = -1;
    close_fd(to_engine_);
    close_fd(from_engine_);
    close_fd(wake_read_);
    close_fd(wake_write_);
    throw EngineError(format_s("The chess engine %s cannot be started: %s", name_, reason(err)));
  }
}

EngineProcess::~EngineProcess() {
  close_fd(to_engine_);  // the engine sees the end of its input
  close_fd(from_engine_);
  close_fd(wake_read_);
  close_fd(wake_write_);
  if (pid_ <= 0) return;
  // Wait for the exit without reaping, so that the group id cannot be reused
  // before whatever the shell left behind in the group is killed too.
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(300);
  auto pause = microseconds(200);
  for (;;) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_.load()), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return;  // already reaped elsewhere
    }
    if (info.si_pid == pid_ || steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, microseconds(20000));
  }
  terminate();
}

void EngineProcess::terminate() {
  close_fd(to_engine_);
  close_fd(from_engine_);
  eof_ = true;
  const pid_t pid = pid_;
  if (pid <= 0) return;
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

void EngineProcess::kill() {
  const pid_t pid = pid_;
  if (pid > 0) ::kill(-pid, SIGKILL);  // not reaped yet, so the group cannot be another's
}

void EngineProcess::write(std::string_view bytes) {
  SigpipeGuard guard;
  while (!bytes.empty()) {
    const ssize_t n = to_engine_ < 0 ? (errno = EPIPE, -1) : ::write(to_engine_, bytes.data(), bytes.size());
    if (n < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err == EPIPE && to_engine_ >= 0) guard.pipe_broke();
      throw EngineError(format_s("The chess engine %s cannot be written to: %s", name_, reason(err)));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void EngineProcess::wake() {
  if (wake_write_ < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);  // a full pipe is awake already
}

std::optional<std::string> EngineProcess::read_line(std::optional<Clock::time_point> until) {
  using namespace std::chrono;
  for (;;) {
    const auto nl = buffer_.find('\n', scanned_);
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl + 1);
      buffer_.erase(0, nl + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = buffer_.size();
    if (buffer_.size() > kMaxEngineLine)
      throw EngineError(format_s("The chess engine %s wrote more than %s bytes without ending the line",
                                 name_, kMaxEngineLine));
    if (eof_ || from_engine_ < 0) {
      scanned_ = 0;
      return std::exchange(buffer_, std::string());  // the last, unterminated piece, then ""
    }
    int wait_ms = -1;
    if (until) wait_ms = static_cast<int>(std::clamp<long long>(
                   duration_cast<milliseconds>(*until - Clock::now()).count() + 1, 0, 1 << 30));
    pollfd p[2] = {{from_engine_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int ready = ::poll(p, 2, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (p[1].revents & POLLIN) {
      char drain[64];
      while (::read(wake_read_, drain, sizeof drain) > 0) {
      }
      return std::nullopt;
    }
    if (ready == 0) {
      if (until && Clock::now() < *until) continue;
      return std::nullopt;
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

std::string EngineProcess::read_line_within(std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  for (;;) {
    if (auto line = read_line(until)) return *line;
    if (Clock::now() >= until)
      throw EngineTimeout(format_s("The chess engine %s gave no answer within %s ms", name_,
                                   static_cast<long long>(timeout.count())));
  }
}

}  // namespace ai_players::engine
