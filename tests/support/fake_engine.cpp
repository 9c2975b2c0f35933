// fake-uci-engine: the scripted UCI engine (see uci_script.h) as a process.
//
// Environment:
//   FAKE_ENGINE_LOG=<file>     every line received is appended to it as received, flushed at once
//   FAKE_ENGINE_SCRIPT=<file>  the script; without one only the default answers are given
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/uci_script.h"

namespace {

void put(int fd, const std::string& text) {
  for (std::size_t done = 0; fd >= 0 && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;  // reader gone or stdout closed: nothing to do
    done += static_cast<std::size_t>(n);
  }
}

[[noreturn]] void sleep_forever() {
  for (;;) ::pause();
}

void perform(const std::vector<testing_support::ScriptStep>& steps) {
  using Step = testing_support::ScriptStep;
  for (const Step& s : steps) {
    switch (s.kind) {
      case Step::Print: put(STDOUT_FILENO, s.text); break;
      case Step::Sleep: std::this_thread::sleep_for(std::chrono::milliseconds(s.ms)); break;
      case Step::Die: std::_Exit(1);
      case Step::Quit: std::exit(0);
      case Step::Close: ::close(STDOUT_FILENO); break;
      case Step::Hang: sleep_forever();
    }
  }
}

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);  // a vanished reader must not end the log
  int log_fd = -1;
  if (const char* log = std::getenv("FAKE_ENGINE_LOG"))
    log_fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  std::stringstream text;
  if (const char* path = std::getenv("FAKE_ENGINE_SCRIPT")) text << std::ifstream(path).rdbuf();
  std::optional<testing_support::UciScript> script;
  try {
    script.emplace(text.str());
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "fake-uci-engine: %s\n", e.what());
    return 2;
  }
  std::string pending;
  char buf[4096];
  for (ssize_t n; (n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0;) {
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, nl + 1);
      pending.erase(0, nl + 1);
      put(log_fd, line);
      perform(script->answer(line));
    }
  }
  if (!pending.empty()) {
    put(log_fd, pending);
    perform(script->answer(pending));
  }
  if (script->lingers()) sleep_forever();
}
