// A UCI engine running as a child process.
#pragma once

#include <string>

#include "ai_players/engine/child_process.h"

namespace ai_players::engine {

// Messages call it "The chess engine <name>" (the command when no name is given).
class EngineProcess : public ChildProcess {
 public:
  explicit EngineProcess(const std::string& command, std::string name = {})
      : ChildProcess(command, name, "The chess engine " + (name.empty() ? command : name)) {}
};

}  // namespace ai_players::engine
