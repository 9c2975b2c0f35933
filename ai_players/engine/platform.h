// File-system and platform queries used to choose the engine, injectable so
// that tests can drive every branch of the choice; and the engine override.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ai_players::engine {

struct Platform {
  std::function<bool(const std::string&)> path_exists;
  std::function<std::string(const std::string&)> absolute_path;  // symlinks resolved
  std::function<bool(const std::string&)> is_executable;         // by the current user
  std::function<void(const std::string&)> run_shell;             // exit status ignored
  std::string platform_id;                                       // "linux", "win32", ...
};

Platform system_platform();
Platform& platform();  // the process-wide instance, the real system by default

// Replaces the process-wide platform while alive (for tests).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform p);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform saved_;
};

// The engine override: AI_PLAYERS_ENGINE, else the host-set default. For the
// Elo-limited persona AI_PLAYERS_ELO_ENGINE is asked first.
void set_default_engine(std::optional<std::string> path);
std::optional<std::string> engine_override(bool elo_limited);

// A path quoted for /bin/sh so that blanks and shell characters are taken literally.
std::string shell_quote(std::string_view path);

// How long one read may wait for the engine; off (no limit) by default.
void set_default_read_timeout(std::optional<std::chrono::milliseconds> limit);
std::optional<std::chrono::milliseconds> default_read_timeout();

}  // namespace ai_players::engine
