// File-system and platform queries used to choose the engine, injectable so
// that tests can drive every branch of the choice.
#pragma once

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


}  // namespace ai_players::engine
