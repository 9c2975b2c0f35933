#include "uci/uci_session.h"

#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/safe_reply.h"
#include "players/library_output.h"

namespace ai_players::app {
namespace {

// A GUI waits for bestmove after stop: an engine that does not answer its own
// stop within this is replaced, and the reply made from what was found.
constexpr std::chrono::milliseconds kStopGrace{700};

// The reply the persona expects to its move, when it knows one (its engine's
// line for that move), so that a GUI can ponder on it; it must be legal.
std::optional<std::string> expected_reply(const AI_BASIC& persona, const UciGame& game, const board::Move& move) {
  std::string coord;
  if (const auto* engine_persona = dynamic_cast<const HOUD20c*>(&persona)) coord = engine_persona->ponder_move;
  for (const Analysis& a : persona.DEBUG_analyses)
    if (coord.empty() && a.pv_list.size() > 1 && a.pv_list[0] == move.to_coord()) coord = a.pv_list[1];
  if (coord.empty()) return std::nullopt;
  board::Board after = game.position;
  after.make_internal_move(move);
  const auto reply = board::find_move(after.legal_moves(), coord);
  if (!reply || reply->to_coord() != coord) return std::nullopt;
  return coord;
}

}  // namespace

void UciSession::go(std::string_view args) {
  GoRequest request;
  try {
    request = parse_go(args, game_.position.side_to_move);
  } catch (const UserError& e) {
    info(fmt::format("{}; searching without a time limit", gui_excerpt(e.what())));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  request.clock.overhead = move_overhead_;
  if (held_bestmove_) send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
  if (running_ && hold_) {
    // A new search ends the one waiting for stop, also one that has not begun.
    hold_ = false;
    if (live_persona_) live_persona_->interrupt();
  }
  for (Job& waiting : queue_)
    if (waiting.go.infinite || waiting.go.ponder) waiting.stopped = true;
  queue_.push_back(Job{game_, request});
  wake_worker_.notify_all();
}

void UciSession::ready() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (running_ || !queue_.empty() || finishing_ || ended_) return send("readyok");
  queue_.push_back(Job{game_, {}, false, true});
  const int ticket = ++prepares_asked_;
  wake_worker_.notify_all();
  // A bound, so that an engine that never starts cannot silence the session.
  prepared_cv_.wait_for(lock, settings_.engine_timeout.value_or(PersonaSettings::kDefaultEngineTimeout),
                        [&] { return prepares_done_ >= ticket || ended_; });
  send("readyok");
}

void UciSession::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Job& job : queue_) job.stopped = true;
  if (running_) {
    hold_ = false;
    cut_requested_ = true;
    if (live_persona_) live_persona_->interrupt();
  } else if (held_bestmove_) {
    send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
  }
}

void UciSession::ponderhit() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Job& job : queue_) job.go.ponder = false;  // not started yet: its clock starts when it does
  if (running_ && running_go_.ponder) {
    // The opponent played the move we pondered on: from now on it is our own clock.
    running_go_.ponder = false;
    hold_ = running_go_.infinite;
    if (const auto budget = move_budget(running_go_.clock)) {
      deadline_ = std::chrono::steady_clock::now() + *budget;
      wake_timer_.notify_all();
    }
  } else if (held_bestmove_) {
    send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
  }
}

void UciSession::work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_worker_.wait(lock, [this] { return ended_ || !queue_.empty() || finishing_; });
      if (ended_ || queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      if (job.prepare) {
        lock.unlock();
        ensure_persona();
        lock.lock();
        ++prepares_done_;
        prepared_cv_.notify_all();
        continue;
      }
      running_ = true;
      cut_requested_ = job.stopped;
      running_go_ = job.go;
      hold_ = (job.go.infinite || job.go.ponder) && !finishing_ && !job.stopped;
      deadline_.reset();
      // An engine persona given the GUI's clock keeps to it itself.
      const bool engine_keeps_time = !job.go.limits.empty() && current_persona().starts_with("HOUD20c");
      if (!job.go.infinite && !job.go.ponder && !engine_keeps_time)
        if (const auto budget = move_budget(job.go.clock)) deadline_ = std::chrono::steady_clock::now() + *budget;
      wake_timer_.notify_all();
    }
    const std::string move = choose(job);
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    deadline_.reset();
    if (ended_) return;
    if (hold_ && !finishing_)
      held_bestmove_ = move;
    else
      send("bestmove " + move);
  }
}

bool UciSession::ensure_persona() {
  std::string wanted;
  PersonaSettings settings;
  bool rebuild, new_game;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reseed_) ai_players::seed(*seed_);
    reseed_ = false;
    wanted = current_persona();
    settings = settings_;
    rebuild = std::exchange(rebuild_, false);
    new_game = std::exchange(new_game_, false);
  }
  if (new_game && persona_ && wanted == built_name_ && !rebuild) {
    try {
      persona_->new_game();
    } catch (const std::exception& e) {
      info(fmt::format("{}'s engine failed at the new game ({}); starting it afresh", built_name_, gui_excerpt(failure_text(e))));
      rebuild = true;
    }
  }
  if (rebuild || wanted != built_name_) {
    try {
      auto fresh = make_persona(wanted, settings);
      fresh->new_game();  // waits for the engine's readyok: its first search starts at once
      persona_ = std::move(fresh);
      built_name_ = wanted;
    } catch (const std::exception& e) {
      info(fmt::format("cannot build {}: {}{}", wanted, gui_excerpt(failure_text(e)),
                       persona_ ? "; keeping " + built_name_ : ""));
      std::lock_guard<std::mutex> lock(mutex_);
      if (wanted_persona_ == wanted) wanted_persona_.reset();
      if (persona_) persona_name_ = built_name_;
    }
  }
  if (persona_) {
    persona_->engine_timeout = settings.engine_timeout;
    persona_->stop_grace = kStopGrace;
  }
  return persona_ != nullptr;
}

std::string UciSession::choose(const Job& job) {
  const board::MoveList legal = job.game.position.legal_moves();
  if (legal.empty()) return "0000";  // the game is over: nothing to play
  const auto any_legal = [&](const std::string& why) {
    info(why + "; playing a random legal move");
    return choice(legal)->to_coord();
  };
  if (!ensure_persona()) return any_legal("no persona to ask");
  // The engine persona lets its engine search within the GUI's own limits.
  if (auto* engine_persona = dynamic_cast<HOUD20c*>(persona_.get()))
    engine_persona->search_limits = job.go.limits.empty() ? HOUD20c::kDefaultSearchLimits : job.go.limits;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    live_persona_ = persona_.get();
    persona_->clear_interrupt();
    persona_->stop_at.reset();
    if (cut_requested_) persona_->interrupt();  // a stop that came before the persona was ready
    if (ended_) persona_->abandon();
  }
  std::string move;
  try {
    const SafeReply reply = reply_safely(*persona_, job.game.history, legal, job.game.start_fen);
    if (!reply.note.empty()) info(reply.note);
    if (reply.cut_short && !reply.fallback) info(built_name_ + "'s reply was cut short by the clock or a stop");
    move = reply.move->to_coord();
    if (const auto ponder = expected_reply(*persona_, job.game, *reply.move)) move += " ponder " + *ponder;
  } catch (const std::exception& e) {
    move = any_legal(failure_text(e));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  live_persona_ = nullptr;
  return move;
}

void UciSession::timer() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ended_) {
    if (!deadline_) {
      wake_timer_.wait(lock);
      continue;
    }
    const auto when = *deadline_;
    if (wake_timer_.wait_until(lock, when) == std::cv_status::timeout && deadline_ == when) {
      deadline_.reset();
      if (running_) {
        cut_requested_ = true;
        if (live_persona_) live_persona_->interrupt();
      }
    }
  }
}

void UciSession::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
    hold_ = false;
    if (held_bestmove_) send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
    if (running_ && live_persona_ && (running_go_.infinite || running_go_.ponder)) live_persona_->interrupt();
    wake_worker_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  end();
}

void UciSession::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ended_) {
      ended_ = true;
      silent_ = true;
      // The engine dies now; a reply waiting for it fails at once.
      if (live_persona_) live_persona_->abandon();
    }
    wake_worker_.notify_all();
    wake_timer_.notify_all();
    prepared_cv_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  if (timer_.joinable()) timer_.join();
  persona_.reset();
}

}  // namespace ai_players::app
