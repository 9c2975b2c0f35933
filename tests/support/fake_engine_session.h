// Runs the library's players against the scripted engine (fake-uci-engine).
#pragma once

#include <string>
#include <vector>

#include "ai_players/engine/engine_config.h"
#include "support/test_support.h"

namespace testing_support {

// fake-uci-engine as a child process, driven by `script` and logging what it
// receives into a temporary file: for players built with config(), and while
// alive for the ai-players program (through AI_PLAYERS_ENGINE).
class FakeEngine {
 public:
  explicit FakeEngine(const std::string& script = "");
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

  ai_players::engine::EngineConfig config() const { return {fake_engine_path(), {}}; }
  // Lines received so far by every engine started under this object, without line feeds.
  std::vector<std::string> received() const;

 private:
  TempDir dir_;
  std::string log_;
  std::string script_;
  ScopedEnv engine_;
  ScopedEnv elo_engine_;
  ScopedEnv script_env_;
  ScopedEnv log_env_;
};

}  // namespace testing_support
