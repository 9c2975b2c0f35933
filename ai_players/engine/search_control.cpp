// Keeping searches within the host's time: the watchdog, the host's clock and
// interrupt() all end a search the same way, with "stop".
#include <algorithm>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

void AI_BASIC::interrupt() {
  interrupted_ = true;
  std::lock_guard<std::mutex> lock(engine_mutex_);
  if (engine) engine->wake();
}

void AI_BASIC::clear_interrupt() { interrupted_ = false; }

void AI_BASIC::abandon() {
  abandoned_ = true;
  interrupted_ = true;
  std::lock_guard<std::mutex> lock(engine_mutex_);
  if (engine) engine->kill();
}

void AI_BASIC::begin_request() {
  cut_short_ = false;
  activity.clear();
  if (engine_broken) restart_engine();
}

bool AI_BASIC::time_is_up_() const {
  return interrupted_ || (stop_at && engine::Clock::now() >= *stop_at);
}

void AI_BASIC::start_search_(std::string_view go_command, bool may_cut) {
  writeIntoEngine(go_command);
  go_sent_at_ = engine::Clock::now();
  stop_sent_ = false;
  may_cut_ = may_cut;
  // A search that must run although time is up is a quick one: a short leash.
  watchdog_ = may_cut ? engine_timeout : std::optional(stop_grace);
}

void AI_BASIC::stop_search_(bool cut) {
  if (cut) cut_short_ = true;
  if (stop_sent_) return;
  writeIntoEngine("stop");
  stop_sent_ = true;
  stop_sent_at_ = engine::Clock::now();
}

std::string AI_BASIC::next_search_line_() {
  using engine::Clock;
  for (;;) {
    if (!stop_sent_ && may_cut_ && time_is_up_()) stop_search_(true);
    std::optional<Clock::time_point> until;
    if (stop_sent_) {
      until = stop_sent_at_ + stop_grace;
    } else {
      if (watchdog_) until = go_sent_at_ + *watchdog_;
      if (stop_at && may_cut_) until = until ? std::min(*until, *stop_at) : *stop_at;
    }
    std::optional<std::string> line = engine->read_line(until);
    if (line) {
      if (line->empty()) {
        engine_broken = true;
        throw EngineError(format_s("The chess engine %s stopped: its output ended%s", engine->name(),
                                   activity.empty() ? "" : " while " + activity));
      }
      return *line;
    }
    if (!until || Clock::now() < *until) continue;  // woken: the loop head looks at the interrupt
    if (stop_sent_) {
      {
        std::lock_guard<std::mutex> lock(engine_mutex_);
        engine->terminate();
      }
      engine_broken = true;
      throw EngineTimeout(format_s("The chess engine %s did not answer \"stop\" within %s ms%s; it was killed",
                                   engine->name(), static_cast<long long>(stop_grace.count()),
                                   activity.empty() ? "" : " while " + activity));
    }
    // The watchdog ran out (or the clock): the reply makes do with what it has.
    stop_search_(true);
  }
}

void AI_BASIC::bad_engine_line_(std::string_view line, const std::exception& why) {
  engine_broken = true;  // it may still be searching: the next reply starts afresh
  const std::string reason = dynamic_cast<const AssertionError*>(&why) ? "unexpected tokens" : why.what();
  throw EngineError(format_s("The chess engine %s sent a line that cannot be read (%s): %s", engine_name(),
                             reason, quoted_excerpt(line)));
}

}  // namespace ai_players
