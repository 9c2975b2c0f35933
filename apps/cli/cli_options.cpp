#include "cli/cli_options.h"

#include <fmt/format.h>

#include "game/numbers.h"
#include "game/start_position.h"
#include "game/user_error.h"
#include "games_db/game_store.h"

namespace ai_players::app {
namespace {

// A flag's value read by `read`; what it says of a bad value becomes CLI11's own error.
template <class F>
auto flag_reader(const std::string& flag, F read) {
  return [flag, read](const std::string& text) {
    try {
      read(text);
    } catch (const UserError& e) {
      throw CLI::ValidationError(flag, e.what());
    }
  };
}

}  // namespace

void add_engine_timeout_option(CLI::App* cmd, PersonaSettings& settings) {
  cmd->add_option_function<std::string>(
         "--engine-timeout",
         flag_reader("--engine-timeout",
                     [&settings](const std::string& text) {
                       settings.engine_timeout = read_seconds(text, "--engine-timeout", 3600);
                     }),
         fmt::format("seconds a search may go without progress before the engine is told to stop (and killed if "
                     "it does not); 0: no limit; default {}",
                     PersonaSettings::kDefaultEngineTimeout.count() / 1000))
      ->type_name("SECONDS");
}

void add_clock_options(CLI::App* cmd, ClockOptions& options, const std::string& tc_help,
                       const std::string& movetime_help, bool zero_is_unlimited, PlainBase plain) {
  auto* clock = cmd->add_option_function<std::string>(
      "--tc",
      flag_reader("--tc",
                  [&options, plain](const std::string& text) { options.clock = parse_time_control(text, plain); }),
      tc_help);
  auto* movetime = cmd->add_option_function<std::string>(
      "--movetime",
      flag_reader("--movetime",
                  [&options, zero_is_unlimited](const std::string& text) {
                    const long long ms = read_whole(text, "--movetime", zero_is_unlimited ? 0 : 1, 86400000);
                    options.unlimited = ms == 0;
                    if (ms > 0) options.movetime = milliseconds(ms);
                  }),
      movetime_help);
  clock->excludes(movetime);
  movetime->excludes(clock);
}

CLI::Option* add_seed_option(CLI::App* cmd, std::optional<std::uint64_t>& seed, const std::string& what) {
  return cmd
      ->add_option_function<std::string>(
          "--seed", flag_reader("--seed", [&seed](const std::string& text) { seed = read_seed(text, "--seed"); }),
          what)
      ->type_name("S");
}

void add_fen_option(CLI::App* cmd, std::string& fen, const std::string& help) {
  cmd->add_option_function<std::string>(
      "--fen",
      flag_reader("--fen",
                  [&fen](const std::string& text) {
                    if (strip(text).empty()) throw UserError("the FEN is empty; leave --fen out for the standard start");
                    fen = checked_start_fen(text);
                  }),
      help);
}

void add_pgn_options(CLI::App* cmd, PgnOptions& options, const std::string& file_help,
                     const std::string& resume_help) {
  cmd->add_option("--pgn", options.file, file_help)->type_name("FILE");
  auto* resume = cmd->add_flag("--resume", options.resume, resume_help);
  auto* force = cmd->add_flag("--force", options.force, "replace the games a --pgn file already holds");
  resume->excludes(force);
  force->excludes(resume);
}

std::optional<std::string> DbOptions::chosen() const {
  if (none) return std::nullopt;
  return path.empty() ? GameStore::default_path() : path;
}

void add_db_options(CLI::App* cmd, DbOptions& options) {
  auto* db = cmd->add_option("--db", options.path, "the games database (default: $XDG_DATA_HOME/ai-players/games.db)")
                 ->type_name("PATH");
  auto* none = cmd->add_flag("--no-db", options.none, "keep no games");
  db->excludes(none);
  none->excludes(db);
}

}  // namespace ai_players::app
