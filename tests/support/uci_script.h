// The scripted UCI engine's language, for the in-memory channel and the
// fake-uci-engine executable. One directive a line (# starts a comment):
//   on <prefix>  the block answering the next received line whose words start with
//                <prefix>; each block answers once, the earliest unused one wins.
//                In it: "> text" prints a line, ">> text" prints without the line
//                feed, "sleep <ms>" delays what follows, "die" exits, "close" ends
//                the output, "hang" stops reading and answering.
//   score <move> <cp>|mate <n> [<reply> ...], default-score <cp>: auto-mode data
//   linger: at the end of input wait to be killed
//   newgame-resets: "ucinewgame" lets every block answer again, as an engine
//                clears its hash: a game without it gets other answers
// Unanswered lines: "uci", "isready" and "quit" as usual; "go ... [searchmoves ...]"
// gives the best scoring candidate (mates first, quicker higher; ties to the first)
// as "info depth D seldepth D multipv 1 score ... nodes 1000 nps 100000 pv <move>
// <replies>" and "bestmove"; "go infinite" gives an info line at depth 12 and waits
// for "stop" to give its "bestmove".
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
  bool newgame_resets_ = false;
  bool searching_ = false;
  std::string infinite_move_;
};

}  // namespace testing_support
