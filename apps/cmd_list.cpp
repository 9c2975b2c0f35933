// ai-players list: every persona a user can pick.
#include <iostream>

#include <fmt/format.h>

#include "commands.h"
#include "persona_factory.h"

namespace ai_players::app {
namespace {

void run_list() {
  const auto entries = persona_entries();
  std::size_t width = 4;
  for (const auto& e : entries) width = std::max(width, e.name.size());
  const auto row = [width](const std::string& name, const std::string& strength, const std::string& rate,
                           const std::string& gang, const std::string& note) {
    std::string line = fmt::format("{:<{}}  {:>8}  {:<7}  {:<8}  {}", name, width, strength, rate, gang, note);
    line.erase(line.find_last_not_of(' ') + 1);
    return line + '\n';
  };
  std::cout << row("Name", "Strength", "Rate", "Gang", "");
  for (const auto& e : entries) {
    std::string note;
    if (!e.buildable)
      note = "cannot be built";
    else if (e.gang == "preview")
      note = "plays among the engine's best moves; previews your moves in 'play'";
    else if (e.gang == "engine")
      note = e.strength == "1200" ? "the engine at a UCI-limited strength; HOUD20c:1500 picks another"
                                  : "the engine at its lowest UCI-limited strength (1200 asked); HOUD20c:1500 picks another";
    std::cout << row(e.name, e.strength, e.rate, e.gang, note);
  }
}

}  // namespace

void add_list_command(CLI::App& app) {
  app.add_subcommand("list", "list the personas you can play against")->callback(run_list);
}

}  // namespace ai_players::app
