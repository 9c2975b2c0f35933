#include "ai_players/engine/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
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

int pidfd_open(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// Holds SIGPIPE blocked in this thread only, so that a write to a dead engine
// fails with EPIPE instead of ending the host; the SIGPIPE raised meanwhile is
// taken off the thread before the mask is restored. A thread that blocks
// SIGPIPE itself is left exactly as it is: the signal stays pending as it
// would for any write of its own. (With SIGPIPE unblocked nothing can already
// be pending, so whatever is pending after a failed write is ours.)
// ---- The supervisor. It is a fork of a host that may have threads and it
// never execs, so from the fork on it makes plain system calls only: no
// allocation, no stdio, no locks.

constexpr int kHostSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

void sleep_ms(long ms) {
  timespec t{0, ms * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Closes every descriptor from 3 on but the `n` in `keep` (sorted).
void close_all_but(const int* keep, int n) {
  unsigned lo = 3;
  for (int i = 0; i <= n; ++i) {
    const unsigned hi = i < n ? static_cast<unsigned>(keep[i]) : ~0U;
    if (hi > lo) {
#ifdef SYS_close_range
      if (::syscall(SYS_close_range, lo, hi - 1, 0) == 0) {
        lo = hi + 1;
        continue;
      }
#endif
      for (unsigned fd = lo; fd < hi && fd < 65536; ++fd) ::close(static_cast<int>(fd));
    }
    lo = hi + 1;
  }
}

struct Dirent64 {
  unsigned long long ino;
  long long off;
  unsigned short reclen;
  unsigned char type;
  char name[1];
};

// The parent's id from /proc/<pid>/stat ("pid (comm) S ppid ..."), or -1.
pid_t parent_of(const char* pid_text) {
  char path[64] = "/proc/";
  std::size_t len = 6;
  for (const char* c = pid_text; *c && len < 50; ++c) path[len++] = *c;
  const char tail[] = "/stat";
  for (const char* c = tail; *c; ++c) path[len++] = *c;
  path[len] = '\0';
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char stat[512];
  const ssize_t n = ::read(fd, stat, sizeof stat - 1);
  ::close(fd);
  if (n <= 0) return -1;
  // The command name may hold blanks and parentheses: the last ')' ends it.
  ssize_t at = n - 1;
  while (at > 0 && stat[at] != ')') --at;
  at += 4;  // past ") S "
  pid_t ppid = 0;
  for (; at < n && stat[at] >= '0' && stat[at] <= '9'; ++at) ppid = ppid * 10 + (stat[at] - '0');
  return ppid;
}

// SIGKILL to every child of this process (the processes it adopted among
// them) and to the groups they lead. Returns how many it found.
int kill_children(pid_t self) {
  const int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  int found = 0;
  alignas(8) char buf[8192];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dir, buf, sizeof buf);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const Dirent64*>(buf + at);
      at += entry->reclen;
      const char* name = entry->name;
      pid_t pid = 0;
      bool numeric = *name != '\0';
      for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9') numeric = false;
        else pid = pid * 10 + (*c - '0');
      }
      if (!numeric || pid == self || parent_of(name) != self) continue;
      ::kill(pid, SIGKILL);
      ::kill(-pid, SIGKILL);  // a session or group leader takes its group along
      ++found;
    }
  }
  ::close(dir);
  return found;
}

// The supervisor leaves the host's process group and signals: it follows the lifeline.
void detach_from_host() {
  ::setpgid(0, 0);  // signals meant for the host's group do not reach it: it follows the lifeline
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int sig : kHostSignals) ::sigaction(sig, &ignore, nullptr);
}

// Only our own descriptors stay, above the standard ones: another engine's
// lifeline held here would keep that engine alive after the host.
void keep_own_descriptors(int& in_r, int& out_w, int& life_r, int& report_w) {
  int fds[4] = {in_r, out_w, life_r, report_w};
  for (int& fd : fds)
    if ((fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) ::_exit(127);
  int sorted[4] = {fds[0], fds[1], fds[2], fds[3]};
  std::sort(sorted, sorted + 4);
  close_all_but(sorted, 4);
  in_r = fds[0], out_w = fds[1], life_r = fds[2], report_w = fds[3];
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
}

// In the engine's process: the shell with the engine's pipes as its standard ones.
[[noreturn]] void exec_engine(const char* const* argv, int in_r, int out_w, pid_t supervisor) {
  ::setpgid(0, 0);  // own group: the shell and whatever it starts die together
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the supervisor has one thread: this follows the supervisor itself
  if (::getppid() != supervisor) ::_exit(127);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig : kHostSignals) ::sigaction(sig, &dfl, nullptr);
  ::dup2(in_r, STDIN_FILENO);
  ::dup2(out_w, STDOUT_FILENO);
  ::execve("/bin/sh", const_cast<char* const*>(argv), environ);
  ::_exit(127);
}

// Until the engine ends, or the host is gone or lets go (the lifeline).
void watch_engine(int life_r, pid_t engine) {
  const int engine_fd = pidfd_open(engine);
  bool engine_gone = false;
  while (!engine_gone) {
    pollfd p[2] = {{life_r, POLLIN, 0}, {engine_fd, POLLIN, 0}};
    const int ready = ::poll(p, engine_fd >= 0 ? 2 : 1, engine_fd >= 0 ? 1000 : 20);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && p[0].revents != 0) {
      char byte;
      const ssize_t n = ::read(life_r, &byte, 1);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;  // the host is gone, or let go
    }
    for (pid_t w; (w = ::waitpid(-1, nullptr, WNOHANG)) > 0;)  // the engine, or an orphan it left
      if (w == engine) engine_gone = true;
  }
}

// Whatever is left: the engine's group, then every adopted process (whose
// own children come to us in turn), until no child remains.
[[noreturn]] void end_everything(pid_t engine, pid_t self) {
  ::kill(-engine, SIGKILL);
  for (int round = 0; round < 500; ++round) {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    errno = 0;
    if (::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD) break;
    kill_children(self);
    sleep_ms(2);
  }
  ::_exit(0);
}

[[noreturn]] void supervise(const char* const* argv, int in_r, int out_w, int life_r, int report_w) {
  detach_from_host();
  keep_own_descriptors(in_r, out_w, life_r, report_w);
  const pid_t self = ::getpid();
  const pid_t engine = ::_Fork();  // no fork handlers: this process may hold a copy of a lock in use
  if (engine == 0) exec_engine(argv, in_r, out_w, self);
  const int report = engine > 0 ? engine : -errno;
  if (engine > 0) ::setpgid(engine, engine);  // also here, so the group exists before we might kill it
  [[maybe_unused]] const ssize_t written = ::write(report_w, &report, sizeof report);
  ::close(report_w);
  ::close(in_r);
  ::close(out_w);
  if (engine < 0) ::_exit(1);
  watch_engine(life_r, engine);
  end_everything(engine, self);
}

// The supervisor's report (the engine's process id, or minus the errno of
// its failed fork) into `code`; the bytes read.
std::size_t read_report(int fd, int& code) {
  std::size_t got = 0;
  while (got < sizeof code) {
    const ssize_t n = ::read(fd, reinterpret_cast<char*>(&code) + got, sizeof code - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

ChildProcess::ChildProcess(const std::string& command, std::string name, std::string subject)
    : command_(command), name_(name.empty() ? command : std::move(name)), subject_(std::move(subject)) {
  const auto cannot_start = [&](const std::string& why) {
    return EngineError(format_s("%s cannot be started: %s", subject_, why));
  };
  int fds[2] = {-1, -1};
  const auto held = [&](int rc) {
    if (rc != 0) throw cannot_start(reason(errno));
    return std::pair{UniqueFd(fds[0]), UniqueFd(fds[1])};
  };
  // The engine's input is a socket so that a write to a dead engine can say
  // MSG_NOSIGNAL: no SIGPIPE, and no signal mask changed around every write.
  auto [in_r, in_w] = held(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
  auto [out_r, out_w] = held(::pipe2(fds, O_CLOEXEC));
  auto [wake_r, wake_w] = held(::pipe2(fds, O_CLOEXEC | O_NONBLOCK));
  auto [life_r, life_w] = held(::pipe2(fds, O_CLOEXEC));
  auto [report_r, report_w] = held(::pipe2(fds, O_CLOEXEC));

  const char* argv[] = {"sh", "-c", command_.c_str(), nullptr};
  const pid_t supervisor = ::fork();
  if (supervisor == 0) supervise(argv, in_r.get(), out_w.get(), life_r.get(), report_w.get());
  const int err = errno;
  if (supervisor < 0) throw cannot_start(reason(err));
  // The supervisor's ends are its own now.
  in_r.reset();
  out_w.reset();
  life_r.reset();
  report_w.reset();
  supervisor_ = supervisor;
  lifeline_ = life_w.release();
  to_engine_ = std::move(in_w);
  from_engine_ = std::move(out_r);
  wake_read_ = std::move(wake_r);
  wake_write_ = std::move(wake_w);
  // Whatever fails from here on lets the supervisor go and reaps it; the
  // descriptors close with their holders.
  struct Abandon {
    ChildProcess* self;
    ~Abandon() {
      if (self) self->terminate();
    }
  } abandon{this};

  // The supervisor reports the engine's process id, or why it could not start it.
  int code = 0;
  const std::size_t got = read_report(report_r.get(), code);
  report_r.reset();
  if (got != sizeof code || code <= 0)
    throw cannot_start(got == sizeof code && code < 0 ? reason(-code) : std::string("its supervisor failed"));
  engine_pid_ = code;
  // Writes wait with a deadline.
  ::fcntl(to_engine_.get(), F_SETFL, ::fcntl(to_engine_.get(), F_GETFL) | O_NONBLOCK);
  abandon.self = nullptr;
}

ChildProcess::~ChildProcess() {
  to_engine_.reset();  // the engine sees the end of its input and exits on its own
  from_engine_.reset();
  if (!reap_supervisor_(Clock::now() + std::chrono::milliseconds(300))) {
    cut_lifeline_();
    reap_supervisor_(std::nullopt);
  }
  cut_lifeline_();
}

void ChildProcess::cut_lifeline_() {
  const int fd = lifeline_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

bool ChildProcess::reap_supervisor_(std::optional<Clock::time_point> deadline) {
  if (reaped_ || supervisor_ <= 0) return true;
  int fd = -1;  // opened only when there is something to wait for
  for (bool first = true;; first = false) {
    const pid_t w = ::waitpid(supervisor_, nullptr, deadline ? WNOHANG : 0);
    if (w < 0 && errno == EINTR) continue;
    if (w != 0) break;  // reaped (or not ours to reap any more)
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) {
      if (fd >= 0) ::close(fd);
      return false;
    }
    if (first) fd = pidfd_open(supervisor_);
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 2)));
    }
  }
  if (fd >= 0) ::close(fd);
  reaped_ = true;
  return true;
}

void ChildProcess::terminate() {
  eof_ = true;
  finish_();
}

void ChildProcess::finish_() {
  to_engine_.reset();
  from_engine_.reset();
  cut_lifeline_();
  reap_supervisor_(std::nullopt);
}

void ChildProcess::kill() { cut_lifeline_(); }

void ChildProcess::write(std::string_view bytes) {
  const auto deadline = Clock::now() + write_timeout;
  while (!bytes.empty()) {
    const ssize_t n = to_engine_.get() < 0 ? (errno = EPIPE, -1)
                                           : ::send(to_engine_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0)
        throw EngineTimeout(format_s("%s has not read its input for %s ms", subject_,
                                     static_cast<long long>(write_timeout.count())));
      pollfd p{to_engine_.get(), POLLOUT, 0};
      ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
      continue;
    }
    throw EngineError(format_s("%s cannot be written to: %s", subject_, reason(err)));
  }
}

void ChildProcess::wake() {
  if (wake_write_.get() < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_write_.get(), &byte, 1);  // a full pipe is awake already
}

std::optional<std::string> ChildProcess::read_line(std::optional<Clock::time_point> until) {
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
      throw EngineError(format_s("%s wrote more than %s bytes without ending the line",
                                 subject_, kMaxEngineLine));
    if (eof_ || from_engine_.get() < 0) {
      scanned_ = 0;
      return std::exchange(buffer_, std::string());  // the last, unterminated piece, then ""
    }
    int wait_ms = -1;
    if (until) wait_ms = static_cast<int>(std::clamp<long long>(
                   duration_cast<milliseconds>(*until - Clock::now()).count() + 1, 0, 1 << 30));
    pollfd p[2] = {{from_engine_.get(), POLLIN, 0}, {wake_read_.get(), POLLIN, 0}};
    const int ready = ::poll(p, 2, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (p[1].revents & POLLIN) {
      char drain[64];
      while (::read(wake_read_.get(), drain, sizeof drain) > 0) {
      }
      return std::nullopt;
    }
    if (ready == 0) {
      if (until && Clock::now() < *until) continue;
      return std::nullopt;
    }
    char chunk[65536];
    const ssize_t n = ::read(from_engine_.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      eof_ = true;  // an unreadable pipe is a dead engine
    } else if (n == 0) {
      eof_ = true;
    } else {
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    if (eof_) finish_();  // nothing more can come: no engine, supervisor or zombie left while we are kept
  }
}

std::string ChildProcess::read_line_within(std::chrono::milliseconds timeout) {
  return read_line_by(Clock::now() + timeout);
}

std::string ChildProcess::read_line_by(Clock::time_point deadline) {
  for (;;) {
    if (Clock::now() >= deadline)
      throw EngineTimeout(format_s("%s did not answer in time", subject_));
    if (auto line = read_line(deadline)) {
      if (line->empty()) throw EngineError(format_s("%s stopped: its output ended", subject_));
      return *line;
    }
  }
}

std::string shell_quote(std::string_view path) {
  std::string out = "'";
  for (char c : path) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace ai_players::engine
