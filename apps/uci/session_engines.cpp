#include "uci/session_engines.h"

#include "ai_players/core/errors.h"
#include "ai_players/engine/engine_process.h"

namespace ai_players::app {

// An engine as started, known to the session while it lives.
class SessionEngines::Kept : public engine::LineChannel {
 public:
  Kept(SessionEngines& owner, std::unique_ptr<engine::LineChannel> inner) : owner_(owner), inner_(std::move(inner)) {}
  ~Kept() override {
    const std::lock_guard lock(owner_.mutex_);
    owner_.live_.erase(this);
  }
  void write(std::string_view bytes) override { inner_->write(bytes); }
  std::optional<std::string> read_line(std::optional<engine::Clock::time_point> until) override {
    return inner_->read_line(until);
  }
  void wake() override { inner_->wake(); }
  void terminate() override { inner_->terminate(); }
  void kill() override { inner_->kill(); }
  const std::string& name() const override { return inner_->name(); }

 private:
  SessionEngines& owner_;
  std::unique_ptr<engine::LineChannel> inner_;
};

SessionEngines::Launch SessionEngines::launcher(Launch inner) {
  return [this, inner](const std::string& command, const std::string& name) -> std::unique_ptr<engine::LineChannel> {
    const auto refuse = [&name] {
      return EngineError("The chess engine " + name + " is not started: the session is over");
    };
    {
      const std::lock_guard lock(mutex_);
      if (ended_) throw refuse();
    }
    std::unique_ptr<engine::LineChannel> channel =
        inner ? inner(command, name) : std::make_unique<engine::EngineProcess>(command, name);
    auto kept = std::make_unique<Kept>(*this, std::move(channel));
    const std::lock_guard lock(mutex_);  // released before `kept` goes, which takes it
    if (ended_) throw refuse();          // the session ended while it started
    live_.insert(kept.get());
    return kept;
  };
}

void SessionEngines::kill_all() {
  const std::lock_guard lock(mutex_);
  ended_ = true;
  for (engine::LineChannel* channel : live_) channel->kill();
}

}  // namespace ai_players::app
