// A persona speaking UCI: the session behind `ai-players uci`.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/host/board.h"
#include "players/persona_factory.h"
#include "game/time_control.h"
#include "uci/session_engines.h"
#include "uci/uci_protocol.h"

namespace ai_players::app {

// The offered persona whose measured rating is nearest to elo (ties: the
// weaker; a bound counts at its value); personas the calibration has not
// measured are never picked. Empty when none is measured.
std::string persona_nearest(const std::vector<PersonaEntry>& entries, int elo);
// The measured range UCI_Elo spans: the lowest and highest of those ratings.
std::pair<int, int> measured_range(const std::vector<PersonaEntry>& entries);

// The input loop never waits for a reply: replies are computed on a worker
// thread of the session's own, a timer cuts them short when their budget runs
// out, and `isready`, `stop` and `quit` are answered at once. Whatever the
// engine does, every `go` with a limit is answered soon after it: when the
// persona has no move by then, the timer answers with the library's fallback
// for a dead engine, a random legal move, and says so.
class UciSession {
 public:
  // Writes one line to the GUI; called from several threads, so it must be
  // safe to call from any of them.
  using Output = std::function<void(const std::string&)>;

  // persona: a name that make_persona knows; the persona is built at the first `go`.
  // entries: the personas offered to the GUI (the buildable ones).
  UciSession(std::string persona, std::vector<PersonaEntry> entries, Output output,
             PersonaSettings settings = {});
  ~UciSession();
  UciSession(const UciSession&) = delete;
  UciSession& operator=(const UciSession&) = delete;

  // Handles one line from the GUI; false once the session is over (`quit`).
  bool handle(std::string_view line);
  // Ends the session at once: a reply being computed is abandoned and its engine killed.
  void end();
  // Ends the session once the replies asked for are given (the input ended).
  void finish();
  // An "info string" line for each line of text (the library's messages),
  // with the words a GUI would read as search fields ("score", "pv", ...) replaced.
  void info(std::string_view text);
  // The personas' running commentary: info strings only after "debug on"
  // (GUIs and adapters show info strings as search lines), else nowhere.
  void chatter(std::string_view text);

 private:
  using Clock = std::chrono::steady_clock;
  struct Job {
    UciGame game;
    GoRequest go;
    bool stopped = false;  // a stop came while it waited in the queue
    bool prepare = false;  // no search: build the persona and its engine (isready)
    std::optional<Clock::time_point> cut_at{};     // the persona's reply is cut short then
    std::optional<Clock::time_point> answer_by{};  // the session answers for it then
    bool answered = false;                       // it did
  };
  // The bestmove and what the GUI is told before it.
  struct Answer {
    std::string move;
    std::vector<std::string> notes;
    std::string result;  // the analysis of the move, as result_info() gives it; empty when there is no move
  };

  // Answers isready once the persona and its engine are built, so that the
  // first go has its whole budget, or after kReadyBound; at once while a
  // search runs. The input is read on meanwhile.
  void ready();
  // The job's times, from `start` (its go, or the ponderhit); the caller holds mutex_.
  void arm(Job& job, Clock::time_point start) const;
  // Every go whose time to be answered has come, and those before it, answered for the persona.
  void answer_overdue(Clock::time_point now);
  void send_readyoks();
  // Whether every go so far has its bestmove (held ones included) and every isready its readyok.
  bool all_answered() const;

  void identify();
  // The options as they stand; the caller holds mutex_.
  std::vector<UciOption> options() const;
  void set_option(std::string_view args);
  void apply_option(const std::string& name, const std::string& value);
  void go(std::string_view args);
  void stop();
  void ponderhit();
  void send(const std::string& line);
  std::string current_persona() const;

  // Worker side.
  void work();
  Answer choose(const Job& job);
  bool ensure_persona();
  // Marks the persona the worker is busy with (null: none), so that stop
  // interrupts it and end abandons it, one being built too.
  void set_live(AI_BASIC* persona, bool starting);
  void timer();

  Output output_;
  SessionEngines engines_;  // before anything that holds an engine
  std::vector<PersonaEntry> entries_;
  UciGame game_;  // touched by the input thread only

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable wake_worker_;
  std::condition_variable wake_timer_;
  std::condition_variable answered_cv_;  // a bestmove or readyok went out
  int pending_readyoks_ = 0;
  Clock::time_point ready_by_;
  std::deque<Job> queue_;
  bool running_ = false;        // a job is being computed
  bool hold_ = false;           // its bestmove waits for stop or ponderhit
  Job current_;                 // the job being computed
  bool current_answered_ = false;  // the session answered for it: its move is dropped
  std::optional<std::string> held_bestmove_;  // computed, waiting for stop or ponderhit
  std::string held_result_;                   // its analysis line, sent with it
  // Sends the held analysis and bestmove, if any; the caller holds the lock.
  void send_held();
  std::optional<Clock::time_point> deadline_;  // when the running job is cut short
  bool ended_ = false;
  std::atomic<bool> silent_{false};  // after quit nothing more goes to the GUI
  std::atomic<bool> debug_{false};   // "debug on": the personas' commentary goes to the GUI too
  bool finishing_ = false;     // the input ended: give the replies asked for, then stop
  bool cut_requested_ = false; // the running job is to be cut short (stop, or its time is up)
  // Settings, applied by the worker before its next job.
  std::string persona_name_;
  std::optional<std::string> wanted_persona_;
  std::optional<std::string> limited_persona_;  // chosen by UCI_Elo while UCI_LimitStrength is on
  bool limit_strength_ = false;
  int uci_elo_ = 1350;
  PersonaSettings settings_;
  bool rebuild_ = false;
  bool new_game_ = false;
  std::optional<std::uint64_t> seed_;
  bool reseed_ = false;
  std::chrono::milliseconds move_overhead_{50};

  // Worker only.
  std::unique_ptr<AI_BASIC> persona_;
  std::string built_name_;
  std::optional<PersonaId> built_id_;  // set with persona_
  AI_BASIC* live_persona_ = nullptr;  // guarded by mutex_: the persona a stop may interrupt
  bool starting_ = false;             // guarded by mutex_: it is being built, its engine starting

  std::thread worker_;
  std::thread timer_;
};

}  // namespace ai_players::app
