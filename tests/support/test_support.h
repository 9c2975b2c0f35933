// Shared helpers for the tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/host/common.h"

namespace testing_support {

// Sets (or unsets) an environment variable while alive.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Collects what goes to echo (and bugprint) while alive, instead of stdout.
class CaptureEcho {
 public:
  CaptureEcho();
  std::vector<std::string> lines;
  CaptureEcho(const CaptureEcho&) = delete;
  CaptureEcho& operator=(const CaptureEcho&) = delete;

 private:
  ai_players::common::ScopedEchoSink sink_;
};

class CaptureBugprint {
 public:
  CaptureBugprint();
  std::vector<std::string> lines;
  CaptureBugprint(const CaptureBugprint&) = delete;
  CaptureBugprint& operator=(const CaptureBugprint&) = delete;

 private:
  ai_players::ScopedBugprintSink sink_;
};

// A fresh, empty temporary directory, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

 private:
  std::string path_;
};

// The message of the E that f() throws, or "no error".
template <class E, class F>
std::string error_of(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

inline const char* fake_engine_path() { return FAKE_ENGINE_PATH; }
inline const char* cli_path() { return AI_PLAYERS_CLI_PATH; }
inline const char* stockfish_path() { return "/usr/games/stockfish"; }

}  // namespace testing_support
