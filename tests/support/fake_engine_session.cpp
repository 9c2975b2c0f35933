#include "support/fake_engine_session.h"

#include <chrono>
#include <thread>

namespace testing_support {

FakeEngine::FakeEngine(const std::string& script)
    : log_(dir_.file("received.log")),
      script_(dir_.file("script.txt")),
      engine_("AI_PLAYERS_ENGINE", fake_engine_path()),
      elo_engine_("AI_PLAYERS_ELO_ENGINE", std::nullopt),  // so the Elo-limited player uses it too
      script_env_("FAKE_ENGINE_SCRIPT", script_),
      log_env_("FAKE_ENGINE_LOG", log_) {
  write_file(script_, script);
  write_file(log_, "");
}

std::string FakeEngine::raw_received() const { return read_file(log_); }

std::vector<std::string> FakeEngine::received() const {
  std::vector<std::string> lines;
  const std::string text = raw_received();
  std::size_t start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<std::string> FakeEngine::wait_for_lines(std::size_t n) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    auto lines = received();
    if (lines.size() >= n || std::chrono::steady_clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace testing_support
