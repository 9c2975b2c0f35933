#include "ai_players/engine/platform.h"

#include "ai_players/engine/engine_config.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

namespace ai_players::engine {

Platform system_platform() {
  namespace fs = std::filesystem;
  Platform p;
  p.path_exists = [](const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
  };
  p.absolute_path = [](const std::string& path) {
    std::error_code ec;
    auto resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path : resolved.string();
  };
  p.is_executable = [](const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
  };
  p.run_shell = [](const std::string& command) {
    [[maybe_unused]] int status = std::system(command.c_str());
  };
  p.platform_id = "linux";
  return p;
}

Platform& platform() {
  static Platform instance = system_platform();
  return instance;
}

ScopedPlatform::ScopedPlatform(Platform p) : saved_(std::exchange(platform(), std::move(p))) {}
ScopedPlatform::~ScopedPlatform() { platform() = std::move(saved_); }

namespace {
std::optional<std::string> non_empty_env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}
}  // namespace

std::optional<std::string> find_engine(bool elo_limited) {
  if (elo_limited)
    if (auto path = non_empty_env("AI_PLAYERS_ELO_ENGINE")) return path;
  if (auto path = non_empty_env("AI_PLAYERS_ENGINE")) return path;
  constexpr const char* debian = "/usr/games/stockfish";
  if (::access(debian, X_OK) == 0) return std::string(debian);
  return std::nullopt;
}

}  // namespace ai_players::engine
