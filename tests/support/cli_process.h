// Runs the ai-players program as a child process, talking through its pipes.
// The child inherits the test's environment (e.g. a FakeEngine's settings).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace testing_support {

class CliProcess {
 public:
  // At a terminal, standard input and output are one pseudo-terminal, as for a person
  // (it echoes what is typed; "quit", not the end of input, ends a session there).
  enum Attached { kPipes, kTerminal };
  explicit CliProcess(std::vector<std::string> args, Attached attached = kPipes) {
    ::signal(SIGPIPE, SIG_IGN);  // a child that already ended must not end the test
    int in[2], out[2];
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (attached == kTerminal) {
      const int tty = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (tty < 0 || ::grantpt(tty) || ::unlockpt(tty)) throw std::runtime_error("no pseudo-terminal");
      posix_spawn_file_actions_addopen(&fa, 0, ::ptsname(tty), O_RDWR | O_NOCTTY, 0);
      in[0] = 0, in[1] = tty, out[0] = ::fcntl(tty, F_DUPFD_CLOEXEC, 0), out[1] = 0;
    } else if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC)) {
      throw std::runtime_error("pipe failed");
    }
    if (in[0] != 0) posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, dir_.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
    args.insert(args.begin(), cli_path());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int failed = ::posix_spawn(&pid_, cli_path(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (attached == kPipes) ::close(in[0]), ::close(out[1]);
    in_ = in[1], out_ = out[0];
    if (failed) throw std::runtime_error("cannot start ai-players");
  }
  ~CliProcess() {
    for (int fd : {in_, out_})
      if (fd >= 0) ::close(fd);
    if (!exited_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
  }

  pid_t pid() const { return pid_; }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] auto n = ::write(in_, text.data(), text.size());
  }
  // The lines of standard output up to the one that starts with `prefix`, or to its end.
  std::vector<std::string> read_until(const std::string& prefix) {
    std::vector<std::string> seen;
    while (seen.empty() || !seen.back().starts_with(prefix)) {
      if (const auto nl = out.find('\n'); nl != std::string::npos) {
        seen.push_back(out.substr(0, nl));
        out.erase(0, nl + 1);
      } else if (!read_more()) {
        break;
      }
    }
    return seen;
  }
  // The exit status, after closing the child's input and reading its output to the end.
  int wait() {
    if (in_ >= 0) ::close(in_), in_ = -1;
    while (read_more()) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    err = read_file(dir_.file("err"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string out, err;  // standard output not read as lines yet; standard error once ended

 private:
  bool read_more() {
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0) return false;
    if (::poll(&p, 1, 60000) == 0) throw std::runtime_error("ai-players gave no output for a minute");
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return ::close(out_), out_ = -1, false;
    return out.append(chunk, static_cast<std::size_t>(n)), true;
  }

  TempDir dir_;  // standard error goes to a file there; not copyable, like the process
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  bool exited_ = false;
};

// Whether a text, or any of its lines, holds `part`.
inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
inline bool has(const std::vector<std::string>& lines, const std::string& part) {
  for (const auto& line : lines)
    if (has(line, part)) return true;
  return false;
}

struct CliResult {
  int status;
  std::string out, err;
};

// Runs ai-players with the given (small) input to its end.
inline CliResult run_cli(const std::vector<std::string>& args, const std::string& input = "") {
  CliProcess p(args);
  if (!input.empty()) p.send(input.substr(0, input.size() - 1));
  const int status = p.wait();
  return {status, p.out, p.err};
}

// The command, what it wrote to each stream and its exit status; the fake engine as FAKE.
inline std::string transcript(const std::vector<std::string>& args, const std::string& input = "") {
  const auto r = run_cli(args, input);
  std::string said = "$ ai-players";
  for (const auto& a : args) said += " " + a;
  // A line redrawn in place ("\r") as a terminal leaves it: its last drawing.
  std::string err;
  for (std::size_t start = 0; start < r.err.size();) {
    const std::size_t end = std::min(r.err.find('\n', start), r.err.size());
    std::string line = r.err.substr(start, end - start);
    if (const auto cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    line.erase(line.find_last_not_of(' ') + 1);
    err += line + (end < r.err.size() ? "\n" : "");
    start = end + 1;
  }
  said += "\n" + r.out + "\n[standard error]\n" + err + "[exit " + std::to_string(r.status) + "]\n";
  return replace_all(said, fake_engine_path(), "FAKE");
}

}  // namespace testing_support
