// fake-uci-engine: a scripted UCI engine for the tests.
//
// Environment:
//   FAKE_ENGINE_LOG=<file>     every line received is appended to it as received, flushed at once
//   FAKE_ENGINE_SCRIPT=<file>  the script; without one only the default answers are given
//
// Default answers: "uci" -> "id name FakeEngine", "uciok"; "isready" -> "readyok";
// "quit" -> exit 0; end of input -> exit 0 (unless `linger`); "go ..." -> auto mode;
// anything else -> no answer.
//
// Script, one directive per line (blank lines and lines starting with # ignored):
//   on <prefix>      a block answering the next received line whose tokens start with
//                    <prefix>; each block is used once, the earliest unused match wins
//     > text         print text and a line feed (text is raw, may be garbage)
//     >> text        print text without a line feed
//     sleep <ms>     sleep
//     die            exit at once with status 1
//     close          close stdout, keep reading (and logging) input
//     hang           stop reading input and sleep until killed
//   linger           at the end of input sleep until killed instead of exiting
//   score <move> <cp> [<reply> ...]       auto-mode data
//   score <move> mate <n> [<reply> ...]
//   default-score <cp>                   score of moves without a score line (default 0)
//
// Auto mode, for a "go" line no block answers:
//   go depth D [searchmoves m1 m2 ...]: candidates are the searchmoves, or else every move
//     with a score line in script order; the best scoring one (mates for the mover above all
//     centipawns, quicker ones higher; mates against it below; ties to the first) is printed as
//     "info depth D seldepth D multipv 1 score cp S nodes 1000 nps 100000 pv <move> <reply...>"
//     followed by "bestmove <move>"; without candidates only "bestmove (none)".
//   go infinite: prints "info depth 12 seldepth 12 multipv 1 score cp 0 nodes 100000000
//     nps 1000000 pv <move>" for that move (no move when there is no candidate) and waits;
//     "stop" then prints "bestmove <move>" (or "bestmove (none)").
//   other go forms: as go depth (depth 1 unless one is given).

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string trim_left(const std::string& s) {
  const auto p = s.find_first_not_of(" \t");
  return p == std::string::npos ? std::string() : s.substr(p);
}

struct Action {
  enum Kind { Print, PrintRaw, Sleep, Die, Close, Hang } kind;
  std::string text;
  long ms = 0;
};

struct Block {
  std::vector<std::string> prefix;
  std::vector<Action> actions;
  bool used = false;
};

struct Score {
  std::string move;
  bool mate = false;
  long value = 0;
  std::vector<std::string> replies;

  // Orders mates for the mover above all centipawns (quicker higher), mates against below.
  long long rank() const {
    const long long big = 1'000'000'000LL;
    if (!mate) return value;
    return value > 0 ? big - value : -big - value;
  }
  std::string score_text() const { return (mate ? "mate " : "cp ") + std::to_string(value); }
};

struct Script {
  std::vector<Block> blocks;
  std::vector<Score> scores;
  long default_score = 0;
  bool linger = false;
};

[[noreturn]] void bad_script(const std::string& line) {
  std::fprintf(stderr, "fake-uci-engine: bad script line: %s\n", line.c_str());
  std::exit(2);
}

Script load_script(const char* path) {
  Script script;
  if (!path) return script;
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "fake-uci-engine: cannot read script %s\n", path);
    std::exit(2);
  }
  for (std::string raw; std::getline(in, raw);) {
    const std::string line = trim_left(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '>') {
      if (script.blocks.empty()) bad_script(raw);
      const bool no_feed = line.compare(0, 2, ">>") == 0;
      std::string text = line.substr(no_feed ? 2 : 1);
      if (!text.empty() && text[0] == ' ') text.erase(0, 1);
      script.blocks.back().actions.push_back({no_feed ? Action::PrintRaw : Action::Print, text});
      continue;
    }
    const auto words = split(line);
    const std::string& cmd = words[0];
    if (cmd == "on" && words.size() >= 2) {
      script.blocks.push_back({{words.begin() + 1, words.end()}, {}});
    } else if (cmd == "sleep" && words.size() == 2 && !script.blocks.empty()) {
      script.blocks.back().actions.push_back({Action::Sleep, "", std::atol(words[1].c_str())});
    } else if ((cmd == "die" || cmd == "close" || cmd == "hang") && !script.blocks.empty()) {
      const auto kind = cmd == "die" ? Action::Die : cmd == "close" ? Action::Close : Action::Hang;
      script.blocks.back().actions.push_back({kind, ""});
    } else if (cmd == "linger") {
      script.linger = true;
    } else if (cmd == "default-score" && words.size() == 2) {
      script.default_score = std::atol(words[1].c_str());
    } else if (cmd == "score" && words.size() >= 3) {
      Score s{words[1], false, 0, {}};
      std::size_t next = 2;
      if (words[2] == "mate") {
        if (words.size() < 4) bad_script(raw);
        s.mate = true;
        next = 3;
      }
      s.value = std::atol(words[next].c_str());
      s.replies.assign(words.begin() + static_cast<long>(next) + 1, words.end());
      script.scores.push_back(s);
    } else {
      bad_script(raw);
    }
  }
  return script;
}

class Engine {
 public:
  explicit Engine(Script script) : script_(std::move(script)) {}

  void handle(const std::string& line) {
    const auto words = split(line);
    if (Block* block = find_block(words)) return run(*block, words);
    if (words.empty()) return;
    const std::string& cmd = words[0];
    if (cmd == "uci") {
      say("id name FakeEngine");
      say("uciok");
    } else if (cmd == "isready") {
      say("readyok");
    } else if (cmd == "quit") {
      std::exit(0);
    } else if (cmd == "go") {
      go(words);
    } else if (cmd == "stop" && searching_) {
      searching_ = false;
      say("bestmove " + infinite_move_);
    }
  }

  bool lingers() const { return script_.linger; }

 private:
  Block* find_block(const std::vector<std::string>& words) {
    for (auto& b : script_.blocks) {
      if (b.used || b.prefix.size() > words.size()) continue;
      if (std::equal(b.prefix.begin(), b.prefix.end(), words.begin())) return &b;
    }
    return nullptr;
  }

  void run(Block& block, const std::vector<std::string>& words) {
    block.used = true;
    if (!words.empty() && words[0] == "stop") searching_ = false;  // the block answers the stop
    for (const auto& a : block.actions) {
      switch (a.kind) {
        case Action::Print: put(a.text + "\n"); break;
        case Action::PrintRaw: put(a.text); break;
        case Action::Sleep: std::this_thread::sleep_for(std::chrono::milliseconds(a.ms)); break;
        case Action::Die: std::_Exit(1);
        case Action::Close: ::close(STDOUT_FILENO); break;
        case Action::Hang: sleep_forever();
      }
    }
  }

  void go(const std::vector<std::string>& words) {
    long depth = 1;
    bool infinite = false;
    std::vector<std::string> searchmoves;
    bool restricted = false;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (words[i] == "depth" && i + 1 < words.size()) {
        depth = std::atol(words[++i].c_str());
      } else if (words[i] == "infinite") {
        infinite = true;
      } else if (words[i] == "searchmoves") {
        restricted = true;
        searchmoves.assign(words.begin() + static_cast<long>(i) + 1, words.end());
        break;
      }
    }
    std::vector<Score> candidates;
    if (restricted) {
      for (const auto& m : searchmoves) candidates.push_back(score_of(m));
    } else {
      candidates = script_.scores;
    }
    std::optional<Score> best;
    for (const auto& c : candidates)
      if (!best || c.rank() > best->rank()) best = c;

    if (infinite) {
      searching_ = true;
      infinite_move_ = best ? best->move : "(none)";
      say("info depth 12 seldepth 12 multipv 1 score cp 0 nodes 100000000 nps 1000000 pv" +
          (best ? " " + best->move : std::string()));
      return;
    }
    if (!best) {
      say("bestmove (none)");
      return;
    }
    std::string pv = best->move;
    for (const auto& r : best->replies) pv += " " + r;
    const std::string d = std::to_string(depth);
    say("info depth " + d + " seldepth " + d + " multipv 1 score " + best->score_text() +
        " nodes 1000 nps 100000 pv " + pv);
    say("bestmove " + best->move);
  }

  Score score_of(const std::string& move) const {
    for (const auto& s : script_.scores)
      if (s.move == move) return s;
    return Score{move, false, script_.default_score, {}};
  }

  void say(const std::string& line) { put(line + "\n"); }

  static void put(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
      if (n <= 0) return;  // reader gone or stdout closed: nothing to do
      done += static_cast<std::size_t>(n);
    }
  }

 public:
  [[noreturn]] static void sleep_forever() {
    for (;;) ::pause();
  }

 private:
  Script script_;
  bool searching_ = false;
  std::string infinite_move_;
};

void log_line(int fd, const std::string& line) {
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main() {
  ::signal(SIGPIPE, SIG_IGN);  // a vanished reader must not end the log
  int log_fd = -1;
  if (const char* log = std::getenv("FAKE_ENGINE_LOG"))
    log_fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  Engine engine(load_script(std::getenv("FAKE_ENGINE_SCRIPT")));

  std::string pending;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string line = pending.substr(start, nl + 1 - start);
      log_line(log_fd, line);
      engine.handle(line);
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) {
    log_line(log_fd, pending);
    engine.handle(pending);
  }
  if (engine.lingers()) Engine::sleep_forever();
  return 0;
}
