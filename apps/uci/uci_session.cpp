#include "uci/uci_session.h"

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/personas/safe_reply.h"
#include "game/numbers.h"
#include "players/library_output.h"
#include "players/measured_ratings.h"

namespace ai_players::app {
namespace {

// A GUI's text in a message: never more than kEchoLimit characters of it.
std::string cut(std::string_view text) {
  if (text.size() <= kEchoLimit) return std::string(text);
  return std::string(text.substr(0, kEchoLimit)) + "...";
}

bool is_executable_file(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace

std::string persona_nearest(const std::vector<PersonaEntry>& entries, int elo) {
  std::string best;
  double best_gap = 0;
  for (const auto& e : entries) {
    if (!e.buildable || e.gang == Gang::Engine) continue;
    const auto measured = measured_rating(e.name);
    const double gap = std::abs((measured ? measured->rating : e.strength) - elo);
    if (best.empty() || gap < best_gap) {
      best = e.name;
      best_gap = gap;
    }
  }
  return best;
}

UciSession::UciSession(std::string persona, std::vector<PersonaEntry> entries, Output output,
                       PersonaSettings settings)
    : output_(std::move(output)),
      entries_(std::move(entries)),
      persona_name_(std::move(persona)),
      settings_(std::move(settings)) {
  for (const auto& e : entries_)
    if (e.name == persona_name_ && e.gang != Gang::Engine) uci_elo_ = e.strength;
  worker_ = std::thread([this] { work(); });
  timer_ = std::thread([this] { timer(); });
}

UciSession::~UciSession() { end(); }

void UciSession::send(const std::string& line) {
  if (!silent_) output_(line);
}

void UciSession::info(std::string_view text) {
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);)
    if (!strip(line).empty()) send("info string " + uci_safe_text(line));
}

std::string UciSession::current_persona() const {
  if (limit_strength_ && limited_persona_) return *limited_persona_;
  return wanted_persona_.value_or(persona_name_);
}

bool UciSession::handle(std::string_view line) {
  const UciCommand command = split_command(line);
  const std::string& cmd = command.name;
  const std::string_view rest = command.args;
  if (cmd.empty()) return true;
  if (cmd == "uci") {
    identify();
  } else if (cmd == "isready") {
    ready();
  } else if (cmd == "ucinewgame") {
    game_ = UciGame{};
    std::lock_guard<std::mutex> lock(mutex_);
    new_game_ = true;
    reseed_ = seed_.has_value();
  } else if (cmd == "setoption") {
    set_option(rest);
  } else if (cmd == "position") {
    try {
      game_ = parse_position(rest);
    } catch (const UserError& e) {
      info(fmt::format("{}; the position is unchanged", cut(e.what())));
    }
  } else if (cmd == "go") {
    go(rest);
  } else if (cmd == "stop") {
    stop();
  } else if (cmd == "ponderhit") {
    ponderhit();
  } else if (cmd == "quit") {
    end();
    return false;
  } else if (cmd != "debug" && cmd != "register") {
    info("unknown command: " + cut(line));
  }
  return true;
}

void UciSession::identify() {
  std::lock_guard<std::mutex> lock(mutex_);
  send("id name " + current_persona());
  send("id author ai_players");
  for (const UciOption& option : options()) send(option_line(option));
  send("uciok");
}

std::vector<UciOption> UciSession::options() const {
  const std::string current = current_persona();
  std::vector<std::string> names;
  int lowest = 0, highest = 0;
  for (const auto& e : entries_) {
    names.push_back(e.name);
    if (e.gang == Gang::Engine) continue;
    lowest = lowest ? std::min(lowest, e.strength) : e.strength;
    highest = std::max(highest, e.strength);
  }
  if (std::find(names.begin(), names.end(), current) == names.end()) names.push_back(current);
  const auto engine = settings_.engine ? settings_.engine : engine::find_engine(false);
  const long long timeout = settings_.engine_timeout ? settings_.engine_timeout->count() / 1000 : 0;
  return {UciOption::combo("Persona", current, names),
          UciOption::text("Engine", engine.value_or("")),
          UciOption::spin("Engine Timeout", timeout, 0, 3600),
          UciOption::spin("Threads", 1, 1, 1024),
          UciOption::spin("Hash", 16, 1, 33554432),
          UciOption::check("Ponder", false),
          UciOption::spin("Move Overhead", move_overhead_.count(), 0, 5000),
          UciOption::spin("MultiPV", 1, 1, 500),
          UciOption::check("UCI_LimitStrength", limit_strength_),
          UciOption::spin("UCI_Elo", std::clamp(uci_elo_, lowest, highest), lowest, highest),
          UciOption::text("Seed", seed_ ? std::to_string(*seed_) : "random")};
}

void UciSession::set_option(std::string_view args) {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    const SetOption set = parse_setoption(args);
    const std::vector<UciOption> known = options();
    const UciOption* option = find_option(known, set.name);
    if (!option) return info("unknown option: " + cut(set.name));
    // Persona also takes names the list leaves out ("HOUD20c:1500"); its own reading checks them.
    apply_option(option->name, option->name == "Persona" ? set.value : checked_value(*option, set.value));
  } catch (const UserError& e) {
    info(fmt::format("{}; the option is unchanged", cut(e.what())));
  }
}

// The value is one the option takes; the caller holds mutex_.
void UciSession::apply_option(const std::string& name, const std::string& value) {
  if (name == "Persona") {
    wanted_persona_ = playable_persona_name(value);
  } else if (name == "Engine") {
    if (!value.empty() && !is_executable_file(value))
      throw UserError(fmt::format("the engine {} is not an executable file", cut(value)));
    settings_.engine = value.empty() ? std::nullopt : std::optional(value);
    rebuild_ = true;
  } else if (name == "Engine Timeout") {
    settings_.engine_timeout.reset();
    if (value != "0") settings_.engine_timeout = std::chrono::seconds(std::stoll(value));
  } else if (name == "Move Overhead") {
    move_overhead_ = std::chrono::milliseconds(std::stoll(value));
  } else if (name == "UCI_LimitStrength" || name == "UCI_Elo") {
    if (name == "UCI_LimitStrength") limit_strength_ = value == "true";
    else uci_elo_ = std::stoi(value);
    limited_persona_.reset();
    if (limit_strength_) {
      limited_persona_ = persona_nearest(entries_, uci_elo_);
      info(fmt::format("UCI_Elo {}: playing as {}", uci_elo_, *limited_persona_));
    }
  } else if (name == "Seed") {
    seed_.reset();
    if (lower(value) != "random" && !value.empty()) seed_ = read_seed(value, "Seed");
    reseed_ = seed_.has_value();
  }
  // Threads, Hash, MultiPV and Ponder are taken so that GUIs may send them; a
  // persona keeps its own engine settings, and pondering is the GUI's business.
}

void UciSession::go(std::string_view args) {
  GoRequest request;
  try {
    request = parse_go(args, game_.position.side_to_move);
  } catch (const UserError& e) {
    info(fmt::format("{}; searching without a time limit", cut(e.what())));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  request.clock.overhead = move_overhead_;
  if (held_bestmove_) send("bestmove " + *std::exchange(held_bestmove_, std::nullopt));
  if (running_ && hold_) {
    // A new search ends the one waiting for stop.
    hold_ = false;
    if (live_persona_) live_persona_->interrupt();
  }
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
      if (!job.go.infinite && !job.go.ponder)
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
  bool rebuild;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reseed_) ai_players::seed(*seed_);
    reseed_ = false;
    wanted = current_persona();
    settings = settings_;
    rebuild = std::exchange(rebuild_, false);
    if (std::exchange(new_game_, false) && persona_) start_new_game(*persona_);
  }
  if (rebuild || wanted != built_name_) {
    try {
      auto fresh = make_persona(wanted, settings);
      persona_ = std::move(fresh);
      built_name_ = wanted;
    } catch (const std::exception& e) {
      info(fmt::format("cannot build {}: {}{}", wanted, cut(failure_text(e)),
                       persona_ ? "; keeping " + built_name_ : ""));
      std::lock_guard<std::mutex> lock(mutex_);
      if (wanted_persona_ == wanted) wanted_persona_.reset();
      if (persona_) persona_name_ = built_name_;
    }
  }
  if (persona_) persona_->engine_timeout = settings.engine_timeout;
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
