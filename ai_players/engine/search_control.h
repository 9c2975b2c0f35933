// Search control: how a host keeps a persona's replies within its time, and
// the watchdog of the search that runs. AI_BASIC is a HostControl (so a host
// writes persona.stop_at as before) and keeps one SearchWatch per search;
// search_control.cpp holds the code that uses them.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string_view>

#include "ai_players/engine/line_channel.h"

namespace ai_players::engine {

// What the host sets and asks of a persona to bound its replies.
class HostControl {
 public:
  // The watchdog: a search that reports no progress (no deeper "info depth",
  // no growing "nodes") for this long is told "stop", and the reply makes do
  // with what it has; one that keeps progressing is never cut by it. A whole
  // reply is cut short after kReplyTimeoutFactor times this. None: no limit.
  std::optional<std::chrono::milliseconds> engine_timeout;
  static constexpr int kReplyTimeoutFactor = 10;
  // The least time an engine has to answer "isready" at a new game: one just
  // started, or clearing a big hash, may need seconds, whatever its watchdog.
  std::chrono::milliseconds ready_timeout = std::chrono::seconds(10);
  // The host's clock: searches running at this moment are told "stop", later
  // ones are skipped, and the persona chooses among the candidates found.
  std::optional<Clock::time_point> stop_at;
  // How long a stopped engine may take to send its "bestmove" once the host
  // has set a limit (engine_timeout, stop_at, interrupt()). One that takes
  // longer is killed and a fresh one started (without waiting for it); the
  // reply goes on with what was found. With no limit set, the engine takes
  // as long as it takes, also to answer the probe's own "stop".
  std::chrono::milliseconds stop_grace{2000};

 protected:
  HostControl() = default;
  ~HostControl() = default;
  // Set from any thread: by interrupt() (until the reply ends) and abandon() (for good).
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> abandoned_{false};
};

// The running search's watchdog and its grace to answer "stop".
struct SearchWatch {
  bool may_cut = true;  // the host's clock and the reply's bound may stop it
  std::optional<std::chrono::milliseconds> watchdog;
  bool stop_sent = false;
  std::chrono::milliseconds grace{2000};  // the time to answer "stop"
  Clock::time_point last_progress{};
  long long best_depth = -1, best_nodes = -1, last_currmove = -1;
  // When the stopped search's grace began: none while no limit is set.
  std::optional<Clock::time_point> grace_from;

  // A new search: a search that must run although time is up (may_cut
  // false) is a quick one, with half of stop_grace as its watchdog and half
  // to answer "stop".
  void start(bool may_cut_it, const HostControl& host);
  // Notes an "info" line that shows the engine getting somewhere.
  void note_progress(std::string_view line);
  // Whether the watchdog has run out at `now` (no progress for too long).
  bool starved(Clock::time_point now) const { return watchdog && now >= last_progress + *watchdog; }
  // Whether the grace to answer "stop" has run out at `now`.
  bool grace_over(Clock::time_point now) const { return grace_from && now >= *grace_from + grace; }
};

}  // namespace ai_players::engine
