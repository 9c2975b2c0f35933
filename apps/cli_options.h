// Command-line options that several commands share, each read one way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "persona_factory.h"

namespace ai_players::app {

// --engine-timeout SECONDS (0: no watchdog) into the settings.
void add_engine_timeout_option(CLI::App* cmd, PersonaSettings& settings);

// --tc (a clock: "60+1") and --movetime (milliseconds per move), one or the other.
void add_clock_options(CLI::App* cmd, std::string& tc, long long& movetime_ms, const std::string& tc_help,
                       const std::string& movetime_help);

// --seed: a whole number from 0 to 2^64-1, said plainly when it is not.
CLI::Option* add_seed_option(CLI::App* cmd, std::optional<std::uint64_t>& seed, const std::string& what);

// The seed given, or one drawn from the system.
std::uint64_t seed_or_random(const std::optional<std::uint64_t>& seed);

// "60" or "2.5" seconds as milliseconds; throws std::invalid_argument otherwise.
std::optional<std::chrono::milliseconds> parse_seconds(const std::string& text);

}  // namespace ai_players::app
