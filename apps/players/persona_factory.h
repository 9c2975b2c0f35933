// Every persona a user can pick by name, and building one from its name.
#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/engine_config.h"
#include "game/user_error.h"

namespace ai_players::app {

// A persona name that names nothing, or one whose settings its class rejects.
struct PersonaError : UserError {
  using UserError::UserError;
};

enum class Gang { Beginner, Strong, Preview, Engine };
std::string gang_name(Gang gang);  // "beginner", "strong", "preview", "engine"

struct PersonaEntry {
  std::string name;
  int strength = 0;   // the roster's; HOUD20c's is the strength asked of the engine
  std::string rate;   // the roster rate as text, "-" for the other personas
  Gang gang = Gang::Beginner;
  bool buildable = true;
  // Offered to people who pick an opponent: buildable, and not a row the
  // roster marks "disabled." (those stay reachable by name).
  bool offered = true;
};

// What a persona can do besides replying.
struct PersonaAbilities {
  bool preview = false;        // judges another player's moves before they are played (the adviser)
  bool ponder = false;         // its engine names the reply it expects to its move
  bool search_limits = false;  // searches within limits a host gives ("depth 8") instead of its own rules
  // Its own choice needs no previous move, so it plays from a set-up
  // position as from any other (the gangs answer the last move: they fall back).
  bool setup_positions = false;
};

struct PersonaKind;  // the class behind a persona: one row each, in persona_factory.cpp

// A persona name resolved once: everything a room asks of a persona before
// (or instead of) building it.
struct PersonaId {
  std::string name;    // canonical: "Diana", "HOUD20c", "HOUD20c:1500"
  PersonaEntry entry;  // its row in 'list' (HOUD20c:1500's strength is 1500)
  PersonaAbilities can;
  // Engine needs: the Elo-limited engine, whose strength range is asked
  // before the persona is built.
  bool elo_limited = false;
  // The name fixes the engine's strength ("HOUD20c:1500", not "HOUD20c"):
  // the ratings take it as an anchor at that strength.
  bool strength_named = false;
  const PersonaKind* kind = nullptr;

  Gang gang() const { return entry.gang; }
  int roster_strength() const { return entry.strength; }
};

// "Gnome", "diana" (case does not matter), "Verevovera", "HOUD20c" or
// "HOUD20c:1500". Throws PersonaError with a message meant for the user.
PersonaId resolve_persona(std::string_view name);
// The same for a persona that can be built.
PersonaId resolve_playable(std::string_view name);
// None for a name that is no persona.
std::optional<PersonaId> find_persona(std::string_view name);

// The twenty roster rows, then Verevovera and HOUD20c. Whether a roster row
// can be built is the persona class's own answer; nothing is started.
std::vector<PersonaEntry> persona_entries();
// The entries a user can play against.
std::vector<PersonaEntry> playable_entries();
// The entries offered to a person who picks an opponent.
std::vector<PersonaEntry> offered_entries();

// How the command's personas reach their engine, settled once from the
// command line (or the UCI options).
struct PersonaSettings {
  std::optional<std::string> engine;  // none: AI_PLAYERS_ENGINE, else Debian's stockfish
  // The watchdog of every search; see --engine-timeout.
  std::optional<std::chrono::milliseconds> engine_timeout = kDefaultEngineTimeout;
  static constexpr std::chrono::milliseconds kDefaultEngineTimeout{60000};
  // How long an engine may take to answer "uci": engines answer at once (they
  // load their weights at "isready"), so at most 10 s, less with a shorter watchdog.
  std::chrono::milliseconds handshake_patience() const {
    return std::min(engine_timeout.value_or(kHandshakeLimit), kHandshakeLimit);
  }
  static constexpr std::chrono::milliseconds kHandshakeLimit{10000};
  // How the engine is started; none: a child process (EngineConfig::launch).
  decltype(engine::EngineConfig::launch) launch;
};

// The engine a persona of these settings runs (the Elo-limited one may have its own).
engine::EngineConfig engine_config(const PersonaSettings& settings, bool elo_limited);

// The strength of a persona as its name says, or as its roster row has it
// ("750" for Gnome, 1500 for HOUD20c:1500); none for names that are no persona.
// Starts no engine.
std::optional<int> roster_strength(std::string_view name);

// The strength HOUD20c:asked really plays at on the settings' engine (the
// engine is asked for its range once per run); throws EngineError when it
// cannot be asked.
int engine_persona_strength(int asked, const PersonaSettings& settings);

// The strength the persona plays at: HOUD20c's as its engine offers (throws
// EngineError when it cannot be asked), the roster's for the others.
int playing_strength(const PersonaId& id, const PersonaSettings& settings);
// The name the calibration rates it under, at the strength it plays at.
std::string rated_name(const PersonaId& id, int strength);

// The strength an entry's persona plays at: HOUD20c's as its engine allows
// (asked once per run; the asked strength when the engine cannot say), the
// roster's for the others.
int playing_strength(const PersonaEntry& entry, const PersonaSettings& settings);
// The name the calibration rates it under: "HOUD20c:1350" for the engine persona.
std::string rated_name(const PersonaEntry& entry, int strength);

// "Gnome", "diana" (case does not matter), "Verevovera", "HOUD20c" or
// "HOUD20c:1500". Throws PersonaError with a message meant for the user.
// `engine_strength`: what engine_persona_strength already said for an
// engine persona, so that its engine is not asked again (ignored for others).
std::unique_ptr<AI_BASIC> make_persona(std::string_view name, const PersonaSettings& settings = {},
                                       std::optional<int> engine_strength = std::nullopt);
std::unique_ptr<AI_BASIC> make_persona(const PersonaId& id, const PersonaSettings& settings = {},
                                       std::optional<int> engine_strength = std::nullopt);

// Limits for the engine persona's own search, as "go" takes them ("depth 8",
// "nodes 20000", "movetime 500"; empty: its default). Other personas search by
// their own rules: limits for them throw PersonaError, as do malformed ones.
// `persona` is one built from `id`.
void set_search_limits(const PersonaId& id, AI_BASIC& persona, const std::string& limits);
// The same check without a persona: the limits in canonical spacing.
std::string checked_search_limits(const PersonaId& id, const std::string& limits);
std::string checked_search_limits(std::string_view name, const std::string& limits);
// Limits already checked (a UCI "go" line's), set as they are; empty: the
// persona's default. Nothing for a persona that takes none.
void apply_search_limits(const PersonaId& id, AI_BASIC& persona, const std::string& limits);
// The reply the persona's engine expects to its last move (empty: none said);
// empty for a persona that does not ponder.
std::string ponder_move(const PersonaId& id, const AI_BASIC& persona);

// The canonical spelling of a persona name; throws PersonaError when unknown.
std::string canonical_persona_name(std::string_view name);
// The same, for a persona that can be built (the roster has rows whose
// settings their class rejects).
std::string playable_persona_name(std::string_view name);

}  // namespace ai_players::app
