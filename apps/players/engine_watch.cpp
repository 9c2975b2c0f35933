#include "players/engine_watch.h"

#include <charconv>
#include <string>

#include "ai_players/engine/engine_process.h"

namespace ai_players::app {
namespace {

// The engine's channel, passed through, with every line told to the watch.
class WatchedChannel : public engine::LineChannel {
 public:
  WatchedChannel(std::unique_ptr<engine::LineChannel> inner, std::shared_ptr<EngineWatch> watch)
      : inner_(std::move(inner)), watch_(std::move(watch)) {}

  void write(std::string_view bytes) override {
    watch_->sent(bytes);
    inner_->write(bytes);
  }
  std::optional<std::string> read_line(std::optional<engine::Clock::time_point> until) override {
    auto line = inner_->read_line(until);
    if (line) watch_->received(*line);
    return line;
  }
  void wake() override { inner_->wake(); }
  void terminate() override { inner_->terminate(); }
  void kill() override { inner_->kill(); }
  const std::string& name() const override { return inner_->name(); }

 private:
  std::unique_ptr<engine::LineChannel> inner_;
  std::shared_ptr<EngineWatch> watch_;
};

}  // namespace

void EngineWatch::reset() {
  searches_ = 0;
  depth_ = 0;
}

void EngineWatch::sent(std::string_view line) {
  if (!line.starts_with("go")) return;
  ++searches_;
  depth_ = 0;
}

void EngineWatch::received(std::string_view line) {
  constexpr std::string_view key = "info depth ";
  if (!line.starts_with(key)) return;
  line.remove_prefix(key.size());
  int depth = 0;
  if (std::from_chars(line.data(), line.data() + line.size(), depth).ec != std::errc()) return;
  int seen = depth_.load();
  while (depth > seen && !depth_.compare_exchange_weak(seen, depth)) {
  }
}

EngineWatch::Launch EngineWatch::watched(std::shared_ptr<EngineWatch> watch, Launch inner) {
  return [watch, inner](const std::string& command, const std::string& name) -> std::unique_ptr<engine::LineChannel> {
    auto channel = inner ? inner(command, name) : std::make_unique<engine::EngineProcess>(command, name);
    return std::make_unique<WatchedChannel>(std::move(channel), watch);
  };
}

}  // namespace ai_players::app
