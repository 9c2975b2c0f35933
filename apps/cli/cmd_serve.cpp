// ai-players serve: play the personas in a web browser.
#include <iostream>
#include <memory>
#include <mutex>

#include <fmt/format.h>

#include "ai_players/core/analysis.h"
#include "ai_players/host/common.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "game/numbers.h"
#include "serve/game_server.h"

namespace ai_players::app {
namespace {

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

void run_serve(ServeOptions options, const std::string& idle_text, const ClockOptions& clock, const DbOptions& db) {
  options.db = db.chosen();
  options.clock = clock.clock;
  options.think_limit = clock.think_limit(kDefaultThinkLimit);
  const auto idle = read_seconds(idle_text, "--idle-timeout", 7 * 86400);
  if (!idle) throw UserError("--idle-timeout: 0 is not a time a game may stay idle");
  options.idle_timeout = *idle;
  if (options.web_root.empty()) options.web_root = default_web_root();

  // The personas talk a lot; with several games at once their lines would
  // interleave, so they are shown only when asked for, one line at a time.
  auto lines = std::make_shared<std::mutex>();
  auto show = [lines, verbose = options.verbose](std::string_view text) {
    if (!verbose) return;
    const std::lock_guard lock(*lines);
    std::cerr << text << std::endl;
  };
  const common::ScopedEchoSink echo(show);
  const ScopedBugprintSink bugprint(show);

  // Ctrl-C and SIGTERM end every game (and its engines) before the program exits.
  GameServer* running = nullptr;
  std::mutex running_mutex;
  const StopSignals signals([&](int) {
    std::cerr << "Stopping: ending every game.\n";
    const std::lock_guard lock(running_mutex);
    if (running) running->stop();
  });
  GameServer server(options);
  const int port = server.bind();
  std::cout << fmt::format("Serving the personas on http://{}:{}/ ({}); Ctrl-C ends every game.\n",
                           options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host,
                           port,
                           is_loopback(options.host) ? "this machine only"
                                                     : "reachable from other machines: there is no password");
  if (options.web_root.empty())
    std::cout << "No page found (give --web-root); the JSON API is served.\n";
  std::cout << std::flush;

  {
    const std::lock_guard lock(running_mutex);
    running = &server;
    if (signals.received()) return;
  }
  server.run();
  const std::lock_guard lock(running_mutex);
  running = nullptr;
}

}  // namespace

void add_serve_command(CLI::App& app) {
  auto options = std::make_shared<ServeOptions>();
  options->human_pace = true;
  auto idle = std::make_shared<std::string>("1800");
  auto clock = std::make_shared<ClockOptions>();
  auto db = std::make_shared<DbOptions>();
  CLI::App* cmd = app.add_subcommand("serve", "play the personas in a web browser");
  cmd->add_option("--port", options->port, "port to listen on (0: any free one)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  cmd->add_option("--host", options->host,
                  "address to listen on; anything but a loopback address lets other machines play")
      ->capture_default_str();
  cmd->add_option("--max-games", options->max_games, "games (each with its own engines) at one time")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  cmd->add_option("--idle-timeout", *idle, "seconds a game may go without a request before it is ended")
      ->capture_default_str();
  cmd->add_option("--preview-depth", options->preview_depth,
                  "search depth of the preview and hint")
      ->capture_default_str()
      ->check(CLI::Range(1, 30));
  cmd->add_option("--review-depth", options->review_depth, "search depth of each judgement in a review")
      ->capture_default_str()
      ->check(CLI::Range(1, 40));
  cmd->add_flag("!--no-preview", options->preview,
                "no Verevovera per game: no preview, hint or review, one engine per game");
  cmd->add_option("--web-root", options->web_root, "folder of the page (default: web/ found beside the program)");
  cmd->add_flag("--verbose", options->verbose, "show the personas' own messages on standard error");
  cmd->add_flag("!--instant", options->human_pace, "the personas play as soon as they have chosen, not at a person's pace");
  add_clock_options(cmd, *clock,
                    "the games' default clock for each side: base minutes + increment seconds, e.g. 5+3 (the page "
                    "can choose another)",
                    fmt::format("the default milliseconds a persona may think per move (default {}; 0: no limit)",
                                kDefaultThinkLimit.count()),
                    true, PlainBase::Minutes);
  add_engine_timeout_option(cmd, options->persona);
  add_db_options(cmd, *db);
  cmd->callback([options, idle, clock, db] { run_serve(*options, *idle, *clock, *db); });
}

}  // namespace ai_players::app
