#include "engine_strength.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

#include "ai_players/engine/engine_process.h"
#include "ai_players/engine/platform.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players::app {

namespace {

std::optional<EloRange> ask_engine(const std::string& path) {
  try {
    engine::EngineProcess process("exec " + engine::shell_quote(path), path);
    process.write("uci\n");
    for (;;) {
      const std::string line = process.read_line_within(std::chrono::seconds(5));
      if (line.empty()) return std::nullopt;
      const auto w = engine::split_tokens(line);
      if (!w.empty() && w[0] == "uciok") return std::nullopt;
      if (w.size() >= 3 && w[0] == "option" && w[1] == "name" && w[2] == "UCI_Elo") {
        const auto value = [&w](const char* key) {
          const auto at = std::find(w.begin(), w.end(), key);
          return at != w.end() && at + 1 != w.end() ? std::stoi(*(at + 1)) : 0;
        };
        EloRange range{value("min"), value("max")};
        process.write("quit\n");
        if (range.min > 0 && range.max >= range.min) return range;
        return std::nullopt;
      }
    }
  } catch (const std::exception&) {
    return std::nullopt;  // no engine to ask, or a strange one: nothing known
  }
}

}  // namespace

std::optional<EloRange> engine_elo_range(const std::string& engine_path) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<EloRange>> known;
  std::lock_guard<std::mutex> lock(mutex);
  const auto at = known.find(engine_path);
  if (at != known.end()) return at->second;
  return known[engine_path] = ask_engine(engine_path);
}

int playable_elo(int asked, const std::optional<EloRange>& range) {
  if (!range) return asked;
  const int lo = (range->min + 9) / 10 * 10, hi = range->max / 10 * 10;
  if (lo > hi) return asked;
  return std::clamp(asked, lo, hi);
}

}  // namespace ai_players::app
