#include "uci_session.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>

#include "ai_players/engine/engine_config.h"
#include "ai_players/engine/uci_tokens.h"
#include "ai_players/core/random.h"
#include "ai_players/personas/safe_reply.h"
#include "library_output.h"

namespace ai_players::app {
namespace {

using engine::split_tokens;

std::string joined(const std::vector<std::string>& w, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to && i < w.size(); ++i) out += (out.empty() ? "" : " ") + w[i];
  return out;
}

// A GUI's text in a message: never more than kEchoLimit characters of it.
std::string cut(std::string_view text) {
  if (text.size() <= UciSession::kEchoLimit) return std::string(text);
  return std::string(text.substr(0, UciSession::kEchoLimit)) + "...";
}

long long whole_number(const std::string& text, const std::string& what, long long lo, long long hi) {
  long long value = 0;
  std::size_t used = 0;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || value < lo || value > hi)
    throw std::invalid_argument(fmt::format("{} needs a whole number from {} to {}, not '{}'", what, lo, hi, cut(text)));
  return value;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

UciGame parse_position(std::string_view args) {
  const auto w = split_tokens(args);
  const auto moves_at = static_cast<std::size_t>(std::find(w.begin(), w.end(), "moves") - w.begin());
  UciGame game;
  if (w.empty()) throw std::invalid_argument("position needs startpos or fen");
  if (w[0] == "fen") {
    if (moves_at < 2) throw std::invalid_argument("position fen needs a FEN");
    game.start_fen = joined(w, 1, moves_at);
    try {
      game.position = board::Board(game.start_fen);
    } catch (const board::FenError& e) {
      throw std::invalid_argument(fmt::format("bad FEN '{}': {}", game.start_fen, e.what()));
    }
  } else if (w[0] != "startpos" || moves_at != 1) {
    throw std::invalid_argument("position needs startpos or fen <FEN>, then optionally moves");
  }
  for (std::size_t i = moves_at + 1; i < w.size(); ++i) {
    board::MovePtr played;
    for (const auto& m : game.position.legal_moves())
      if (m->to_coord() == w[i]) played = m;
    if (!played)
      throw std::invalid_argument(
          fmt::format("illegal move {} in {}", w[i], game.position.export_FEN()));
    game.position.make_internal_move(*played);
    game.history.push_back(played);
  }
  return game;
}

GoRequest parse_go(std::string_view args, int side_to_move) {
  const auto w = split_tokens(args);
  GoRequest go;
  const bool white = side_to_move == common::WHITE;
  const auto ms = [](const std::string& v, const char* what) {
    // GUIs send negative times when a clock has run out; count them as nothing left.
    return std::chrono::milliseconds(std::max(0LL, whole_number(v, what, -(1LL << 40), 1LL << 40)));
  };
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::string& key = w[i];
    const bool has_value = i + 1 < w.size();
    if (key == "infinite") {
      go.infinite = true;
    } else if (key == "ponder") {
      go.ponder = true;
    } else if (key == "searchmoves") {
      break;  // the moves to the end of the line; a persona chooses among all
    } else if (!has_value) {
      continue;
    } else if (key == (white ? "wtime" : "btime")) {
      go.clock.remaining = ms(w[++i], key.c_str());
    } else if (key == (white ? "winc" : "binc")) {
      go.clock.increment = ms(w[++i], key.c_str());
    } else if (key == "movestogo") {
      go.clock.moves_to_go = static_cast<int>(whole_number(w[++i], "movestogo", 0, 10000));
      if (*go.clock.moves_to_go == 0) go.clock.moves_to_go.reset();
    } else if (key == "movetime") {
      go.clock.movetime = ms(w[++i], "movetime");
    } else if (key == "wtime" || key == "btime" || key == "winc" || key == "binc" || key == "depth" ||
               key == "nodes" || key == "mate") {
      ++i;  // the other side's clock, and limits a persona does not take
    }
  }
  return go;
}

std::string persona_nearest(const std::vector<PersonaEntry>& entries, int elo) {
  std::string best;
  long long best_gap = 0;
  for (const auto& e : entries) {
    if (!e.buildable || e.gang == "engine") continue;
    const long long gap = std::llabs(std::stoll(e.strength) - elo);
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
    if (e.name == persona_name_ && e.gang != "engine") uci_elo_ = std::stoi(e.strength);
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
    if (!line.empty()) send("info string " + line);
}

std::string UciSession::current_persona() const {
  if (limit_strength_ && limited_persona_) return *limited_persona_;
  return wanted_persona_.value_or(persona_name_);
}

bool UciSession::handle(std::string_view line) {
  const auto w = split_tokens(line);
  if (w.empty()) return true;
  const std::string& cmd = w[0];
  const std::string_view rest =
      w.size() > 1 ? line.substr(line.find(w[1], line.find(cmd) + cmd.size())) : std::string_view();
  if (cmd == "uci") {
    identify();
  } else if (cmd == "isready") {
    send("readyok");
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
    } catch (const std::invalid_argument& e) {
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
  } else if (cmd == "debug" || cmd == "register") {
    // Nothing to do.
  } else {
    info("unknown command: " + cut(line));
  }
  return true;
}

void UciSession::identify() {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string current = current_persona();
  send("id name " + current);
  send("id author ai_players");
  std::string combo = "option name Persona type combo default " + current;
  bool listed = false;
  int lowest = 0, highest = 0;
  for (const auto& e : entries_) {
    if (!e.buildable) continue;
    combo += " var " + e.name;
    listed = listed || e.name == current;
    if (e.gang == "engine") continue;
    const int strength = std::stoi(e.strength);
    lowest = lowest ? std::min(lowest, strength) : strength;
    highest = std::max(highest, strength);
  }
  if (!listed) combo += " var " + current;
  send(combo);
  const auto engine = settings_.engine ? settings_.engine : engine::find_engine(false);
  send("option name Engine type string default " + engine.value_or("<empty>"));
  const long long timeout = settings_.engine_timeout ? settings_.engine_timeout->count() / 1000 : 0;
  send(fmt::format("option name Engine Timeout type spin default {} min 0 max 3600", timeout));
  send("option name Threads type spin default 1 min 1 max 1024");
  send("option name Hash type spin default 16 min 1 max 33554432");
  send("option name Ponder type check default false");
  send(fmt::format("option name Move Overhead type spin default {} min 0 max 5000", move_overhead_.count()));
  send("option name MultiPV type spin default 1 min 1 max 500");
  send("option name UCI_LimitStrength type check default false");
  send(fmt::format("option name UCI_Elo type spin default {} min {} max {}", std::clamp(uci_elo_, lowest, highest),
                   lowest, highest));
  send("option name Seed type string default random");
  send("uciok");
}

void UciSession::set_option(std::string_view args) {
  const auto w = split_tokens(args);
  const auto value_at = static_cast<std::size_t>(std::find(w.begin(), w.end(), "value") - w.begin());
  if (w.empty() || w[0] != "name") return info("setoption needs: name <option> value <value>");
  const std::string name = lower(joined(w, 1, value_at));
  const std::string value = joined(w, value_at + 1, w.size());
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    if (name == "persona") {
      try {
        const std::string canonical = canonical_persona_name(value);
        for (const auto& e : entries_)
          if (e.name == canonical && !e.buildable)
            throw PersonaError(fmt::format("persona '{}' cannot be built", canonical));
        wanted_persona_ = canonical;
      } catch (const PersonaError& e) {
        info(fmt::format("{}; keeping {}", cut(e.what()), current_persona()));
      }
    } else if (name == "engine") {
      if (value.empty() || value == "<empty>") {
        settings_.engine.reset();
      } else if (::access(value.c_str(), X_OK) != 0) {
        return info(fmt::format("the engine {} is not an executable file; keeping the current one", cut(value)));
      } else {
        settings_.engine = value;
      }
      rebuild_ = true;
    } else if (name == "engine timeout") {
      const long long seconds = whole_number(value, "Engine Timeout", 0, 3600);
      settings_.engine_timeout.reset();
      if (seconds > 0) settings_.engine_timeout = std::chrono::seconds(seconds);
    } else if (name == "move overhead") {
      move_overhead_ = std::chrono::milliseconds(whole_number(value, "Move Overhead", 0, 5000));
    } else if (name == "threads" || name == "hash" || name == "multipv") {
      // Accepted so that GUIs and bots may send them; a persona keeps its own engine settings.
      whole_number(value, joined(w, 1, value_at), 1, 33554432);
    } else if (name == "ponder") {
      // Whether the GUI will ponder is the GUI's business.
    } else if (name == "uci_limitstrength" || name == "uci_elo") {
      if (name == "uci_limitstrength") limit_strength_ = lower(value) == "true";
      else uci_elo_ = static_cast<int>(whole_number(value, "UCI_Elo", 0, 10000));
      limited_persona_.reset();
      if (limit_strength_) {
        limited_persona_ = persona_nearest(entries_, uci_elo_);
        info(fmt::format("UCI_Elo {}: playing as {}", uci_elo_, *limited_persona_));
      }
    } else if (name == "seed") {
      if (lower(value) == "random" || value.empty()) {
        seed_.reset();
      } else {
        seed_ = static_cast<std::uint64_t>(std::stoull(value));
        if (value.find_first_not_of("0123456789") != std::string::npos || value.size() > 20) throw std::out_of_range("");
      }
      reseed_ = seed_.has_value();
    } else {
      info("unknown option: " + cut(joined(w, 1, value_at)));
    }
  } catch (const std::invalid_argument& e) {
    info(cut(e.what()));
  } catch (const std::out_of_range&) {
    seed_.reset();
    info("Seed needs a whole number from 0 to 18446744073709551615, or random");
  }
}

void UciSession::go(std::string_view args) {
  GoRequest request;
  try {
    request = parse_go(args, game_.position.side_to_move);
  } catch (const std::invalid_argument& e) {
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
  }
  if (worker_.joinable()) worker_.join();
  if (timer_.joinable()) timer_.join();
  persona_.reset();
}

}  // namespace ai_players::app
