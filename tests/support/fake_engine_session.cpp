#include "support/fake_engine_session.h"

#include <sstream>

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
  std::istringstream text(read_file(log_));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

}  // namespace testing_support
