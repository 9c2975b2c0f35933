#include "support/scripted_channel.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ai_players/core/errors.h"

namespace testing_support {

using ai_players::EngineError;
using ai_players::engine::kMaxEngineLine;

ScriptedChannel::ScriptedChannel(const std::string& script, std::string name,
                                 std::function<void(const std::string&)> record)
    : script_(script), name_(std::move(name)), record_(std::move(record)) {}

void ScriptedChannel::write(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (dead_) throw EngineError("The chess engine " + name_ + " cannot be written to: Broken pipe");
  input_ += bytes;
  for (std::size_t nl; (nl = input_.find('\n')) != std::string::npos;) {
    const std::string line = input_.substr(0, nl);
    input_.erase(0, nl + 1);
    record_(line);
    if (hung_) continue;
    Clock::time_point at = std::max(Clock::now(), next_output_);
    for (const ScriptStep& step : script_.answer(line)) {
      if (ended_) break;
      switch (step.kind) {
        case ScriptStep::Print: queue_.push_back({step.text, at}); break;
        case ScriptStep::Sleep: at += std::chrono::milliseconds(step.ms); break;
        case ScriptStep::Die:
        case ScriptStep::Quit: dead_ = true; [[fallthrough]];
        case ScriptStep::Close: ended_ = true, queue_.push_back({"", at}); break;
        case ScriptStep::Hang: hung_ = true; break;
      }
      if (hung_) break;
    }
    next_output_ = at;
  }
  changed_.notify_all();
}

std::optional<std::string> ScriptedChannel::read_line(std::optional<Clock::time_point> until) {
  std::unique_lock lock(mutex_);
  // With nothing to come and no deadline only another thread can end the wait.
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    if (std::exchange(woken_, false)) return std::nullopt;
    const auto now = Clock::now();
    while (!eof_ && !queue_.empty() && queue_.front().ready <= now) {
      eof_ = queue_.front().bytes.empty();
      output_ += queue_.front().bytes;
      queue_.pop_front();
    }
    if (const auto nl = output_.find('\n'); nl != std::string::npos) {
      std::string line = output_.substr(0, nl + 1);
      output_.erase(0, nl + 1);
      return line;
    }
    if (output_.size() > kMaxEngineLine)
      throw EngineError("The chess engine " + name_ + " wrote more than " + std::to_string(kMaxEngineLine) +
                        " bytes without ending the line");
    if (eof_) return std::exchange(output_, std::string());
    if (until && now >= *until) return std::nullopt;
    auto wait = queue_.empty() ? give_up : queue_.front().ready;
    if (until) wait = std::min(wait, *until);
    if (queue_.empty() && !until && now >= give_up)
      throw std::logic_error("the scripted engine " + name_ + " has nothing more to say and nobody wakes the reader");
    changed_.wait_until(lock, wait);
  }
}

void ScriptedChannel::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

void ScriptedChannel::kill() {
  std::lock_guard lock(mutex_);
  dead_ = ended_ = eof_ = true;
  queue_.clear();
  changed_.notify_all();
}

ScriptedEngine::ScriptedEngine(std::vector<std::string> scripts)
    : scripts_(std::move(scripts)), log_(std::make_shared<Log>()) {
  for (const auto& s : scripts_) UciScript{s};  // a bad script fails here, not in a player's constructor
}

ai_players::engine::EngineConfig ScriptedEngine::config() const {
  ai_players::engine::EngineConfig config;
  config.path = fake_engine_path();  // an executable the library accepts; never run
  config.launch = [scripts = scripts_, log = log_](const std::string&, const std::string& name) {
    std::lock_guard lock(log->mutex);
    const auto& script = scripts[std::min<std::size_t>(log->launches++, scripts.size() - 1)];
    return std::make_unique<ScriptedChannel>(script, name, [log](const std::string& line) {
      std::lock_guard inner(log->mutex);
      log->lines.push_back(line);
    });
  };
  return config;
}

std::vector<std::string> ScriptedEngine::received(std::string_view prefix) const {
  std::lock_guard lock(log_->mutex);
  std::vector<std::string> out;
  for (const auto& line : log_->lines)
    if (line.starts_with(prefix)) out.push_back(line);
  return out;
}

int ScriptedEngine::launches() const {
  std::lock_guard lock(log_->mutex);
  return log_->launches;
}

}  // namespace testing_support
