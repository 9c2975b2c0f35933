// Runs the ai-players program as a child process, talking through its pipes.
// The child inherits the test's environment (e.g. a FakeEngine's settings).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace testing_support {

class CliProcess {
 public:
  explicit CliProcess(std::vector<std::string> args) {
    ::signal(SIGPIPE, SIG_IGN);  // a child that already ended must not end the test
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
      throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    args.insert(args.begin(), cli_path());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, cli_path(), &fa, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("cannot start ai-players");
    posix_spawn_file_actions_destroy(&fa);
    for (int fd : {in[0], out[1], err[1]}) ::close(fd);
    fds_ = {in[1], out[0], err[0]};
  }
  ~CliProcess() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
    if (!exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  pid_t pid() const { return pid_; }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] auto n = ::write(fds_[0], text.data(), text.size());
  }
  void close_input() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    fds_[0] = -1;
  }

  // The next line of standard output without its line feed; false at its end.
  // Standard error is collected meanwhile, so a chatty child never blocks on it.
  bool read_line(std::string& line) {
    for (;;) {
      if (const auto nl = out_.find('\n'); nl != std::string::npos) {
        line = out_.substr(0, nl);
        out_.erase(0, nl + 1);
        return true;
      }
      if (fds_[1] < 0) return false;
      pollfd p[2] = {{fds_[1], POLLIN, 0}, {fds_[2], POLLIN, 0}};
      if (::poll(p, 2, 60000) == 0) throw std::runtime_error("ai-players gave no output for a minute");
      for (int i : {1, 2})
        if (p[i - 1].revents) drain(i, i == 1 ? out_ : err_);
    }
  }
  // Reads up to the line that starts with `prefix`; every line read is added to `seen`.
  bool read_until(const std::string& prefix, std::vector<std::string>& seen) {
    for (std::string line; read_line(line);) {
      seen.push_back(line);
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  std::string read_all() {
    std::string all;
    for (std::string line; read_line(line);) all += line + "\n";
    return all;
  }
  const std::string& errors() const { return err_; }

  // The exit status, after closing the child's input and reading its output to the end.
  int wait() {
    close_input();
    out_ = read_all();
    while (fds_[2] >= 0) drain(2, err_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  void drain(int i, std::string& into) {
    char chunk[4096];
    const ssize_t n = ::read(fds_[i], chunk, sizeof chunk);
    if (n > 0) return into.append(chunk, static_cast<std::size_t>(n)), void();
    ::close(fds_[i]);
    fds_[i] = -1;
  }

  pid_t pid_ = -1;
  std::vector<int> fds_;  // the child's input, output and error
  std::string out_, err_;
  bool exited_ = false;
};

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

// Runs ai-players with the given input to its end.
inline CliResult run_cli(const std::vector<std::string>& args, const std::string& input = "") {
  CliProcess p(args);
  if (!input.empty()) p.send(input.substr(0, input.size() - 1));  // small input: fits the pipe
  const int status = p.wait();
  return {status, p.read_all(), p.errors()};
}

}  // namespace testing_support
