// What a persona's engine is doing while it thinks, read from the engine's
// own dialogue: how many searches the reply has started and the depth the
// running one has reached. The persona's reply thread writes, any thread reads.
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "ai_players/engine/engine_config.h"

namespace ai_players::app {

class EngineWatch {
 public:
  struct Reading {
    int searches = 0;  // "go" commands sent since reset()
    int depth = 0;     // the deepest "info depth" of the running search
  };
  Reading read() const { return {searches_.load(), depth_.load()}; }
  // A new reply begins.
  void reset();

  using Launch = decltype(engine::EngineConfig::launch);
  // A launcher for EngineConfig::launch: `inner`'s channel (none: the usual
  // child process), with its dialogue watched.
  static Launch watched(std::shared_ptr<EngineWatch> watch, Launch inner = {});

  // What the watched channel saw.
  void sent(std::string_view line);
  void received(std::string_view line);

 private:
  std::atomic<int> searches_{0};
  std::atomic<int> depth_{0};
};

}  // namespace ai_players::app
