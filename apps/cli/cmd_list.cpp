// ai-players list: every persona a user can pick.
#include <algorithm>
#include <iostream>
#include <vector>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "cli/commands.h"
#include "players/measured_ratings.h"
#include "players/persona_factory.h"

namespace ai_players::app {
namespace {

std::string note_of(const PersonaEntry& e, int played) {
  if (!e.buildable) return "cannot be built";
  if (e.gang == Gang::Preview) return "plays among the engine's best moves; previews your moves in 'play'";
  if (e.gang != Gang::Engine) return "";
  if (e.strength == played) return "the engine at a UCI-limited strength; HOUD20c:1500 picks another";
  return fmt::format("the engine at its lowest UCI-limited strength ({} asked); HOUD20c:1500 picks another",
                     e.strength);
}

void run_list() {
  struct Row {
    std::string name, strength, measured, rate, gang, note;
  };
  std::vector<Row> rows{{"Name", "Strength", "Measured", "Rate", "Gang", ""}};
  std::string problem;
  for (const auto& e : persona_entries()) {
    int strength = e.strength;
    if (e.gang == Gang::Engine) {
      try {
        strength = engine_persona_strength(e.strength, PersonaSettings{});
      } catch (const EngineError& error) {
        problem = fmt::format("HOUD20c's strength is shown as asked: {}", error.what());
      }
    }
    const auto measured = measured_rating(rated_name(e, strength));
    rows.push_back({e.name, std::to_string(strength), measured ? measured_text(*measured) : "-", e.rate,
                    gang_name(e.gang), note_of(e, strength)});
  }
  // Characters, not bytes: the measured column holds "±", "≥" and "≤".
  std::size_t name_width = 0, measured_width = 0;
  for (const Row& r : rows) {
    name_width = std::max(name_width, r.name.size());
    measured_width = std::max(measured_width, display_width(r.measured));
  }
  for (const Row& r : rows) {
    std::string line = fmt::format("{:<{}}  {:>8}  {}{}  {:<7}  {:<8}  {}", r.name, name_width, r.strength,
                                   std::string(measured_width - display_width(r.measured), ' '), r.measured, r.rate,
                                   r.gang, r.note);
    line.erase(line.find_last_not_of(' ') + 1);
    std::cout << line << '\n';
  }
  std::cout << fmt::format("Measured: the calibration's ratings on Stockfish's UCI_Elo scale with their 95 % "
                           "intervals ({}); \u2265 and \u2264 are one-sided bounds (every game won or lost), - not "
                           "measured; see docs/strength.md.\n",
                           measured_ratings_path().substr(measured_ratings_path().rfind("data/")))
            << std::flush;
  if (!problem.empty()) std::cerr << "ai-players: " << problem << '\n';
}

}  // namespace

void add_list_command(CLI::App& app) {
  app.add_subcommand("list", "list the personas you can play against")->callback(run_list);
}

}  // namespace ai_players::app
