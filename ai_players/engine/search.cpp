#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/platform.h"
#include "ai_players/engine/uci_tokens.h"
#include "ai_players/core/text.h"

namespace ai_players {

namespace {

double wall_seconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%1.*f", decimals, value);
  return buf;
}

std::string join(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

void replace_all(std::string& s, std::string_view from, std::string_view to) {
  for (auto p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
}

}  // namespace

std::vector<Analysis> AI_BASIC::obtain_engine_thoughts(int multipv, int depth, std::optional<long long> nodes,
                                                       std::string_view smoves) {
  require(!nodes || depth == 0);
  if (nodes && *nodes != 0) require(*nodes > 40000);
  multipv = std::min(multipv, static_cast<int>(legalmoves.size()));
  MakeMovesFromStartPos(game_history);

  std::vector<std::string> smoveslist;
  if (!smoves.empty()) {
    smoveslist = engine::split_tokens(smoves);
  } else {
    for (const auto& move : legalmoves) smoveslist.push_back(move->to_coord());
  }

  const bool timed = nodes.has_value() && DEBUG;
  const double t0 = timed ? wall_seconds() : 0;
  depth = o_t_get_depth_(multipv, depth, nodes);
  last_search_depth = depth;
  const double t1 = timed ? wall_seconds() : 0;
  std::vector<Analysis> analyses;
  if (cut_short_ && !probe_lines_.empty()) {
    // Time ran out during the probe: its own lines are the best we have.
    analyses = analyses_of_probe_(multipv, smoveslist);
    if (!analyses.empty()) return analyses;
  }
  analyses = o_t_get_analyses_(multipv, depth, std::move(smoveslist));
  if (!timed) return analyses;

  // A record of searches that took much longer than their budget should.
  const double t2 = wall_seconds();
  if (t2 - t0 > std::min(5.0, static_cast<double>(*nodes) * 3 / 600000)) {
    const int bit = engine::platform().path_exists("c:\\stockfish-222-64-ja-intel.exe") ? 64 : 32;
    const std::string line =
        format_s("\n\nmpv:%s; nodes:%s, depth:%s, t1:%s, t2:%s; t2-t0=%s (%s) (%s) \n(%s)\n%s\n",
                 fixed(multipv, 2), *nodes, depth, fixed(t1 - t0, 2), fixed(t2 - t1, 2), fixed(t2 - t0, 2),
                 fixed((t2 - t0) / (t1 - t0 + 0.01), 1), bit, strip(elines.back()), board.export_FEN());
    bugprint(line);
    std::ofstream out("debug.txt", std::ios::app);
    out << line;
    for (const auto& e : elines) {
      out << strip(e) << '\n';
      bugprint(e);
    }
    out << '\n';
    out.close();
    common::play_sound("admiralty.wav");
  }
  return analyses;
}

std::vector<Analysis> AI_BASIC::o_t_get_analyses_(int multipv, int depth, std::vector<std::string> smoveslist) {
  std::vector<std::string> pvlines;
  writeIntoEngine(format_s("setoption name MultiPV value %s", 1));
  bool emergency_done = false;
  while (static_cast<int>(pvlines.size()) < multipv) {
    // Once the reply is cut short the searches not yet started are skipped;
    // with nothing found yet one depth-1 search (milliseconds) still runs, so
    // that there is a move to choose.
    const bool emergency = cut_short_ || time_is_up_();
    if (emergency) cut_short_ = true;
    if (emergency && (!pvlines.empty() || emergency_done)) break;
    const int d = emergency ? 1 : depth;
    emergency_done = emergency;
    activity = format_s("searching candidate %s of %s at depth %s", pvlines.size() + 1, multipv, d);
    start_search_(format_s("go depth %s %s", d, format_s("searchmoves %s", join(smoveslist))), !emergency);
    std::string curpvline;
    std::string line;
    for (;;) {
      line = next_search_line_();
      if (line.find("bestmove") != std::string::npos) break;
      if (line.find("depth ") != std::string::npos && line.find("score") != std::string::npos) curpvline = line;
    }
    const bool stopped = search_stop_sent_();
    const bool found = !stopped || !curpvline.empty();
    if (found) pvlines.push_back(curpvline);

    const auto tokens = engine::split_tokens(line);
    if (tokens.size() < 2)
      throw EngineError(format_s("The chess engine %s sent a bestmove line without a move: %s", engine->name(),
                                 quoted_excerpt(line)));
    std::string bestmove = tokens[1];
    const auto known = [&](const std::string& m) {
      return std::find(smoveslist.begin(), smoveslist.end(), m) != smoveslist.end();
    };
    if (!known(bestmove)) {
      // Engines sometimes run "bestmove" or "ponder" into the neighbouring token.
      bugprint("debug:bestmove incorrect::", std::vector<std::string>{line}, smoveslist);
      bugprint("fen::", board.export_FEN());
      std::string rebuilt = line;
      replace_all(rebuilt, "bestmove", " bestmove ");
      replace_all(rebuilt, "ponder", " ponder ");
      bestmove = engine::value_after(engine::split_tokens(rebuilt), "bestmove");
      if (!known(bestmove))
        throw EngineError(format_s("The chess engine %s answered a move it was not asked about: %s (bestmove not found)",
                                   engine->name(), quoted_excerpt(line)));
    }
    // A search stopped before its first line found nothing: its move stays a candidate.
    if (found) smoveslist.erase(std::find(smoveslist.begin(), smoveslist.end(), bestmove));
  }
  activity.clear();

  std::vector<std::tuple<int, int, std::vector<std::string>>> results;
  for (const auto& pvline : pvlines) {
    try {
      results.push_back(analyse_engine_outputline_(pvline));
    } catch (const std::exception& e) {
      bad_engine_line_(pvline, e);
    }
  }
  std::stable_sort(results.begin(), results.end(), [](const auto& a, const auto& b) { return a > b; });

  std::vector<Analysis> analyses;
  for (auto& [score, d, pv_list] : results) analyses.emplace_back(score, d, std::move(pv_list));
  return analyses;
}

std::vector<Analysis> AI_BASIC::analyses_of_probe_(int multipv, const std::vector<std::string>& smoveslist) {
  std::vector<std::tuple<int, int, std::vector<std::string>>> results;
  for (const auto& [index, line] : probe_lines_) {
    std::tuple<int, int, std::vector<std::string>> r;
    try {
      r = analyse_engine_outputline_(line);
    } catch (const std::exception& e) {
      bad_engine_line_(line, e);
    }
    const auto& pv = std::get<2>(r);
    if (!pv.empty() && std::find(smoveslist.begin(), smoveslist.end(), pv.front()) != smoveslist.end())
      results.push_back(std::move(r));
  }
  std::stable_sort(results.begin(), results.end(), [](const auto& a, const auto& b) { return a > b; });
  if (static_cast<int>(results.size()) > multipv) results.resize(static_cast<std::size_t>(multipv));
  std::vector<Analysis> analyses;
  for (auto& [score, d, pv_list] : results) analyses.emplace_back(score, d, std::move(pv_list));
  return analyses;
}

}  // namespace ai_players
