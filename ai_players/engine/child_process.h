// A child process that talks in lines over two pipes: the chess engine, or
// any other program the host runs that way (the tournament's game workers).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ai_players/engine/line_channel.h"

namespace ai_players::engine {

// One descriptor, closed with its owner.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset();

 private:
  int fd_ = -1;
};

// Owns the engine. Between the host and the engine stands a small supervisor
// process of its own: it starts the engine (through /bin/sh, in a process
// group of its own), adopts whatever the engine leaves behind (it is a child
// subreaper, so even processes that start their own session come back to it),
// and holds the read end of a "lifeline" pipe whose write end only this
// object holds. When the object goes, or the host process dies in any way
// (SIGKILL included), the lifeline reads end of file and the supervisor kills
// the engine, its group and every process it adopted, then exits. It does the
// same when the engine exits. So no engine outlives its host, whichever
// thread started it. Once the engine's output has ended the object lets the
// supervisor go at once and reaps it: a finished engine leaves no process.
//
// Destroying the object closes the engine's input first, gives it a moment
// to exit on its own, then cuts the lifeline and reaps the supervisor. Writes
// to a dead engine fail with EngineError, never with SIGPIPE; process-wide
// signal handling is never touched.
class ChildProcess : public LineChannel {
 public:
  // Runs `/bin/sh -c command` with stdin and stdout on new pipes; stderr
  // stays the host's. `name` is what name() gives (the command when empty);
  // `subject` begins every message ("The chess engine stockfish"). Throws
  // EngineError when the process cannot be made.
  ChildProcess(const std::string& command, std::string name, std::string subject);
  ~ChildProcess() override;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits at most write_timeout for an engine that does not read its input.
  void write(std::string_view bytes) override;
  // The pipe is unbuffered on our side; kept for the shape of the dialogue.
  void flush() {}
  std::optional<std::string> read_line(std::optional<Clock::time_point> until = std::nullopt) override;
  void wake() override;
  void terminate() override;
  void kill() override;
  const std::string& name() const override { return name_; }

  // A read that waits at most `timeout`; throws EngineTimeout when it passes
  // and EngineError when the output has ended.
  std::string read_line_within(std::chrono::milliseconds timeout);
  // The same against one deadline for a whole exchange, checked on every
  // line: an engine that keeps talking without saying what is waited for
  // still ends at the deadline.
  std::string read_line_by(Clock::time_point deadline);

  const std::string& command() const { return command_; }
  // The shell that runs the engine (the engine itself for "exec ..." commands).
  pid_t pid() const { return engine_pid_; }
  // The supervisor: the host's own child.
  pid_t supervisor_pid() const { return supervisor_; }

  std::chrono::milliseconds write_timeout{10000};

 private:
  std::string command_;
  std::string name_;
  std::string subject_;
  pid_t supervisor_ = -1;
  pid_t engine_pid_ = -1;
  std::atomic<int> lifeline_{-1};
  UniqueFd to_engine_;
  UniqueFd from_engine_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;
  std::string buffer_;
  std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no line feed
  bool eof_ = false;
  bool reaped_ = false;
  void cut_lifeline_();
  // The output has ended: the engine is done, and so is its supervisor.
  void finish_();
  // Waits for the supervisor's exit until `deadline` (none: as long as it takes).
  bool reap_supervisor_(std::optional<Clock::time_point> deadline);
};

// A path quoted for /bin/sh so that blanks and shell characters are taken literally.
std::string shell_quote(std::string_view path);

}  // namespace ai_players::engine
