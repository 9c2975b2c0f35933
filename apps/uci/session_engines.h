// Every engine a UCI session starts, whoever starts it (its persona, a fresh
// one in a reply, the query of an engine's strengths), so that quit ends
// them all at once, also while they are being started.
#pragma once

#include <memory>
#include <mutex>
#include <set>

#include "ai_players/engine/engine_config.h"

namespace ai_players::app {

class SessionEngines {
 public:
  using Launch = decltype(engine::EngineConfig::launch);
  // A launcher that starts engines as `inner` does (none: child processes)
  // and keeps them here; after kill_all() it refuses with EngineError.
  Launch launcher(Launch inner);
  // Kills every engine started here that still runs; any thread.
  void kill_all();

 private:
  class Kept;
  std::mutex mutex_;
  std::set<engine::LineChannel*> live_;
  bool ended_ = false;
};

}  // namespace ai_players::app
