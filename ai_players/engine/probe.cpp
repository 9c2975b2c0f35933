#include <algorithm>
#include <cstdlib>
#include <string>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

namespace {

// What the probe reads from a "multipv 1" line with depth, nodes and pv.
struct ProbeLine {
  long long nodes = 0, absscore = 0, nps = 0;
  int depth = 0, len_pv = 0;
};

ProbeLine read_probe_line(const std::string& line) {
  using namespace engine;
  const auto tokens = split_tokens(line);
  ProbeLine p;
  p.nodes = to_int64_strict(value_after(tokens, "nodes"), "nodes");
  p.depth = to_int_strict(value_after(tokens, "depth"), "depth");
  p.len_pv = static_cast<int>(tokens.size() - index_of(tokens, "pv") - 1);
  p.absscore = line.find("mate") != std::string::npos ? common::MATE
                                                      : std::llabs(to_int64_strict(value_after(tokens, "cp"), "cp"));
  p.nps = to_int64_strict(value_after(tokens, "nps"), "nps");
  return p;
}

}  // namespace

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
  activity = format_s("probing for a depth with a budget of %s nodes", *nodes);
  probe_lines_.clear();
  start_search_("go infinite");
  bool isStopped = false;

  // No line: the engine did not answer "stop" and is gone; the probe's lines are what the reply has.
  for (std::optional<std::string> got; (got = next_search_line_());) {
    const std::string& line = *got;
    if (DEBUG && line.find(" multipv 1 ") != std::string::npos) elines.push_back(line);
    if (line.find("bestmove") != std::string::npos) break;
    if (search_stop_sent_()) isStopped = true;  // cut short by the clock or the host
    if (isStopped) continue;
    remember_probe_line_(line);
    if (line.find("multipv 1") == std::string::npos || line.find("depth ") == std::string::npos ||
        line.find("nodes") == std::string::npos || line.find("pv") == std::string::npos)
      continue;

    ProbeLine probe;
    try {
      probe = read_probe_line(line);
    } catch (...) {
      engine_broken = true;  // still searching: the next reply starts a fresh engine
      throw;
    }
    const long long curnodes = probe.nodes, absscore = probe.absscore, nps = probe.nps;
    const int curdepth = probe.depth, len_pv = probe.len_pv;

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
      stop_search_(false);
      isStopped = true;
    }
  }
  activity.clear();
  return std::min(depth - 1, 30);
}

void AI_BASIC::remember_probe_line_(const std::string& line) {
  using namespace engine;
  const auto tokens = split_tokens(line);
  const auto at = std::find(tokens.begin(), tokens.end(), "multipv");
  if (at == tokens.end() || at + 1 == tokens.end() || std::find(tokens.begin(), tokens.end(), "score") == tokens.end())
    return;
  try {
    auto [score, depth, pv] = parse_pv_line_(line);
    if (!pv.empty()) probe_lines_[to_int_strict(*(at + 1), "multipv")] = Analysis(score, depth, std::move(pv));
  } catch (const Error&) {
    // not a principal variation; the probe's own rules judge the line
  }
}

}  // namespace ai_players
