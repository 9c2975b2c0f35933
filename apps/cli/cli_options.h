// Command-line options that several commands share, each read one way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "game/time_control.h"
#include "pgn/pgn_file.h"
#include "players/persona_factory.h"

namespace ai_players::app {

// --engine-timeout SECONDS (0: no watchdog) into the settings.
void add_engine_timeout_option(CLI::App* cmd, PersonaSettings& settings);

// A clock (--tc 60+1) or a time per move (--movetime MS), one or the other.
struct ClockOptions {
  std::optional<TimeControl> clock;
  std::optional<milliseconds> movetime;
  bool unlimited = false;  // --movetime 0, where it is allowed
  // The time per move: the one given, none for --movetime 0, else `fallback`.
  std::optional<milliseconds> think_limit(milliseconds fallback) const {
    return unlimited ? std::nullopt : std::optional(movetime.value_or(fallback));
  }
};
// With `zero_is_unlimited`, --movetime 0 asks for no limit at all.
void add_clock_options(CLI::App* cmd, ClockOptions& options, const std::string& tc_help,
                       const std::string& movetime_help, bool zero_is_unlimited = false,
                       PlainBase plain = PlainBase::Seconds);

// --seed: a whole number from 0 to 2^64-1, said plainly when it is not.
CLI::Option* add_seed_option(CLI::App* cmd, std::optional<std::uint64_t>& seed, const std::string& what);

// --fen: checked as soon as it is read.
void add_fen_option(CLI::App* cmd, std::string& fen, const std::string& help);

// --pgn FILE, and what becomes of a file that already holds games:
// --resume adds to it, --force replaces it, neither refuses it.
struct PgnOptions {
  std::string file;
  bool resume = false;
  bool force = false;
  PgnWrite mode() const { return resume ? PgnWrite::Append : force ? PgnWrite::Overwrite : PgnWrite::Fresh; }
};
void add_pgn_options(CLI::App* cmd, PgnOptions& options, const std::string& file_help, const std::string& resume_help);

// --db PATH and --no-db: where the player's games are kept.
struct DbOptions {
  std::string path;
  bool none = false;
  // The database to open: none with --no-db, else --db or the default path
  // (StoreError when there is no home folder for it).
  std::optional<std::string> chosen() const;
};
void add_db_options(CLI::App* cmd, DbOptions& options);

}  // namespace ai_players::app
