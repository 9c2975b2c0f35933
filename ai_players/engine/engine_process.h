// A UCI engine running as a child process, talking over two pipes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ai_players::engine {

// Owns the child: destroying the object closes the pipes, gives the engine a
// moment to exit on its own, then kills and reaps it. Never raises SIGPIPE in
// the host and never touches process-wide signal handling.
class EngineProcess {
 public:
  // Runs `/bin/sh -c command` with stdin and stdout on new pipes; stderr
  // stays the host's. Throws EngineError when the process cannot be made.
  explicit EngineProcess(const std::string& command);
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  // Writes all bytes; throws EngineError (with the system's reason) on failure.
  void write(std::string_view bytes);
  // The pipe is unbuffered on our side; kept for the shape of the dialogue.
  void flush();
  // The next line including its terminator, or "" at the end of the stream.
  // With a timeout, throws EngineTimeout when no whole line comes in time.
  std::string read_line(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  const std::string& command() const { return command_; }
  pid_t pid() const { return pid_; }

 private:
  std::string command_;
  pid_t pid_ = -1;
  int to_engine_ = -1;
  int from_engine_ = -1;
  std::string buffer_;
  std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no line feed
  bool eof_ = false;
};

}  // namespace ai_players::engine
