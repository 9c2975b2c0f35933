#include "players/persona_factory.h"

#include <charconv>
#include <optional>
#include <sstream>
#include <variant>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/rosters.h"
#include "ai_players/personas/strong_gang.h"
#include "ai_players/personas/verevovera.h"
#include "engine_client/engine_strength.h"
#include "game/user_error.h"

namespace ai_players::app {

// A persona class: its entries in 'list', how a name means one of its
// personas, how it is built and what it can do.
struct PersonaKind {
  Gang gang = Gang::Beginner;
  PersonaAbilities can;
  bool elo_limited = false;  // runs the Elo-limited engine and asks it for its range
  std::vector<PersonaEntry> (*entries)(const PersonaKind&) = nullptr;
  // The persona of this class a name means; none when it names none of them.
  std::optional<PersonaId> (*resolve)(const PersonaKind&, std::string_view name) = nullptr;
  std::unique_ptr<AI_BASIC> (*build)(const PersonaId&, const PersonaSettings&, std::optional<int> engine_strength) =
      nullptr;
  // A roster class: its rows, whether it accepts one, and building one.
  std::vector<RosterRow> (*roster)() = nullptr;
  bool (*accepts)(const RosterRow&) = nullptr;
  std::unique_ptr<AI_BASIC> (*build_row)(const RosterRow&, engine::EngineConfig) = nullptr;
  // With can.search_limits: sets limits already checked (empty: its default).
  void (*set_limits)(AI_BASIC&, const std::string&) = nullptr;
  // With can.ponder: the reply its engine expects to its last move.
  std::string (*ponder)(const AI_BASIC&) = nullptr;
};

namespace {

constexpr std::string_view kPreview = "Verevovera";
constexpr std::string_view kEngine = "HOUD20c";
constexpr int kPreviewStrength = 2500;
constexpr int kEngineDefaultElo = 1200;

bool same_name(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

// The strength part of "HOUD20c" or "HOUD20c:1500"; none when the name is
// not the engine persona's at all.
std::optional<int> engine_persona_elo(std::string_view name) {
  if (name.size() < kEngine.size() || !same_name(name.substr(0, kEngine.size()), kEngine)) return std::nullopt;
  std::string_view rest = name.substr(kEngine.size());
  if (rest.empty()) return kEngineDefaultElo;
  if (rest.front() != ':') return std::nullopt;
  rest.remove_prefix(1);
  int elo = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), elo);
  if (ec != std::errc() || end != rest.data() + rest.size() || elo <= 0)
    throw PersonaError(fmt::format("{}: the strength after HOUD20c: must be a positive whole number, e.g. HOUD20c:1500",
                                   echoed(name)));
  return elo;
}

[[noreturn]] void unknown(std::string_view name) {
  std::vector<std::string> names;
  for (const PersonaEntry& e : persona_entries()) names.push_back(e.name);
  if (const auto meant = did_you_mean(name, names))
    throw PersonaError(fmt::format("unknown persona {}; did you mean {}?", echoed(name), *meant));
  throw PersonaError(fmt::format("unknown persona {}; 'ai-players list' shows the names you can use",
                                 echoed(name)));
}

PersonaId identity(const PersonaKind& kind, PersonaEntry entry) {
  PersonaId id;
  id.name = entry.name;
  id.entry = std::move(entry);
  id.can = kind.can;
  id.elo_limited = kind.elo_limited;
  id.kind = &kind;
  return id;
}

// ---- the classes of the roster rows (the gangs)

PersonaEntry roster_entry(const PersonaKind& kind, const RosterRow& row) {
  const bool buildable = kind.accepts(row);
  return {row.name, row.strength, to_text(row.rate), kind.gang, buildable,
          buildable && !row.name.starts_with("disabled.")};
}

std::vector<PersonaEntry> roster_entries(const PersonaKind& kind) {
  std::vector<PersonaEntry> entries;
  for (const RosterRow& row : kind.roster()) entries.push_back(roster_entry(kind, row));
  return entries;
}

std::optional<PersonaId> resolve_row(const PersonaKind& kind, std::string_view name) {
  for (const RosterRow& row : kind.roster())
    if (same_name(row.name, name)) return identity(kind, roster_entry(kind, row));
  return std::nullopt;
}

std::unique_ptr<AI_BASIC> build_row(const PersonaId& id, const PersonaSettings& settings, std::optional<int>) {
  const PersonaKind& kind = *id.kind;
  for (const RosterRow& row : kind.roster()) {
    if (row.name != id.name) continue;
    if (!kind.accepts(row))
      throw PersonaError(fmt::format("persona '{}' cannot be built: the {} gang does not accept its roster settings "
                                     "(strength {}, rate {})",
                                     row.name, gang_name(kind.gang), row.strength, to_text(row.rate)));
    return kind.build_row(row, engine_config(settings, id.elo_limited));
  }
  unknown(id.name);
}

bool beginner_accepts(const RosterRow& r) { return BEGINNER_GANG::accepts(r.name, r.rate, Number(r.strength)); }
std::unique_ptr<AI_BASIC> build_beginner(const RosterRow& r, engine::EngineConfig config) {
  return std::make_unique<BEGINNER_GANG>(r.name, r.rate, Number(r.strength), std::move(config));
}

bool strong_accepts(const RosterRow& r) {
  const auto* rate = std::get_if<Number>(&r.rate);
  return rate && STRONG_GANG::accepts(r.name, *rate, Number(r.strength));
}
std::unique_ptr<AI_BASIC> build_strong(const RosterRow& r, engine::EngineConfig config) {
  return std::make_unique<STRONG_GANG>(r.name, std::get<Number>(r.rate), Number(r.strength), std::move(config));
}

// ---- Verevovera, the adviser

std::vector<PersonaEntry> preview_entries(const PersonaKind& kind) {
  return {{std::string(kPreview), kPreviewStrength, "-", kind.gang, true, true}};
}

std::optional<PersonaId> resolve_preview(const PersonaKind& kind, std::string_view name) {
  if (!same_name(name, kPreview)) return std::nullopt;
  return identity(kind, preview_entries(kind).front());
}

std::unique_ptr<AI_BASIC> build_preview(const PersonaId& id, const PersonaSettings& settings, std::optional<int>) {
  return std::make_unique<Verevovera>(engine_config(settings, id.elo_limited));
}

// ---- HOUD20c, the engine at a strength limit

std::vector<PersonaEntry> engine_entries(const PersonaKind& kind) {
  return {{std::string(kEngine), kEngineDefaultElo, "-", kind.gang, true, true}};
}

std::optional<PersonaId> resolve_engine(const PersonaKind& kind, std::string_view name) {
  const auto elo = engine_persona_elo(name);
  if (!elo) return std::nullopt;
  PersonaId id = identity(kind, engine_entries(kind).front());
  id.strength_named = name.size() != kEngine.size();
  if (id.strength_named) id.name = fmt::format("{}:{}", kEngine, *elo);
  id.entry.strength = *elo;
  return id;
}

std::unique_ptr<AI_BASIC> build_engine(const PersonaId& id, const PersonaSettings& settings,
                                       std::optional<int> known) {
  const int elo = id.roster_strength();
  if (elo % 10 != 0)
    throw PersonaError(fmt::format("HOUD20c cannot play at {}: its strength must be a multiple of 10", elo));
  const int played = known ? *known : engine_persona_strength(elo, settings);
  if (played != elo)
    common::echo(fmt::format("HOUD20c:{} plays at {}: the engine {} offers no other strength near it", elo, played,
                             engine_config(settings, id.elo_limited).path.value_or("?")));
  return std::make_unique<HOUD20c>(Number(played), engine_config(settings, id.elo_limited));
}

// A persona built from a row of class P, as that class (a row's hooks get
// only the personas their row built).
template <class P, class Base>
P& as_class(Base& persona) {
  auto* p = dynamic_cast<P*>(&persona);
  require(p != nullptr);
  return *p;
}

template <class P>
void set_limits_of(AI_BASIC& persona, const std::string& limits) {
  as_class<P>(persona).search_limits = limits.empty() ? P::kDefaultSearchLimits : limits;
}

template <class P>
std::string ponder_of(const AI_BASIC& persona) {
  return as_class<const P>(persona).ponder_move;
}

std::string limits_text(const std::string& limits) {
  std::istringstream in(limits);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty() || words.size() % 2)
    throw PersonaError(fmt::format("{}: search limits are pairs such as \"depth 8\", \"nodes 20000\" or "
                                   "\"movetime 500\"",
                                   echoed(limits)));
  std::string out;
  for (std::size_t i = 0; i < words.size(); i += 2) {
    const std::string& key = words[i];
    const std::string& value = words[i + 1];
    if (key != "depth" && key != "nodes" && key != "movetime")
      throw PersonaError(fmt::format("{}: {} is not a search limit (depth, nodes or movetime)", echoed(limits),
                                     echoed(key)));
    if (value.empty() || value.size() > 12 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(value) == 0)
      throw PersonaError(fmt::format("{}: the {} must be a positive whole number", echoed(limits), key));
    out += (out.empty() ? "" : " ") + key + " " + value;
  }
  return out;
}

[[noreturn]] void no_limits(std::string_view name) {
  throw PersonaError(fmt::format("{} searches by its own rules; only HOUD20c takes search limits", name));
}

// Every persona class, one row each, in the order 'list' shows them. A new
// class is a row here (its entries, how a name means one, how it is built,
// what it can do) plus the class itself.
const std::vector<PersonaKind>& kinds() {
  static const std::vector<PersonaKind> table{
      {.gang = Gang::Beginner, .can = {}, .entries = roster_entries, .resolve = resolve_row, .build = build_row,
       .roster = get_beginner_list, .accepts = beginner_accepts, .build_row = build_beginner},
      {.gang = Gang::Strong, .can = {}, .entries = roster_entries, .resolve = resolve_row, .build = build_row,
       .roster = get_strong_list, .accepts = strong_accepts, .build_row = build_strong},
      {.gang = Gang::Preview, .can = {.preview = true, .setup_positions = true}, .entries = preview_entries,
       .resolve = resolve_preview, .build = build_preview},
      {.gang = Gang::Engine, .can = {.ponder = true, .search_limits = true, .setup_positions = true},
       .elo_limited = true, .entries = engine_entries, .resolve = resolve_engine, .build = build_engine,
       .set_limits = set_limits_of<HOUD20c>, .ponder = ponder_of<HOUD20c>},
  };
  return table;
}

}  // namespace

std::string checked_search_limits(const PersonaId& id, const std::string& limits) {
  if (!id.can.search_limits) no_limits(id.name);
  return limits_text(limits);
}

std::string checked_search_limits(std::string_view name, const std::string& limits) {
  const auto id = find_persona(name);
  if (!id || !id->can.search_limits) no_limits(name);
  return limits_text(limits);
}

void set_search_limits(const PersonaId& id, AI_BASIC& persona, const std::string& limits) {
  if (!id.can.search_limits) {
    if (limits.empty()) return;
    no_limits(persona.Name);
  }
  id.kind->set_limits(persona, limits.empty() ? limits : limits_text(limits));
}

void apply_search_limits(const PersonaId& id, AI_BASIC& persona, const std::string& limits) {
  if (id.can.search_limits) id.kind->set_limits(persona, limits);
}

std::string ponder_move(const PersonaId& id, const AI_BASIC& persona) {
  return id.can.ponder ? id.kind->ponder(persona) : std::string();
}

PersonaId resolve_persona(std::string_view name) {
  for (const PersonaKind& kind : kinds())
    if (auto id = kind.resolve(kind, name)) return *id;
  unknown(name);
}

PersonaId resolve_playable(std::string_view name) {
  PersonaId id = resolve_persona(name);
  if (!id.entry.buildable) throw PersonaError(fmt::format("persona '{}' cannot be built", id.name));
  return id;
}

std::optional<PersonaId> find_persona(std::string_view name) {
  try {
    return resolve_persona(name);
  } catch (const PersonaError&) {
    return std::nullopt;
  }
}

std::string gang_name(Gang gang) {
  switch (gang) {
    case Gang::Beginner: return "beginner";
    case Gang::Strong: return "strong";
    case Gang::Preview: return "preview";
    case Gang::Engine: return "engine";
  }
  return "?";
}

std::vector<PersonaEntry> persona_entries() {
  std::vector<PersonaEntry> entries;
  for (const PersonaKind& kind : kinds())
    for (PersonaEntry& e : kind.entries(kind)) entries.push_back(std::move(e));
  return entries;
}

std::vector<PersonaEntry> playable_entries() {
  std::vector<PersonaEntry> entries;
  for (auto& e : persona_entries())
    if (e.buildable) entries.push_back(std::move(e));
  return entries;
}

std::vector<PersonaEntry> offered_entries() {
  std::vector<PersonaEntry> entries;
  for (auto& e : persona_entries())
    if (e.offered) entries.push_back(std::move(e));
  return entries;
}

std::optional<int> roster_strength(std::string_view name) {
  const auto id = find_persona(name);
  return id ? std::optional(id->roster_strength()) : std::nullopt;
}

int engine_persona_strength(int asked, const PersonaSettings& settings) {
  const engine::EngineConfig config = engine_config(settings, true);
  if (!config.path) return asked;  // the library's own engine paths: nothing to ask
  return playable_elo(asked, engine_elo_range(config, settings.handshake_patience()));
}

int playing_strength(const PersonaId& id, const PersonaSettings& settings) {
  return id.elo_limited ? engine_persona_strength(id.roster_strength(), settings) : id.roster_strength();
}

std::string rated_name(const PersonaId& id, int strength) {
  return id.elo_limited ? fmt::format("{}:{}", kEngine, strength) : id.name;
}

int playing_strength(const PersonaEntry& entry, const PersonaSettings& settings) {
  if (entry.gang != Gang::Engine) return entry.strength;
  try {
    return engine_persona_strength(entry.strength, settings);
  } catch (const EngineError&) {
    return entry.strength;
  }
}

std::string rated_name(const PersonaEntry& entry, int strength) {
  return entry.gang == Gang::Engine ? fmt::format("{}:{}", kEngine, strength) : entry.name;
}

std::string canonical_persona_name(std::string_view name) { return resolve_persona(name).name; }

std::string playable_persona_name(std::string_view name) { return resolve_playable(name).name; }

engine::EngineConfig engine_config(const PersonaSettings& settings, bool elo_limited) {
  engine::EngineConfig config;
  config.path = settings.engine ? settings.engine : engine::find_engine(elo_limited);
  config.launch = settings.launch;
  return config;
}

std::unique_ptr<AI_BASIC> make_persona(const PersonaId& id, const PersonaSettings& settings,
                                       std::optional<int> engine_strength) {
  std::unique_ptr<AI_BASIC> persona = id.kind->build(id, settings, engine_strength);
  persona->engine_timeout = settings.engine_timeout;
  return persona;
}

std::unique_ptr<AI_BASIC> make_persona(std::string_view name, const PersonaSettings& settings,
                                       std::optional<int> engine_strength) {
  return make_persona(resolve_persona(name), settings, engine_strength);
}

}  // namespace ai_players::app
