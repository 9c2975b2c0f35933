// Which engine a persona runs and how it is reached: a value the host hands
// to the persona, resolved once at the host's edge.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ai_players/engine/line_channel.h"

namespace ai_players::engine {

struct EngineConfig {
  // The engine executable (a path, or a bare name looked up in PATH). None:
  // the library's built-in fixed paths.
  std::optional<std::string> path;
  // Makes the channel for a shell command; none: a child process. Tests hand
  // in an engine scripted in memory here.
  std::function<std::unique_ptr<LineChannel>(const std::string& command, const std::string& name)> launch;
};

// The usual choice for a host: AI_PLAYERS_ELO_ENGINE (for the Elo-limited
// persona only), else AI_PLAYERS_ENGINE, else Debian's /usr/games/stockfish
// when it is installed; none when nothing is found.
std::optional<std::string> find_engine(bool elo_limited = false);

}  // namespace ai_players::engine
