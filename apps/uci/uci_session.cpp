#include "uci/uci_session.h"

#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/safe_reply.h"
#include "players/library_output.h"

namespace ai_players::app {
namespace {

// An engine that does not answer its own stop within this is replaced, and
// the reply made from what was found (the GUI has its move before then).
constexpr std::chrono::milliseconds kStopGrace{700};
// How long after stop_grace the persona may take, once the input ended, before the session answers for it.
constexpr std::chrono::milliseconds kAnswerMargin{150};
// How soon after stop the GUI has its bestmove, whatever the engine does.
constexpr std::chrono::milliseconds kStopAnswer{80};
// How long isready waits for the persona and its engine at most.
constexpr std::chrono::seconds kReadyBound{5};

// The reply the persona expects to its move, when it knows one (the engine
// persona's ponder move, else the line of its analysis for that move), so
// that a GUI can ponder on it; it must be legal.
std::optional<std::string> expected_reply(const PersonaId& id, const AI_BASIC& persona, const UciGame& game,
                                          const std::string& move) {
  std::vector<std::string> line;
  if (const std::string ponder = ponder_move(id, persona); !ponder.empty())
    line = {move, ponder};
  else if (const auto analysis = persona.line_for(move))
    line = analysis->pv_list;
  line = legal_prefix(game.position, line);
  if (line.size() < 2 || line[0] != move) return std::nullopt;
  return line[1];
}


// A search told to end is answered by `by` at the latest.
template <class Job>
void answer_by_then(Job& job, std::chrono::steady_clock::time_point by) {
  if (!job.answer_by || *job.answer_by > by) job.answer_by = by;
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
  const auto now = Clock::now();
  const auto soon = [by = now + kStopAnswer](Job& job) { answer_by_then(job, by); };
  request.clock.overhead = move_overhead_;
  if (held_bestmove_) send_held();
  if (running_ && hold_) {
    // A new search ends the one waiting for stop, also one that has not begun.
    hold_ = false;
    if (live_persona_) live_persona_->interrupt();
    soon(current_);
  }
  for (Job& waiting : queue_) {
    if (waiting.prepare || !(waiting.go.infinite || waiting.go.ponder)) continue;
    waiting.stopped = true;
    soon(waiting);
  }
  Job job{game_, request};
  arm(job, now);
  queue_.push_back(std::move(job));
  wake_worker_.notify_all();
  wake_timer_.notify_all();
}

void UciSession::arm(Job& job, Clock::time_point start) const {
  job.cut_at.reset();
  job.answer_by.reset();
  // The GUI's own limits are the engine persona's to keep.
  const auto takes_limits = [this] {
    const auto id = find_persona(current_persona());
    return id && id->can.search_limits;
  };
  const bool engine_keeps_time = !job.go.limits.empty() && takes_limits();
  const auto times = reply_times(job.go, engine_keeps_time);
  if (!times) return;
  job.cut_at = start + times->own;
  job.answer_by = start + times->answer;
}

void UciSession::ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_ || !queue_.empty() || finishing_ || ended_) return send("readyok");
  queue_.push_back(Job{game_, {}, false, true});
  if (pending_readyoks_++ == 0) ready_by_ = Clock::now() + kReadyBound;
  wake_worker_.notify_all();
  wake_timer_.notify_all();
}

void UciSession::send_readyoks() {
  for (; pending_readyoks_ > 0; --pending_readyoks_) send("readyok");
  answered_cv_.notify_all();
}

void UciSession::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto soon = [by = Clock::now() + kStopAnswer](Job& job) { answer_by_then(job, by); };
  for (Job& job : queue_) {
    if (job.prepare) continue;
    job.stopped = true;
    soon(job);
  }
  if (running_) {
    hold_ = false;
    cut_requested_ = true;
    if (live_persona_) live_persona_->interrupt();
    soon(current_);
  } else if (held_bestmove_) {
    send_held();
  }
  wake_timer_.notify_all();
}

void UciSession::ponderhit() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = Clock::now();
  // The opponent played the move we pondered on: from now on it is our own clock.
  for (Job& job : queue_) {
    if (!job.go.ponder || job.stopped) continue;
    job.go.ponder = false;
    arm(job, now);
  }
  if (running_ && current_.go.ponder) {
    current_.go.ponder = false;
    hold_ = current_.go.infinite;
    arm(current_, now);
    deadline_ = current_.cut_at;
  } else if (held_bestmove_) {
    send_held();
  }
  wake_timer_.notify_all();
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
        send_readyoks();
        continue;
      }
      running_ = true;
      current_ = job;
      current_answered_ = false;
      cut_requested_ = job.stopped;
      hold_ = (job.go.infinite || job.go.ponder) && !finishing_ && !job.stopped;
      deadline_ = job.cut_at;
      wake_timer_.notify_all();
    }
    const Answer answer = choose(job);
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    deadline_.reset();
    if (ended_) return;
    if (!current_answered_) {  // else the session answered in its place
      for (const std::string& note : answer.notes) info(note);
      if (hold_ && !finishing_) {
        // The analysis goes out with its move: a GUI reads it as the search's last word.
        held_result_ = answer.result;
        held_bestmove_ = answer.move;
      } else {
        if (!answer.result.empty()) send(answer.result);
        send("bestmove " + answer.move);
      }
    }
    answered_cv_.notify_all();
  }
}

void UciSession::send_held() {
  if (!held_bestmove_) return;
  if (!held_result_.empty()) send(std::exchange(held_result_, std::string()));
  send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
}

void UciSession::set_live(AI_BASIC* persona, bool starting) {
  std::lock_guard<std::mutex> lock(mutex_);
  live_persona_ = persona;
  starting_ = starting;
  if (persona && ended_) persona->abandon();  // quit came while it was made
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
    set_live(persona_.get(), true);
    try {
      persona_->new_game();
    } catch (const std::exception& e) {
      info(fmt::format("{}'s engine failed at the new game ({}); starting it afresh", built_name_, gui_excerpt(failure_text(e))));
      rebuild = true;
    }
    set_live(nullptr, false);
  }
  if (rebuild || wanted != built_name_) {
    try {
      std::unique_ptr<AI_BASIC> fresh;
      std::optional<PersonaId> id;
      {
        struct Unmark {  // before `fresh` can go, however this ends
          UciSession& session;
          ~Unmark() { session.set_live(nullptr, false); }
        } unmark{*this};
        set_live(nullptr, true);  // an engine persona's engine is asked for its strengths first
        id = resolve_persona(wanted);
        fresh = make_persona(*id, settings);
        set_live(fresh.get(), true);
        fresh->new_game();  // waits for the engine's readyok: its first search starts at once
      }
      persona_ = std::move(fresh);
      built_name_ = wanted;
      built_id_ = std::move(id);
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

UciSession::Answer UciSession::choose(const Job& job) {
  const board::MoveList legal = job.game.position.legal_moves();
  if (legal.empty()) return {"0000", {}, {}};  // the game is over: nothing to play
  Answer answer;
  const auto any_legal = [&](const std::string& why) {
    answer.notes.push_back(why + "; playing a random legal move");
    answer.move = choice(legal)->to_coord();
    answer.result = result_info(job.game.position, answer.move, std::nullopt);
    return answer;
  };
  if (!ensure_persona()) return any_legal("no persona to ask");
  // The engine persona lets its engine search within the GUI's own limits;
  // a fixed time per move ends half the reserve before the persona's cut, so
  // that the engine stops by itself and the cut is only there if it does not.
  if (built_id_->can.search_limits) {
    std::string limits = job.go.limits;
    if (const auto times = reply_times(job.go, true); times && job.go.clock.movetime)
      limits = with_movetime(job.go.limits, times->own - (times->answer - times->own) / 2);
    apply_search_limits(*built_id_, *persona_, limits);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    live_persona_ = persona_.get();
    persona_->clear_interrupt();
    persona_->stop_at.reset();
    if (cut_requested_) persona_->interrupt();  // a stop that came before the persona was ready
    if (ended_) persona_->abandon();
  }
  try {
    const SafeReply reply = reply_safely(*persona_, job.game.history, legal, job.game.start_fen);
    if (!reply.note.empty()) answer.notes.push_back(reply.note);
    if (reply.cut_short && !reply.fallback) answer.notes.push_back(built_name_ + "'s reply was cut short by the clock or a stop");
    answer.move = reply.move->to_coord();
    answer.result = result_info(job.game.position, answer.move, persona_->line_for(answer.move));
    if (const auto ponder = expected_reply(*built_id_, *persona_, job.game, answer.move)) answer.move += " ponder " + *ponder;
  } catch (const std::exception& e) {
    any_legal(failure_text(e));
  }
  set_live(nullptr, false);
  return answer;
}

void UciSession::answer_overdue(Clock::time_point now) {
  std::vector<Job*> waiting;  // in the order they were asked
  if (running_ && !current_answered_) waiting.push_back(&current_);
  for (Job& job : queue_)
    if (!job.prepare) waiting.push_back(&job);
  std::size_t due = 0;
  for (std::size_t i = 0; i < waiting.size(); ++i)
    if (waiting[i]->answer_by && *waiting[i]->answer_by <= now) due = i + 1;
  if (due == 0) return;
  send_readyoks();  // an isready asked before them is answered before them
  const std::string who = current_persona();
  for (std::size_t i = 0; i < due; ++i) {
    Job& job = *waiting[i];
    const board::MoveList legal = job.game.position.legal_moves();
    if (legal.empty()) {
      send("bestmove 0000");
    } else {
      info(fmt::format("{} has no move ready: its engine {}; playing a random legal move", who,
                       starting_ ? "is still starting" : "has not answered"));
      const std::string move = choice(legal)->to_coord();
      send(result_info(job.game.position, move, std::nullopt));
      send("bestmove " + move);
    }
    if (&job == &current_) {
      current_answered_ = true;
      hold_ = false;
      cut_requested_ = true;
      if (live_persona_) live_persona_->interrupt();
    } else {
      job.answered = true;
    }
  }
  std::erase_if(queue_, [](const Job& job) { return job.answered; });
  answered_cv_.notify_all();
}

bool UciSession::all_answered() const {
  return pending_readyoks_ == 0 && !(running_ && !current_answered_) &&
         std::none_of(queue_.begin(), queue_.end(), [](const Job& job) { return !job.prepare; });
}

void UciSession::timer() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ended_) {
    const auto now = Clock::now();
    if (deadline_ && now >= *deadline_) {
      deadline_.reset();
      if (running_) {
        cut_requested_ = true;
        if (live_persona_) live_persona_->interrupt();
      }
    }
    if (pending_readyoks_ > 0 && now >= ready_by_) send_readyoks();
    answer_overdue(now);
    std::optional<Clock::time_point> next = deadline_;
    const auto earliest = [&next](std::optional<Clock::time_point> t) {
      if (t && (!next || *t < *next)) next = t;
    };
    if (pending_readyoks_ > 0) earliest(ready_by_);
    if (running_ && !current_answered_) earliest(current_.answer_by);
    for (const Job& job : queue_) earliest(job.answer_by);
    if (next)
      wake_timer_.wait_until(lock, *next);
    else
      wake_timer_.wait(lock);
  }
}

void UciSession::finish() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finishing_ = true;
    hold_ = false;
    if (held_bestmove_) send_held();
    // Searches that wait for a stop get one; the others run to their end. No
    // GUI waits: the persona has until its engine would be replaced.
    const auto by = Clock::now() + kStopGrace + kAnswerMargin;
    if (running_ && (current_.go.infinite || current_.go.ponder)) {
      if (live_persona_) live_persona_->interrupt();
      current_.answer_by = by;
    }
    for (Job& job : queue_) {
      if (job.prepare || !(job.go.infinite || job.go.ponder)) continue;
      job.stopped = true;
      job.answer_by = by;
    }
    wake_worker_.notify_all();
    wake_timer_.notify_all();
    answered_cv_.wait(lock, [this] { return ended_ || all_answered(); });
  }
  end();
}

void UciSession::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ended_) {
      ended_ = true;
      silent_ = true;
      // The engines die now, one being started or asked for its strengths
      // too; a reply waiting for one fails at once.
      if (live_persona_) live_persona_->abandon();
      engines_.kill_all();
    }
    wake_worker_.notify_all();
    wake_timer_.notify_all();
    answered_cv_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  if (timer_.joinable()) timer_.join();
  persona_.reset();
}

}  // namespace ai_players::app
