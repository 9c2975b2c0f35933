// Every persona a user can pick by name, and building one from its name.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_config.h"

namespace ai_players::app {

// A persona name that names nothing, or one whose settings its class rejects.
struct PersonaError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct PersonaEntry {
  std::string name;
  std::string strength;
  std::string rate;  // the roster rate as text, "-" for the other personas
  std::string gang;  // "beginner", "strong", "preview", "engine"
  bool buildable = true;
};

// The twenty roster rows, then Verevovera and HOUD20c. Whether a roster row
// can be built is the persona class's own answer; nothing is started.
std::vector<PersonaEntry> persona_entries();

// How the command's personas reach their engine, settled once from the
// command line (or the UCI options).
struct PersonaSettings {
  std::optional<std::string> engine;  // none: AI_PLAYERS_ENGINE, else Debian's stockfish
  // The watchdog of every search; see --engine-timeout.
  std::optional<std::chrono::milliseconds> engine_timeout = kDefaultEngineTimeout;
  static constexpr std::chrono::milliseconds kDefaultEngineTimeout{60000};
};

// The engine a persona of these settings runs (the Elo-limited one may have its own).
engine::EngineConfig engine_config(const PersonaSettings& settings, bool elo_limited);

// "Gnome", "diana" (case does not matter), "Verevovera", "HOUD20c" or
// "HOUD20c:1500". Throws PersonaError with a message meant for the user.
std::unique_ptr<AI_BASIC> make_persona(std::string_view name, const PersonaSettings& settings = {});

// Forgets what a persona carries from one game into the next (a master sequence).
void start_new_game(AI_BASIC& persona);

// The canonical spelling of a persona name; throws PersonaError when unknown.
std::string canonical_persona_name(std::string_view name);

}  // namespace ai_players::app
