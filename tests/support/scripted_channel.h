// An engine scripted in memory (uci_script.h) behind the library's line
// channel, so that players run in the test's own thread without processes.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/engine/engine_config.h"
#include "support/test_support.h"
#include "support/uci_script.h"

namespace testing_support {

using ai_players::engine::Clock;

// A write runs the script at once and queues the answers, each readable from
// the moment the script's sleeps put it at: a slow engine needs no thread.
class ScriptedChannel : public ai_players::engine::LineChannel {
 public:
  ScriptedChannel(const std::string& script, std::string name,
                  std::function<void(const std::string&)> record);
  void write(std::string_view bytes) override;
  std::optional<std::string> read_line(std::optional<Clock::time_point> until = std::nullopt) override;
  void wake() override;
  void terminate() override { kill(); }
  void kill() override;
  const std::string& name() const override { return name_; }

 private:
  struct Chunk {
    std::string bytes;  // empty: the output ends here
    Clock::time_point ready;
  };
  UciScript script_;
  std::string name_;
  std::function<void(const std::string&)> record_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;
  std::string input_, output_;
  Clock::time_point next_output_{};  // the script's sleeps push this on
  bool hung_ = false, dead_ = false, ended_ = false, eof_ = false, woken_ = false;
};

// A test's scripted engine: the config that makes players use it (a fresh
// channel per start, as a process would be) and what all of them received.
class ScriptedEngine {
 public:
  explicit ScriptedEngine(std::string script = "") : ScriptedEngine(std::vector<std::string>{std::move(script)}) {}
  // The n-th start runs the n-th script (the last one for later starts).
  explicit ScriptedEngine(std::vector<std::string> scripts);
  ai_players::engine::EngineConfig config() const;
  // The lines received so far, without line feeds; those starting with `prefix`.
  std::vector<std::string> received(std::string_view prefix = "") const;
  // How many channels were made.
  int launches() const;

 private:
  struct Log {
    std::mutex mutex;
    std::vector<std::string> lines;
    int launches = 0;
  };
  std::vector<std::string> scripts_;
  std::shared_ptr<Log> log_;
};

// A persona whose own choice the test sets; it counts the calls and keeps the margin asked for.
struct Chooser : ai_players::AI_BASIC {
  using Choice = std::function<ai_players::board::MovePtr(ai_players::AI_BASIC&)>;
  explicit Chooser(const ScriptedEngine& e, Choice f = [](AI_BASIC& p) { return p.legalmoves.back(); })
      : AI_BASIC("Chooser", 100, std::nullopt, e.config()), choose(std::move(f)) {}
  ai_players::board::MovePtr GetReply_(std::optional<double> error_margin) override {
    ++calls, margin_seen = error_margin;
    return choose(*this);
  }
  Choice choose;
  int calls = 0;
  std::optional<double> margin_seen;
};

}  // namespace testing_support
