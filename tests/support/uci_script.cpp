#include "support/uci_script.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace {

std::vector<std::string> split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

ScriptStep say(const std::string& line) { return {ScriptStep::Print, line + "\n"}; }

}  // namespace

UciScript::UciScript(const std::string& script) {
  std::istringstream in(script);
  for (std::string raw; std::getline(in, raw);) {
    const auto start = raw.find_first_not_of(" \t");
    const std::string line = start == std::string::npos ? "" : raw.substr(start);
    if (line.empty() || line[0] == '#') continue;
    const auto bad = [&] { throw std::invalid_argument("bad script line: " + raw); };
    if (line[0] == '>') {
      if (blocks_.empty()) bad();
      const bool no_feed = line.starts_with(">>");
      std::string text = line.substr(no_feed ? 2 : 1);
      if (text.starts_with(' ')) text.erase(0, 1);
      blocks_.back().steps.push_back({ScriptStep::Print, no_feed ? text : text + "\n"});
      continue;
    }
    const auto words = split(line);
    const std::string& cmd = words[0];
    static const std::vector<std::string> actions = {"die", "close", "hang"};
    if (cmd == "on" && words.size() >= 2) {
      blocks_.push_back({{words.begin() + 1, words.end()}, {}});
    } else if (cmd == "sleep" && words.size() == 2 && !blocks_.empty()) {
      blocks_.back().steps.push_back({ScriptStep::Sleep, "", std::stol(words[1])});
    } else if (std::ranges::count(actions, cmd) && !blocks_.empty()) {
      const auto kind = cmd == "die" ? ScriptStep::Die : cmd == "close" ? ScriptStep::Close : ScriptStep::Hang;
      blocks_.back().steps.push_back({kind, ""});
    } else if (cmd == "linger") {
      linger_ = true;
    } else if (cmd == "newgame-resets") {
      newgame_resets_ = true;
    } else if (cmd == "default-score" && words.size() == 2) {
      default_score_ = std::stol(words[1]);
    } else if (cmd == "score" && words.size() >= 3) {
      const bool mate = words[2] == "mate";
      if (mate && words.size() < 4) bad();
      const std::size_t at = mate ? 3 : 2;
      scores_.push_back({words[1], mate, std::stol(words[at]), {words.begin() + static_cast<long>(at) + 1, words.end()}});
    } else {
      bad();
    }
  }
}

long long UciScript::Score::rank() const {
  const long long big = 1'000'000'000LL;
  if (!mate) return value;
  return value > 0 ? big - value : -big - value;
}

std::vector<ScriptStep> UciScript::answer(const std::string& line) {
  const auto words = split(line);
  if (newgame_resets_ && !words.empty() && words[0] == "ucinewgame")
    for (Block& b : blocks_) b.used = false;
  for (Block& b : blocks_) {
    if (b.used || b.prefix.size() > words.size() || !std::equal(b.prefix.begin(), b.prefix.end(), words.begin()))
      continue;
    b.used = true;
    if (words[0] == "stop") searching_ = false;  // the block answers the stop
    return b.steps;
  }
  if (words.empty()) return {};
  const std::string& cmd = words[0];
  if (cmd == "uci") return {say("id name FakeEngine"), say("uciok")};
  if (cmd == "isready") return {say("readyok")};
  if (cmd == "quit") return {{ScriptStep::Quit, ""}};
  if (cmd == "go") return go(words);
  if (cmd == "stop" && searching_) {
    searching_ = false;
    return {say("bestmove " + infinite_move_)};
  }
  return {};
}

std::vector<ScriptStep> UciScript::go(const std::vector<std::string>& words) {
  std::string depth = "1";
  bool infinite = false, restricted = false;
  std::vector<Score> candidates;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "depth" && i + 1 < words.size()) {
      depth = words[++i];
    } else if (words[i] == "infinite") {
      infinite = true;
    } else if (words[i] == "searchmoves") {
      restricted = true;
      for (++i; i < words.size(); ++i) candidates.push_back(score_of(words[i]));
    }
  }
  if (!restricted) candidates = scores_;
  std::optional<Score> best;
  for (const Score& c : candidates)
    if (!best || c.rank() > best->rank()) best = c;
  if (infinite) {
    searching_ = true;
    infinite_move_ = best ? best->move : "(none)";
    return {say("info depth 12 seldepth 12 multipv 1 score cp 0 nodes 100000000 nps 1000000 pv" +
                (best ? " " + best->move : std::string()))};
  }
  if (!best) return {say("bestmove (none)")};
  std::string pv = best->move;
  for (const auto& r : best->replies) pv += " " + r;
  const std::string score = (best->mate ? "mate " : "cp ") + std::to_string(best->value);
  return {say("info depth " + depth + " seldepth " + depth + " multipv 1 score " + score + " nodes 1000 nps 100000 pv " + pv),
          say("bestmove " + best->move)};
}

UciScript::Score UciScript::score_of(const std::string& move) const {
  for (const Score& s : scores_)
    if (s.move == move) return s;
  return {move, false, default_score_, {}};
}

}  // namespace testing_support
