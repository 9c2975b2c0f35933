// A UCI engine running as a child process, talking over two pipes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "ai_players/engine/line_channel.h"

namespace ai_players::engine {

// Owns the child: destroying the object closes the pipes, gives the engine a
// moment to exit on its own, then kills and reaps it. The child also gets
// SIGKILL when the thread that started it ends (the host died), so no engine
// outlives its host. Never raises SIGPIPE in the host and never touches
// process-wide signal handling.
class EngineProcess : public LineChannel {
 public:
  // Runs `/bin/sh -c command` with stdin and stdout on new pipes; stderr
  // stays the host's. `name` is what messages call the engine (the command
  // when empty). Throws EngineError when the process cannot be made.
  explicit EngineProcess(const std::string& command, std::string name = {});
  ~EngineProcess() override;
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  void write(std::string_view bytes) override;
  // The pipe is unbuffered on our side; kept for the shape of the dialogue.
  void flush() {}
  std::optional<std::string> read_line(std::optional<Clock::time_point> until = std::nullopt) override;
  void wake() override;
  void terminate() override;
  void kill() override;
  const std::string& name() const override { return name_; }

  // A read that waits at most `timeout`; throws EngineTimeout when it passes.
  std::string read_line_within(std::chrono::milliseconds timeout);

  const std::string& command() const { return command_; }
  pid_t pid() const { return pid_; }

 private:
  std::string command_;
  std::string name_;
  std::atomic<pid_t> pid_{-1};
  int to_engine_ = -1;
  int from_engine_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string buffer_;
  std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no line feed
  bool eof_ = false;
};

}  // namespace ai_players::engine
