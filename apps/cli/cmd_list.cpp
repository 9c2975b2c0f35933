// ai-players list: every persona a user can pick.
#include <iostream>

#include <fmt/format.h>

#include "ai_players/core/errors.h"
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
  const auto entries = persona_entries();
  std::size_t width = 4;
  for (const auto& e : entries) width = std::max(width, e.name.size());
  const auto row = [width](const std::string& name, const std::string& strength, const std::string& measured,
                           const std::string& rate, const std::string& gang, const std::string& note) {
    // The measured column holds "±": pad by characters, not bytes.
    const std::size_t shown = measured.size() - (measured.find("\u00b1") != std::string::npos ? 1 : 0) -
                              (measured.find("\u2265") != std::string::npos || measured.find("\u2264") != std::string::npos ? 2 : 0);
    std::string line = fmt::format("{:<{}}  {:>8}  {}{}  {:<7}  {:<8}  {}", name, width, strength,
                                   std::string(shown < 10 ? 10 - shown : 0, ' '), measured, rate, gang, note);
    line.erase(line.find_last_not_of(' ') + 1);
    return line + '\n';
  };
  std::cout << row("Name", "Strength", "Measured", "Rate", "Gang", "");
  std::string problem;
  for (const auto& e : entries) {
    int strength = e.strength;
    if (e.gang == Gang::Engine) {
      try {
        strength = engine_persona_strength(e.strength, PersonaSettings{});
      } catch (const EngineError& error) {
        problem = fmt::format("HOUD20c's strength is shown as asked: {}", error.what());
      }
    }
    const auto measured = measured_rating(rated_name(e, strength));
    std::cout << row(e.name, std::to_string(strength), measured ? measured_text(*measured) : "-", e.rate,
                     gang_name(e.gang), note_of(e, strength));
  }
  std::cout << fmt::format("Measured: the calibration's ratings with their 95 % intervals ({}); see the README.\n",
                           measured_ratings_path().substr(measured_ratings_path().rfind("data/")))
            << std::flush;
  if (!problem.empty()) std::cerr << "ai-players: " << problem << '\n';
}

}  // namespace

void add_list_command(CLI::App& app) {
  app.add_subcommand("list", "list the personas you can play against")->callback(run_list);
}

}  // namespace ai_players::app
