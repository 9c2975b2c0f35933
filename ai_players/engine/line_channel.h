// The line-level link to a UCI engine: a child process in real use, a script
// in memory in tests.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ai_players::engine {

using Clock = std::chrono::steady_clock;

class LineChannel {
 public:
  virtual ~LineChannel() = default;

  // Sends bytes; throws EngineError when the engine cannot take them.
  virtual void write(std::string_view bytes) = 0;
  // The next line including its terminator, or "" once the output has ended.
  // Returns none when `until` passes first, or when wake() was called: the
  // caller then decides whether to wait on. Throws EngineError for a line that
  // grows past any sensible length.
  virtual std::optional<std::string> read_line(std::optional<Clock::time_point> until = std::nullopt) = 0;
  // Makes a read_line that waits (or the next one) return none at once. Safe
  // to call from any thread.
  virtual void wake() = 0;
  // Ends the engine for good; later writes fail and reads see the end.
  virtual void terminate() = 0;
  // Kills the engine at once without touching the channel, so that a read
  // waiting in another thread sees the end. Safe to call from any thread.
  virtual void kill() = 0;
  // The engine as people know it: its path as given, not a shell command.
  virtual const std::string& name() const = 0;
};

// Longest engine line taken; past it the engine counts as broken.
inline constexpr std::size_t kMaxEngineLine = 1 << 20;

}  // namespace ai_players::engine
