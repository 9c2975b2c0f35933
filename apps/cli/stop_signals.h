// Ctrl-C and SIGTERM taken by a thread of their own (sigwait), so that a
// command can end its games and save what it must before the program exits;
// no signal handler does any work.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace ai_players::app {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread, which every thread
  // started later inherits: make it before any other thread. `on_signal`
  // runs on the watcher thread when one comes.
  explicit StopSignals(std::function<void(int)> on_signal);
  ~StopSignals();  // the watcher ends; the signals stay blocked
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that came; 0 while none did.
  int received() const { return received_; }

 private:
  std::atomic<int> received_{0};
  std::thread watcher_;
};

}  // namespace ai_players::app
