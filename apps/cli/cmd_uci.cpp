// ai-players uci: a persona as a UCI engine for chess GUIs.
#include <fstream>
#include <iostream>
#include <mutex>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "game/user_error.h"
#include "uci/uci_session.h"

namespace ai_players::app {
namespace {

void run_uci(const std::string& requested, const PersonaSettings& settings, const std::string& log_file) {
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
  // A GUI reads both our output streams: the personas' chatter goes out as
  // info strings, their diagnostics only to the log file when one is given.
  std::ofstream log;
  if (!log_file.empty()) {
    log.open(log_file, std::ios::app);
    if (!log) throw UserError("cannot write the log file " + log_file);
  }
  std::mutex log_mutex;
  const auto to_log = [&](std::string_view text) {
    if (!log.is_open() || text.find_first_not_of(" \r\n") == std::string_view::npos) return;
    const std::lock_guard lock(log_mutex);
    log << text << (text.ends_with('\n') ? "" : "\n") << std::flush;
  };
  const common::ScopedEchoSink echo([&](std::string_view text) {
    to_log(text);
    session.info(text);
  });
  const ScopedBugprintSink diagnostics(to_log);
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
  auto log = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("uci", "speak UCI on standard input and output, as a persona");
  cmd->add_option("--persona", *persona, "the persona to play as")->capture_default_str();
  cmd->add_option("--log", *log, "append the personas' messages and diagnostics to this file");
  add_engine_timeout_option(cmd, *settings);
  cmd->callback([persona, settings, log] { run_uci(*persona, *settings, *log); });
}

}  // namespace ai_players::app
