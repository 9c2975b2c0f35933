// Shared helpers for the tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/engine/ai_basic.h"
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

// Collects the lines that go to a sink (echo or bugprint) while alive.
template <class ScopedSink>
class CaptureLines {
 public:
  CaptureLines() : sink_([this](std::string_view s) { lines.emplace_back(s); }) {}
  std::vector<std::string> lines;

 private:
  ScopedSink sink_;  // neither copyable nor movable, and so neither is the capture
};
using CaptureEcho = CaptureLines<ai_players::common::ScopedEchoSink>;
using CaptureBugprint = CaptureLines<ai_players::ScopedBugprintSink>;

// The position after `moves` (coordinates, space-separated) from `fen`, and
// the moves that led there.
struct Position {
  explicit Position(const std::string& moves = "", std::string_view fen = ai_players::common::FEN_New_Game);
  ai_players::board::Board board;
  ai_players::board::MoveList history;
  ai_players::board::MoveList legal() const { return board.legal_moves(); }
};

// Puts the player where a reply request would: on the position after `moves`
// (coordinates, space-separated) from `fen`, with its legal moves and sides.
void place(ai_players::AI_BASIC& p, const std::string& fen, const std::string& moves = "");

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

// `text` with every `from` replaced by `to` (a temporary path by a fixed name, say).
std::string replace_all(std::string text, const std::string& from, const std::string& to);

// PGN text with every Date tag's value replaced by "-": a played game's date is today's.
std::string dateless(const std::string& pgn);

// How many times `part` stands in `text` (overlaps included).
int count_of(const std::string& text, const std::string& part);

// Whether done() comes true within `limit`, asked every 10 ms: the one bounded wait of the tests.
template <class F>
bool eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string read_file(const std::string& path);
// Checks `text` against tests/expected/<name>, a file a person has read once;
// with AI_PLAYERS_BLESS=1 the file is written from `text` instead.
void expect_as_in_file(const std::string& name, const std::string& text);
void write_file(const std::string& path, const std::string& text);
// `text` (a shell script, say) as a file its owner may run.
void write_executable(const std::string& path, const std::string& text);
// <dir>/<name>: an executable running the scripted engine (fake-uci-engine) on
// `script`, appending what it receives to `log` when one is given.
std::string scripted_engine_file(const TempDir& dir, const std::string& name, const std::string& script,
                                 const std::string& log = "");

// The processes below `root` (children, theirs, ...), found through /proc.
std::vector<pid_t> descendants(pid_t root);
// Whether `pid` is gone (or a zombie) by `limit`, looking every 20 ms.
bool ends_within(pid_t pid, std::chrono::milliseconds limit);

inline const char* fake_engine_path() { return FAKE_ENGINE_PATH; }
inline const char* cli_path() { return AI_PLAYERS_CLI_PATH; }
inline const char* stockfish_path() { return "/usr/games/stockfish"; }

}  // namespace testing_support
