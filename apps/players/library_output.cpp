#include "players/library_output.h"

#include <iostream>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/personas/safe_reply.h"
#include "players/persona_factory.h"

namespace ai_players::app {

LibraryOutput::LibraryOutput(bool verbose) {
  saved_echo_ = common::set_echo_sink([verbose](std::string_view text) {
    if (verbose) std::cerr << text << std::endl;
  });
  saved_bugprint_ = set_bugprint_sink([this, verbose](std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (verbose) std::cerr << line << std::endl;
    if (line.empty()) return;
    // Only the latest lines explain a failure; a long session must not grow without end.
    if (diagnostics_.size() == kKept) diagnostics_.erase(diagnostics_.begin(), diagnostics_.begin() + kKept / 2);
    diagnostics_.emplace_back(line);
  });
}

LibraryOutput::~LibraryOutput() {
  common::set_echo_sink(saved_echo_);
  set_bugprint_sink(saved_bugprint_);
}

std::unique_ptr<AI_BASIC> start_persona(const PersonaId& id, const LibraryOutput& output,
                                        const PersonaSettings& settings, std::optional<int> engine_strength) {
  try {
    return make_persona(id, settings, engine_strength);
  } catch (const EngineError& e) {
    throw std::runtime_error(describe_failure(id.name + " was starting its engine", e, output.diagnostics()));
  }
}

std::string choosing(const AI_BASIC& persona) { return persona.Name + " was choosing a move"; }

std::string describe_failure(const std::string& activity, const std::exception& error,
                             const std::vector<std::string>& diagnostics) {
  const std::string what = failure_text(error);
  const char* kind = dynamic_cast<const EngineError*>(&error) ? "engine failure" : "failure";
  std::string text = fmt::format("{} while {}: {}", kind, activity, what);
  // The library marks a command it could not send with a line of carets.
  for (std::size_t i = 0; i + 1 < diagnostics.size(); ++i)
    if (diagnostics[i + 1].find("^^^^^") != std::string::npos)
      text += fmt::format("\n  the command that failed: {}", diagnostics[i]);
  return text;
}

}  // namespace ai_players::app
