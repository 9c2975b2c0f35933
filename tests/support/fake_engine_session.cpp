#include "support/fake_engine_session.h"

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

std::vector<std::string> FakeEngine::received() const {
  std::vector<std::string> lines;
  const std::string text = read_file(log_);
  std::size_t start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

}  // namespace testing_support
