// Keeping searches within the host's time: the watchdog, the host's clock,
// the reply's bound and interrupt() all end a search the same way, with
// "stop"; an engine that does not answer it is replaced.
#include <algorithm>
#include <charconv>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

using engine::Clock;

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

AI_BASIC::ReplyScope::ReplyScope(AI_BASIC& persona) : persona_(persona) { persona_.begin_reply_(); }

AI_BASIC::ReplyScope::~ReplyScope() { persona_.end_reply_(); }

void AI_BASIC::begin_reply_() {
  if (reply_depth_++ > 0) return;
  try {
    start_reply_state_();
  } catch (...) {
    --reply_depth_;
    throw;
  }
}

void AI_BASIC::start_reply_state_() {
  cut_short_ = false;
  engine_replaced_ = false;
  engine_trouble.clear();
  activity.clear();
  probe_lines_.clear();
  reply_lines_.clear();
  reply_deadline_.reset();
  if (engine_timeout) reply_deadline_ = Clock::now() + kReplyTimeoutFactor * *engine_timeout;
  if (engine_broken) restart_engine();
}

void AI_BASIC::begin_request() {
  if (reply_depth_ == 0) start_reply_state_();
}

void AI_BASIC::end_reply_() {
  if (--reply_depth_ > 0) return;
  interrupted_ = false;
  reply_deadline_.reset();
}

bool AI_BASIC::out_of_time() const {
  const auto now = Clock::now();
  return (reply_depth_ > 0 && cut_short_) || interrupted_ || (stop_at && now >= *stop_at) ||
         (reply_deadline_ && now >= *reply_deadline_);
}

void engine::SearchWatch::start(bool may_cut_it, const HostControl& host) {
  last_progress = Clock::now();
  best_depth = best_nodes = last_currmove = -1;
  stop_sent = false;
  grace_from.reset();
  may_cut = may_cut_it;
  // A search that must run although time is up is a quick one: a short leash.
  watchdog = may_cut_it ? host.engine_timeout : std::optional(host.stop_grace / 2);
  grace = may_cut_it ? host.stop_grace : host.stop_grace / 2;
}

void engine::SearchWatch::note_progress(std::string_view line) {
  const auto tokens = engine::token_views(line);
  if (tokens.empty() || tokens[0] != "info") return;
  bool progress = false;
  for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
    const std::string_view key = tokens[i];
    long long* best = key == "depth" ? &best_depth : key == "nodes" ? &best_nodes : key == "currmovenumber" ? &last_currmove : nullptr;
    if (!best) continue;
    long long value = 0;
    const std::string_view text = tokens[i + 1];
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) continue;
    // Deeper, more nodes, or on to another move: the engine is getting somewhere.
    if (best == &last_currmove ? value != *best : value > *best) {
      *best = value;
      progress = true;
    }
  }
  if (progress) last_progress = Clock::now();
}

void AI_BASIC::start_search_(std::string_view go_command, bool may_cut) {
  writeIntoEngine(go_command);
  search_.start(may_cut, *this);
}

void AI_BASIC::stop_search_(bool cut) {
  if (cut) cut_short_ = true;
  if (search_.stop_sent) return;
  writeIntoEngine("stop");
  search_.stop_sent = true;
  if (cut || host_bounds_time_()) search_.grace_from = Clock::now();
}

bool AI_BASIC::host_bounds_time_() const { return engine_timeout.has_value() || out_of_time(); }

bool AI_BASIC::search_given_up_() {
  const auto now = Clock::now();
  if (!search_.stop_sent) {
    if ((search_.may_cut && out_of_time()) || search_.starved(now)) stop_search_(true);
    return false;
  }
  // The probe's own "stop" with no limit set: the engine answers when it
  // answers. A limit the host sets meanwhile starts the grace then.
  if (!search_.grace_from && host_bounds_time_()) search_.grace_from = now;
  if (!search_.grace_over(now)) return false;
  give_up_search_();
  return true;
}

std::optional<Clock::time_point> AI_BASIC::search_wake_at_() const {
  if (search_.grace_from) return *search_.grace_from + search_.grace;
  std::optional<Clock::time_point> until;
  const auto earliest = [&until](std::optional<Clock::time_point> t) {
    if (t && (!until || *t < *until)) until = t;
  };
  if (search_.watchdog && !search_.stop_sent) earliest(search_.last_progress + *search_.watchdog);
  if (search_.may_cut || search_.stop_sent) earliest(stop_at), earliest(reply_deadline_);
  return until;
}

std::optional<std::string> AI_BASIC::next_search_line_() {
  for (;;) {
    if (search_given_up_()) return std::nullopt;
    // Checked on every line, not only when the engine is quiet: an engine
    // that floods the pipe meets the same deadlines.
    std::optional<std::string> line = engine->read_line(search_wake_at_());
    if (!line) continue;  // a deadline, or woken by interrupt(): the loop head decides
    if (line->empty()) {
      engine_broken = true;
      throw EngineError(format_s("The chess engine %s stopped: its output ended%s", engine->name(),
                                 activity.empty() ? "" : " while " + activity));
    }
    if (!is_valid_utf8(*line)) {
      engine_broken = true;  // it may still be searching
      throw EngineError(format_s("The chess engine %s wrote a line that is not valid UTF-8 (garbled output): %s",
                                 engine->name(), quoted_excerpt(*line)));
    }
    search_.note_progress(*line);
    return line;
  }
}

void AI_BASIC::give_up_search_() {
  cut_short_ = true;
  engine_replaced_ = true;
  engine_trouble = format_s("The chess engine %s did not answer \"stop\" within %s ms%s; it was killed", engine_name(),
                            static_cast<long long>(search_.grace.count()), activity.empty() ? "" : " while " + activity);
  {
    std::lock_guard<std::mutex> lock(engine_mutex_);
    engine->terminate();
  }
  engine_broken = true;
  if (abandoned_) return;
  // A fresh engine at once, without waiting for it: it starts up while the
  // reply goes on with what was found.
  try {
    launch_engine_();
    engine_started_();
    engine_trouble += " and replaced";
  } catch (const std::exception& e) {
    engine_broken = true;
    engine_trouble += format_s("; a fresh one failed to start: %s", e.what());
  }
}

std::string AI_BASIC::read_checked_line_(std::optional<Clock::time_point> deadline, std::chrono::milliseconds patience) {
  for (;;) {
    if (deadline && Clock::now() >= *deadline) {
      engine_broken = true;
      // Its first answer, to "uci", is the one missing when it never spoke UCI at all.
      const long long ms = patience.count();
      throw EngineTimeout(format_s("The chess engine %s did not answer \"%s\" within %s s", engine_name(),
                                   uci_answered_ ? "isready" : "uci",
                                   ms % 1000 == 0 ? to_text(ms / 1000) : to_text(static_cast<double>(ms) / 1000)));
    }
    std::optional<std::string> line = engine->read_line(deadline);
    if (!line) continue;
    if (line->empty()) {
      engine_broken = true;
      throw EngineError(format_s("The chess engine %s stopped: its output ended while it was asked \"%s\"",
                                 engine_name(), uci_answered_ ? "isready" : "uci"));
    }
    if (!is_valid_utf8(*line)) {
      engine_broken = true;
      throw EngineError(format_s("The chess engine %s wrote a line that is not valid UTF-8 (garbled output): %s",
                                 engine_name(), quoted_excerpt(*line)));
    }
    if (engine::split_tokens(*line) == std::vector<std::string>{"uciok"}) uci_answered_ = true;
    return *line;
  }
}

void AI_BASIC::new_game() {
  board = board::Board();
  start_fen = std::string(common::FEN_New_Game);
  myside = oppside = 0;
  game_history.clear();
  legalmoves.clear();
  elines = {std::string()};
  MasterMove_Depth = 0;
  MasterMove_M_Balance.reset();
  SEE_RANGE = 2;
  SCAN_N = false;
  DEBUG_analyses.clear();
  DEBUG_topD2moves.clear();
  last_search_depth = 0;
  activity.clear();
  engine_trouble.clear();
  probe_lines_.clear();
  reply_lines_.clear();
  cut_short_ = false;
  engine_replaced_ = false;
  interrupted_ = false;
  reset_game_();
  if (engine_broken) restart_engine();
  writeIntoEngine("ucinewgame");
  writeIntoEngine("isready");
  // No limit unless the host set one.
  std::chrono::milliseconds patience{0};
  std::optional<Clock::time_point> deadline;
  if (engine_timeout) {
    patience = std::max<std::chrono::milliseconds>(*engine_timeout, ready_timeout);
    deadline = Clock::now() + patience;
  }
  while (engine::split_tokens(read_checked_line_(deadline, patience)) != std::vector<std::string>{"readyok"}) {
  }
}

MovePtr AI_BASIC::quick_move(bool* searched) {
  require(!legalmoves.empty());
  if (searched) *searched = false;
  if (!engine_broken && !engine_replaced_ && !abandoned_) {
    try {
      MakeMovesFromStartPos(game_history);
      writeIntoEngine("setoption name MultiPV value 1");
      activity = "looking for a quick move (go depth 1)";
      start_search_("go depth 1", false);
      while (const auto line = next_search_line_()) {
        if (line->find("bestmove") == std::string::npos) continue;
        const auto tokens = engine::split_tokens(*line);
        for (const MovePtr& m : legalmoves)
          if (tokens.size() >= 2 && m->to_coord() == tokens[1]) {
            if (searched) *searched = true;
            activity.clear();
            return m;
          }
        break;
      }
    } catch (const EngineError& e) {
      engine_trouble = e.what();
    }
  }
  activity.clear();
  return choice(legalmoves);
}

}  // namespace ai_players
