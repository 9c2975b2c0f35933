#include "engine_client/engine_strength.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players::app {

std::vector<std::string> engine_option_lines(const engine::EngineConfig& config,
                                             std::chrono::milliseconds patience) {
  if (!config.path) throw EngineError("no chess engine was found to ask for its strengths");
  const std::string& name = *config.path;
  const std::string command = "exec " + engine::shell_quote(name);
  std::unique_ptr<engine::LineChannel> channel =
      config.launch ? config.launch(command, name) : std::make_unique<engine::EngineProcess>(command, name);
  channel->write("uci\n");
  const auto until = engine::Clock::now() + patience;
  std::vector<std::string> options;
  for (;;) {
    const std::optional<std::string> line = channel->read_line(until);
    // The deadline holds for an engine that talks without end as well.
    if (!line || engine::Clock::now() >= until) {
      if (!line && engine::Clock::now() < until) continue;  // woken early
      throw EngineTimeout(fmt::format("The chess engine {} did not answer \"uci\" with \"uciok\" within {:g} s",
                                      name, patience.count() / 1000.0));
    }
    if (line->empty()) throw EngineError("The chess engine " + name + " stopped: its output ended before \"uciok\"");
    const auto words = engine::split_tokens(*line);
    if (words.empty()) continue;
    if (words[0] == "uciok") break;
    if (words[0] == "option") options.push_back(strip(*line));
  }
  channel->write("quit\n");
  return options;
}

std::optional<EloRange> elo_range_of(const std::vector<std::string>& option_lines) {
  for (const std::string& line : option_lines) {
    const auto w = engine::split_tokens(line);
    if (w.size() < 3 || w[1] != "name" || w[2] != "UCI_Elo") continue;
    const auto value = [&w](const char* key) {
      const auto at = std::find(w.begin(), w.end(), key);
      try {
        return at != w.end() && at + 1 != w.end() ? engine::to_int_strict(*(at + 1), key) : 0;
      } catch (const Error&) {
        return 0;
      }
    };
    const EloRange range{value("min"), value("max")};
    if (range.min > 0 && range.max >= range.min) return range;
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<EloRange> engine_elo_range(const engine::EngineConfig& config, std::chrono::milliseconds patience) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<EloRange>> known;
  const std::lock_guard lock(mutex);
  const std::string key = config.path.value_or("");
  if (const auto at = known.find(key); at != known.end()) return at->second;
  return known[key] = elo_range_of(engine_option_lines(config, patience));
}

int playable_elo(int asked, const std::optional<EloRange>& range) {
  if (!range) return asked;
  const int lo = (range->min + 9) / 10 * 10, hi = range->max / 10 * 10;
  if (lo > hi) return asked;
  return std::clamp(asked, lo, hi);
}

}  // namespace ai_players::app
