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
namespace {

constexpr std::string_view kPreview = "Verevovera";
constexpr std::string_view kEngine = "HOUD20c";
constexpr int kPreviewStrength = 2500;
constexpr int kEngineDefaultElo = 1200;

struct Row {
  RosterRow row;
  bool strong;
};

std::vector<Row> roster_rows() {
  std::vector<Row> rows;
  for (auto& r : get_beginner_list()) rows.push_back({std::move(r), false});
  for (auto& r : get_strong_list()) rows.push_back({std::move(r), true});
  return rows;
}

bool same_name(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

std::optional<Row> find_row(std::string_view name) {
  for (auto& r : roster_rows())
    if (same_name(r.row.name, name)) return r;
  return std::nullopt;
}

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
  std::vector<std::string> names{std::string(kEngine)};
  for (const auto& r : roster_rows()) names.push_back(r.row.name);
  if (const auto meant = did_you_mean(name, names))
    throw PersonaError(fmt::format("unknown persona {}; did you mean {}?", echoed(name), *meant));
  throw PersonaError(fmt::format("unknown persona {}; 'ai-players list' shows the names you can use",
                                 echoed(name)));
}

bool can_build(const Row& r) {
  if (!r.strong) return BEGINNER_GANG::accepts(r.row.name, r.row.rate, Number(r.row.strength));
  const auto* rate = std::get_if<Number>(&r.row.rate);
  return rate && STRONG_GANG::accepts(r.row.name, *rate, Number(r.row.strength));
}

std::unique_ptr<AI_BASIC> build_row(const Row& r, engine::EngineConfig config) {
  if (!can_build(r))
    throw PersonaError(fmt::format("persona '{}' cannot be built: the {} gang does not accept its roster settings "
                                   "(strength {}, rate {})",
                                   r.row.name, r.strong ? "strong" : "beginner", r.row.strength, to_text(r.row.rate)));
  if (!r.strong)
    return std::make_unique<BEGINNER_GANG>(r.row.name, r.row.rate, Number(r.row.strength), std::move(config));
  return std::make_unique<STRONG_GANG>(r.row.name, std::get<Number>(r.row.rate), Number(r.row.strength),
                                       std::move(config));
}

std::unique_ptr<AI_BASIC> build_engine_persona(int elo, const PersonaSettings& settings, std::optional<int> known) {
  if (elo % 10 != 0)
    throw PersonaError(fmt::format("HOUD20c cannot play at {}: its strength must be a multiple of 10", elo));
  const int played = known ? *known : engine_persona_strength(elo, settings);
  if (played != elo)
    common::echo(fmt::format("HOUD20c:{} plays at {}: the engine {} offers no other strength near it", elo, played,
                             engine_config(settings, true).path.value_or("?")));
  return std::make_unique<HOUD20c>(Number(played), engine_config(settings, true));
}

}  // namespace

std::string checked_search_limits(std::string_view name, const std::string& limits) {
  if (!lower(name).starts_with(lower(kEngine)))
    throw PersonaError(fmt::format("{} searches by its own rules; only HOUD20c takes search limits", name));
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

void set_search_limits(AI_BASIC& persona, const std::string& limits) {
  auto* engine_persona = dynamic_cast<HOUD20c*>(&persona);
  if (!engine_persona) {
    if (limits.empty()) return;
    throw PersonaError(fmt::format("{} searches by its own rules; only HOUD20c takes search limits", persona.Name));
  }
  engine_persona->search_limits = limits.empty() ? HOUD20c::kDefaultSearchLimits : checked_search_limits(kEngine, limits);
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
  for (const auto& r : roster_rows()) {
    const bool buildable = can_build(r);
    entries.push_back({r.row.name, r.row.strength, to_text(r.row.rate), r.strong ? Gang::Strong : Gang::Beginner,
                       buildable, buildable && !r.row.name.starts_with("disabled.")});
  }
  entries.push_back({std::string(kPreview), kPreviewStrength, "-", Gang::Preview, true, true});
  entries.push_back({std::string(kEngine), kEngineDefaultElo, "-", Gang::Engine, true, true});
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
  try {
    if (auto elo = engine_persona_elo(name)) return *elo;
    const std::string canonical = canonical_persona_name(name);
    for (const PersonaEntry& entry : persona_entries())
      if (entry.name == canonical) return entry.strength;
  } catch (const PersonaError&) {
  }
  return std::nullopt;
}

std::optional<int> playing_strength(std::string_view name, const PersonaSettings& settings) {
  if (auto elo = engine_persona_elo(name)) return engine_persona_strength(*elo, settings);
  return roster_strength(name);
}

int engine_persona_strength(int asked, const PersonaSettings& settings) {
  const engine::EngineConfig config = engine_config(settings, true);
  if (!config.path) return asked;  // the library's own engine paths: nothing to ask
  return playable_elo(asked, engine_elo_range(config, settings.handshake_patience()));
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

std::string canonical_persona_name(std::string_view name) {
  if (same_name(name, kPreview)) return std::string(kPreview);
  if (auto elo = engine_persona_elo(name))
    return name.size() == kEngine.size() ? std::string(kEngine) : fmt::format("{}:{}", kEngine, *elo);
  if (auto r = find_row(name)) return r->row.name;
  unknown(name);
}

std::string playable_persona_name(std::string_view name) {
  const std::string canonical = canonical_persona_name(name);
  if (auto r = find_row(canonical); r && !can_build(*r))
    throw PersonaError(fmt::format("persona '{}' cannot be built", canonical));
  return canonical;
}

engine::EngineConfig engine_config(const PersonaSettings& settings, bool elo_limited) {
  engine::EngineConfig config;
  config.path = settings.engine ? settings.engine : engine::find_engine(elo_limited);
  config.launch = settings.launch;
  return config;
}

std::unique_ptr<AI_BASIC> make_persona(std::string_view name, const PersonaSettings& settings,
                                       std::optional<int> engine_strength) {
  std::unique_ptr<AI_BASIC> persona;
  if (same_name(name, kPreview)) {
    persona = std::make_unique<Verevovera>(engine_config(settings, false));
  } else if (auto elo = engine_persona_elo(name)) {
    persona = build_engine_persona(*elo, settings, engine_strength);
  } else if (auto r = find_row(name)) {
    persona = build_row(*r, engine_config(settings, false));
  } else {
    unknown(name);
  }
  persona->engine_timeout = settings.engine_timeout;
  return persona;
}

}  // namespace ai_players::app
