// Where the library's own output goes while a command runs: its echo chatter
// and its diagnostics stay off standard output unless asked for.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/host/common.h"
#include "players/persona_factory.h"

namespace ai_players::app {

class LibraryOutput {
 public:
  // verbose: echo and diagnostics go to standard error; otherwise echo is
  // dropped and diagnostics are only kept for failure messages.
  explicit LibraryOutput(bool verbose);
  ~LibraryOutput();
  LibraryOutput(const LibraryOutput&) = delete;
  LibraryOutput& operator=(const LibraryOutput&) = delete;

  // The latest non-empty diagnostic lines (the library prints, for example,
  // the engine command that could not be sent).
  const std::vector<std::string>& diagnostics() const { return diagnostics_; }

 private:
  static constexpr std::size_t kKept = 200;
  std::vector<std::string> diagnostics_;
  common::TextSink saved_echo_;
  LineSink saved_bugprint_;
};

// A failure said for people: what was going on ("Horus (450) was choosing a
// move"), the error's own text and the library's diagnostics that came with it.
std::string describe_failure(const std::string& activity, const std::exception& error,
                             const std::vector<std::string>& diagnostics);

// make_persona, with an engine that fails at the start described as above.
std::unique_ptr<AI_BASIC> start_persona(const PersonaId& id, const LibraryOutput& output,
                                        const PersonaSettings& settings = {},
                                        std::optional<int> engine_strength = std::nullopt);

// "<persona's name> was choosing a move".
std::string choosing(const AI_BASIC& persona);

}  // namespace ai_players::app
