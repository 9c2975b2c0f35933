// ai-players uci: a persona as a UCI engine for chess GUIs.
#include <iostream>
#include <mutex>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "uci/uci_session.h"

namespace ai_players::app {
namespace {

void run_uci(const std::string& requested, const PersonaSettings& settings) {
  const std::string name = playable_persona_name(requested);
  // Standard output carries UCI only; replies are written from a second thread.
  std::mutex out_mutex;
  UciSession session(
      name, playable_entries(),
      [&out_mutex](const std::string& line) {
        std::lock_guard<std::mutex> lock(out_mutex);
        std::cout << line << '\n' << std::flush;
      },
      settings);
  const common::ScopedEchoSink echo([&session](std::string_view text) { session.info(text); });
  const ScopedBugprintSink diagnostics([](std::string_view line) {
    if (line.find_first_not_of(" \r\n") != std::string_view::npos) std::cerr << line << std::endl;
  });
  std::string line;
  bool quit = false;
  while (!quit && std::getline(std::cin, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    quit = !session.handle(line);
  }
  // Input that just ends (a script piping commands in) still gets the reply it asked for.
  if (!quit) session.finish();
}

}  // namespace

void add_uci_command(CLI::App& app) {
  auto persona = std::make_shared<std::string>("Verevovera");
  auto settings = std::make_shared<PersonaSettings>();
  CLI::App* cmd = app.add_subcommand("uci", "speak UCI on standard input and output, as a persona");
  cmd->add_option("--persona", *persona, "the persona to play as")->capture_default_str();
  add_engine_timeout_option(cmd, *settings);
  cmd->callback([persona, settings] { run_uci(*persona, *settings); });
}

}  // namespace ai_players::app
