// The script language of the scripted UCI engine, shared by the in-memory
// channel and the fake-uci-engine executable.
//
// One directive per line (blank lines and lines starting with # ignored):
//   on <prefix>   a block answering the next received line whose tokens start
//                 with <prefix>; each block is used once, the earliest match wins
//     > text      print text and a line feed (raw, may be garbage)
//     >> text     print text without a line feed
//     sleep <ms>  the next output comes that much later
//     die         the engine exits at once (its output ends, writes fail)
//     close       the output ends; input is still taken
//     hang        the engine stops reading and answering until killed
//   linger                          at the end of input wait to be killed
//   score <move> <cp> [<reply> ...] auto-mode data; also: score <move> mate <n> ...
//   default-score <cp>              score of moves without a score line (0)
//
// Lines no block answers: "uci" -> "id name FakeEngine", "uciok"; "isready" ->
// "readyok"; "quit" -> exit; "go depth D [searchmoves ...]" (other go forms
// as depth 1) -> the best scoring candidate (mates for the mover above all
// centipawns, quicker ones higher; ties to the first) as
// "info depth D seldepth D multipv 1 score cp S nodes 1000 nps 100000 pv <move> <replies>"
// and "bestmove <move>", or "bestmove (none)" without candidates; "go infinite"
// -> "info depth 12 seldepth 12 multipv 1 score cp 0 nodes 100000000 nps 1000000 pv <move>",
// and "stop" then gives its "bestmove".
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ScriptStep {
  enum Kind { Print, Sleep, Die, Close, Hang, Quit } kind;
  std::string text;  // Print: the bytes, line feed included where there is one
  long ms = 0;
};

class UciScript {
 public:
  // Throws std::invalid_argument naming a line it cannot read.
  explicit UciScript(const std::string& script = "");
  // What the engine does on receiving `line` (its line feed optional).
  std::vector<ScriptStep> answer(const std::string& line);
  bool lingers() const { return linger_; }

 private:
  struct Block {
    std::vector<std::string> prefix;
    std::vector<ScriptStep> steps;
    bool used = false;
  };
  struct Score {
    std::string move;
    bool mate = false;
    long value = 0;
    std::vector<std::string> replies;
    long long rank() const;
  };
  std::vector<ScriptStep> go(const std::vector<std::string>& words);
  Score score_of(const std::string& move) const;

  std::vector<Block> blocks_;
  std::vector<Score> scores_;
  long default_score_ = 0;
  bool linger_ = false;
  bool searching_ = false;
  std::string infinite_move_;
};

}  // namespace testing_support
