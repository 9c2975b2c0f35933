#include "cli/stop_signals.h"

#include <csignal>

#include <pthread.h>

namespace ai_players::app {
namespace {

// SIGUSR1 is our own wake-up for a watcher whose command ends without a signal.
sigset_t watched_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> on_signal) {
  const sigset_t set = watched_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  watcher_ = std::thread([this, set, on_signal = std::move(on_signal)] {
    int signal = 0;
    sigwait(&set, &signal);
    if (signal == SIGUSR1) return;
    received_ = signal;
    on_signal(signal);
  });
}

StopSignals::~StopSignals() {
  pthread_kill(watcher_.native_handle(), SIGUSR1);  // no-op wake when a signal already ended it
  watcher_.join();
}

}  // namespace ai_players::app
