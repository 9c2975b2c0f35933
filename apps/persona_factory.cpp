#include "persona_factory.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <variant>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/engine/engine_config.h"
#include "ai_players/personas/beginner_gang.h"
#include "ai_players/personas/houd20c.h"
#include "ai_players/personas/rosters.h"
#include "ai_players/personas/strong_gang.h"
#include "ai_players/personas/verevovera.h"
#include "engine_strength.h"

namespace ai_players::app {
namespace {

constexpr std::string_view kPreview = "Verevovera";
constexpr std::string_view kEngine = "HOUD20c";
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

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
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
  if (name.size() < kEngine.size() || !same_name(name.substr(0, kEngine.size()), kEngine))
    return std::nullopt;
  std::string_view rest = name.substr(kEngine.size());
  if (rest.empty()) return kEngineDefaultElo;
  if (rest.front() != ':') return std::nullopt;
  rest.remove_prefix(1);
  int elo = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), elo);
  if (ec != std::errc() || end != rest.data() + rest.size() || elo <= 0)
    throw PersonaError(fmt::format("'{}': the strength after HOUD20c: must be a positive whole number, "
                                   "e.g. HOUD20c:1500",
                                   name));
  return elo;
}

[[noreturn]] void unknown(std::string_view name) {
  throw PersonaError(
      fmt::format("unknown persona '{}'; 'ai-players list' shows the names you can use", name));
}

std::unique_ptr<AI_BASIC> build_row(const Row& r, engine::EngineConfig config) {
  if (!r.strong)
    return std::make_unique<BEGINNER_GANG>(r.row.name, r.row.rate, Number(r.row.strength), std::move(config));
  const auto* rate = std::get_if<Number>(&r.row.rate);
  if (!rate) throw AssertionError{};
  return std::make_unique<STRONG_GANG>(r.row.name, *rate, Number(r.row.strength), std::move(config));
}

bool can_build(const Row& r) {
  if (!r.strong) return BEGINNER_GANG::accepts(r.row.name, r.row.rate, Number(r.row.strength));
  const auto* rate = std::get_if<Number>(&r.row.rate);
  return rate && STRONG_GANG::accepts(r.row.name, *rate, Number(r.row.strength));
}

}  // namespace

std::vector<PersonaEntry> persona_entries() {
  std::vector<PersonaEntry> entries;
  for (const auto& r : roster_rows())
    entries.push_back({r.row.name, std::to_string(r.row.strength), to_text(r.row.rate),
                       r.strong ? "strong" : "beginner", can_build(r)});
  entries.push_back({std::string(kPreview), "2500", "-", "preview", true});
  // The strength the default engine really plays at, when it says.
  const auto engine = engine::find_engine(true);
  const int played = playable_elo(kEngineDefaultElo, engine ? engine_elo_range(*engine) : std::nullopt);
  entries.push_back({std::string(kEngine), std::to_string(played), "-", "engine", true});
  return entries;
}

void start_new_game(AI_BASIC& persona) {
  persona.MasterMove_Depth = 0;
  persona.MasterMove_M_Balance.reset();
}

std::string canonical_persona_name(std::string_view name) {
  if (same_name(name, kPreview)) return std::string(kPreview);
  if (auto elo = engine_persona_elo(name))
    return name.size() == kEngine.size() ? std::string(kEngine) : fmt::format("{}:{}", kEngine, *elo);
  if (auto r = find_row(name)) return r->row.name;
  unknown(name);
}

engine::EngineConfig engine_config(const PersonaSettings& settings, bool elo_limited) {
  engine::EngineConfig config;
  config.path = settings.engine ? settings.engine : engine::find_engine(elo_limited);
  return config;
}

namespace {
std::unique_ptr<AI_BASIC> configured(std::unique_ptr<AI_BASIC> persona, const PersonaSettings& settings) {
  persona->engine_timeout = settings.engine_timeout;
  return persona;
}
}  // namespace

std::unique_ptr<AI_BASIC> make_persona(std::string_view name, const PersonaSettings& settings) {
  if (same_name(name, kPreview))
    return configured(std::make_unique<Verevovera>(engine_config(settings, false)), settings);
  if (auto elo = engine_persona_elo(name)) {
    if (*elo % 10 != 0)
      throw PersonaError(fmt::format("HOUD20c cannot play at {}: its strength must be a multiple of 10", *elo));
    engine::EngineConfig config = engine_config(settings, true);
    int played = *elo;
    if (config.path) {
      const auto range = engine_elo_range(*config.path);
      played = playable_elo(*elo, range);
      if (played != *elo)
        common::echo(fmt::format("HOUD20c:{} plays at {}: the engine {} offers UCI_Elo {} to {} only", *elo, played,
                                 *config.path, range->min, range->max));
    }
    try {
      return configured(std::make_unique<HOUD20c>(Number(played), std::move(config)), settings);
    } catch (const AssertionError&) {
      throw PersonaError(fmt::format("HOUD20c cannot play at {}: its strength must be a multiple of 10", *elo));
    }
  }
  auto r = find_row(name);
  if (!r) unknown(name);
  try {
    if (!can_build(*r)) throw AssertionError{};
    return configured(build_row(*r, engine_config(settings, false)), settings);
  } catch (const AssertionError&) {
    throw PersonaError(fmt::format(
        "persona '{}' cannot be built: the {} gang does not accept its roster settings "
        "(strength {}, rate {})",
        r->row.name, r->strong ? "strong" : "beginner", r->row.strength, to_text(r->row.rate)));
  }
}

}  // namespace ai_players::app
