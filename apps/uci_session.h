// A persona speaking UCI: the session behind `ai-players uci`.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/host/board.h"
#include "persona_factory.h"

namespace ai_players::app {

// The game a GUI set up with `position`.
struct UciGame {
  std::string start_fen{common::FEN_New_Game};
  board::MoveList history;  // the moves after the start position, as our board's objects
  board::Board position;    // the current position
};

// The arguments of a `position` command ("startpos moves e2e4", "fen <FEN> moves ...").
// Throws std::invalid_argument with a message for a malformed command, a bad FEN
// or a move that is not legal where it is played.
UciGame parse_position(std::string_view args);

class UciSession {
 public:
  // Writes one line to the GUI; called from the reading thread and from the
  // thread that computes a reply, so it must be safe to call from both.
  using Output = std::function<void(const std::string&)>;

  // persona: a name that make_persona knows; the persona is built at the first `go`.
  // entries: the personas offered to the GUI (the buildable ones).
  UciSession(std::string persona, std::vector<PersonaEntry> entries, Output output);
  ~UciSession();
  UciSession(const UciSession&) = delete;
  UciSession& operator=(const UciSession&) = delete;

  // Handles one line from the GUI; false once the session is over (`quit`).
  bool handle(std::string_view line);
  // Ends the session: a reply being computed is abandoned and its engine killed.
  void end();
  // Ends the session once a reply being computed is given (the input ended).
  void finish();
  // An "info string" line for each line of text (the library's messages).
  void info(std::string_view text);

 private:
  void identify();
  void set_option(std::string_view args);
  void go();
  bool ensure_persona();
  std::unique_ptr<AI_BASIC> build(const std::string& name);
  void wait_for_reply();
  void send(const std::string& line);

  Output output_;
  std::vector<PersonaEntry> entries_;
  std::string persona_name_;
  std::unique_ptr<AI_BASIC> persona_;
  std::optional<std::string> wanted_persona_;  // a switch asked for, made at the next `go`
  std::optional<std::string> engine_path_;     // set through the Engine option
  bool rebuild_ = false;                       // the engine changed since the persona was built
  UciGame game_;

  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> persona_failed_{false};
};

}  // namespace ai_players::app
