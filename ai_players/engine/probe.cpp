#include <algorithm>
#include <cstdlib>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

int AI_BASIC::o_t_get_depth_(int multipv, int depth, std::optional<long long> nodes) {
  using namespace engine;
  if (depth != 0) return depth;
  require(nodes.has_value());
  const double budget = static_cast<double>(*nodes);
  const double MIN_ALLOWED_NODES = budget * 0.9;
  const double MAX_ALLOWED_NODES = budget * 1.25;
  multipv = std::max(2, multipv);
  elines = {std::string()};
  writeIntoEngine(format_s("setoption name MultiPV value %s", multipv));
  writeIntoEngine("go infinite");
  bool isStopped = false;

  for (;;) {
    const std::string line = next_engine_line_();
    if (DEBUG && line.find(" multipv 1 ") != std::string::npos) elines.push_back(line);
    if (line.find("bestmove") != std::string::npos) break;
    if (isStopped) continue;
    if (line.find("multipv 1") == std::string::npos || line.find("depth ") == std::string::npos ||
        line.find("nodes") == std::string::npos || line.find("pv") == std::string::npos)
      continue;

    const auto tokens = split_tokens(line);
    const long long curnodes = to_int64_strict(value_after(tokens, "nodes"), "nodes");
    const int curdepth = to_int_strict(value_after(tokens, "depth"), "depth");
    const int len_pv = static_cast<int>(tokens.size() - index_of(tokens, "pv") - 1);
    const long long absscore = line.find("mate") != std::string::npos
                                   ? common::MATE
                                   : std::llabs(to_int64_strict(value_after(tokens, "cp"), "cp"));
    const long long nps = to_int64_strict(value_after(tokens, "nps"), "nps");

    if (depth < 11 || static_cast<double>(curnodes) < MAX_ALLOWED_NODES)
      depth = std::min(curdepth, std::max(12, len_pv));

    bool stop = false;
    if (static_cast<double>(curnodes) >= MIN_ALLOWED_NODES || (curdepth > 16 && curdepth > len_pv + 2)) {
      stop = true;
    } else if (absscore > 3 * common::Queen && static_cast<double>(curnodes) > budget / 4 &&
               (nps < 125000 || curdepth >= 11)) {
      if (depth == 11) depth = 12;
      bugprint("--- THE-LOW-NODE_OR_HIGH-SCORE ---", *nodes, multipv, static_cast<double>(curnodes) / 1000);
      bugprint(line);
      stop = true;
    }
    if (stop) {
      writeIntoEngine("stop");
      isStopped = true;
    }
  }
  return std::min(depth - 1, 30);
}

}  // namespace ai_players
