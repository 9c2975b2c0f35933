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
  ReplyScope reply_scope(*this);  // called on its own, a search is a reply of its own
  if (out_of_time()) {
    // No search starts once time is up; the board still follows the game.
    cut_short_ = true;
    replay_board_(game_history);
    return {};
  }
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
  if (cut_short_) {
    // Time ran out during the probe: its own lines are the candidates.
    std::vector<Analysis> analyses = analyses_of_probe_(multipv, smoveslist);
    last_search_depth = analyses.empty() ? 0 : analyses.front().depth;
    remember_reply_lines_(analyses);
    return analyses;
  }
  std::vector<Analysis> analyses = o_t_get_analyses_(multipv, depth, std::move(smoveslist));
  remember_reply_lines_(analyses);
  if (!timed || cut_short_) return analyses;  // a cut is expected: nothing to record

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
  const auto known = [&](const std::string& m) {
    return std::find(smoveslist.begin(), smoveslist.end(), m) != smoveslist.end();
  };
  while (static_cast<int>(pvlines.size()) < multipv) {
    // Once the reply is cut short the searches not yet started are skipped.
    if (out_of_time()) {
      cut_short_ = true;
      break;
    }
    activity = format_s("searching candidate %s of %s at depth %s", pvlines.size() + 1, multipv, depth);
    start_search_(format_s("go depth %s %s", depth, format_s("searchmoves %s", join(smoveslist))));
    std::string curpvline;
    std::optional<std::string> line;
    while ((line = next_search_line_()) && line->find("bestmove") == std::string::npos)
      if (line->find("depth ") != std::string::npos && line->find("score") != std::string::npos) curpvline = *line;

    if (!line || search_stop_sent_()) {
      // Stopped early: its best line so far is a candidate if it names one
      // still to be searched. Nothing more is searched in this reply.
      try {
        const auto pv = std::get<2>(parse_pv_line_(curpvline));
        if (!pv.empty() && known(pv.front())) pvlines.push_back(curpvline);
      } catch (const Error&) {
        // nothing usable found before the stop
      }
      break;
    }
    pvlines.push_back(curpvline);

    const auto tokens = engine::split_tokens(*line);
    if (tokens.size() < 2)
      throw EngineError(format_s("The chess engine %s sent a bestmove line without a move: %s", engine->name(),
                                 quoted_excerpt(*line)));
    std::string bestmove = tokens[1];
    if (!known(bestmove)) {
      // Engines sometimes run "bestmove" or "ponder" into the neighbouring token.
      bugprint("debug:bestmove incorrect::", std::vector<std::string>{*line}, smoveslist);
      bugprint("fen::", board.export_FEN());
      std::string rebuilt = *line;
      replace_all(rebuilt, "bestmove", " bestmove ");
      replace_all(rebuilt, "ponder", " ponder ");
      bestmove = engine::value_after(engine::split_tokens(rebuilt), "bestmove");
      if (!known(bestmove)) throw Error("bestmove not found!!");
    }
    smoveslist.erase(std::find(smoveslist.begin(), smoveslist.end(), bestmove));
  }
  activity.clear();

  std::vector<std::tuple<int, int, std::vector<std::string>>> results;
  for (const auto& pvline : pvlines) results.push_back(analyse_engine_outputline_(pvline));
  std::stable_sort(results.begin(), results.end(), [](const auto& a, const auto& b) { return a > b; });

  std::vector<Analysis> analyses;
  for (auto& [score, d, pv_list] : results) analyses.emplace_back(score, d, std::move(pv_list));
  return analyses;
}

std::vector<Analysis> AI_BASIC::analyses_of_probe_(int multipv, const std::vector<std::string>& smoveslist) const {
  std::vector<Analysis> analyses;
  for (const auto& [index, a] : probe_lines_)
    if (std::find(smoveslist.begin(), smoveslist.end(), a.pv_list.front()) != smoveslist.end()) analyses.push_back(a);
  std::stable_sort(analyses.begin(), analyses.end(), [](const Analysis& a, const Analysis& b) {
    return std::tie(a.score, a.depth, a.pv_list) > std::tie(b.score, b.depth, b.pv_list);
  });
  if (static_cast<int>(analyses.size()) > multipv) analyses.resize(static_cast<std::size_t>(multipv));
  return analyses;
}

void AI_BASIC::remember_reply_lines_(const std::vector<Analysis>& lines) {
  for (const Analysis& a : lines) {
    if (a.pv_list.empty()) continue;
    const auto known = reply_lines_.find(a.pv_list.front());
    if (known == reply_lines_.end()) reply_lines_.emplace(a.pv_list.front(), a);
    else if (a.depth >= known->second.depth) known->second = a;
  }
}

std::optional<Analysis> AI_BASIC::line_for(std::string_view coord) const {
  const auto it = reply_lines_.find(coord);
  if (it == reply_lines_.end()) return std::nullopt;
  return it->second;
}

void AI_BASIC::require_candidates_(const std::vector<Analysis>& analyses) {
  if (!analyses.empty() || !out_of_time()) return;
  cut_short_ = true;
  throw CutShortError(format_s("%s was cut short before it found a candidate move", Name));
}

}  // namespace ai_players
