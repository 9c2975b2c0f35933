#include "cli_options.h"

#include <charconv>
#include <cmath>
#include <random>
#include <stdexcept>

#include <fmt/format.h>

namespace ai_players::app {

std::optional<std::chrono::milliseconds> parse_seconds(const std::string& text) {
  double seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) || seconds < 0 ||
      seconds > 1e6)
    throw std::invalid_argument(fmt::format("'{}' is not a number of seconds from 0 to 1000000", text));
  if (seconds == 0) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

void add_engine_timeout_option(CLI::App* cmd, PersonaSettings& settings) {
  cmd->add_option_function<std::string>(
         "--engine-timeout",
         [&settings](const std::string& text) {
           try {
             settings.engine_timeout = parse_seconds(text);
           } catch (const std::invalid_argument& e) {
             throw CLI::ValidationError("--engine-timeout", e.what());
           }
         },
         fmt::format("seconds a search may run before the engine is told to stop (and killed if it does "
                     "not); 0: no limit; default {}",
                     PersonaSettings::kDefaultEngineTimeout.count() / 1000))
      ->type_name("SECONDS");
}

void add_clock_options(CLI::App* cmd, std::string& tc, long long& movetime_ms, const std::string& tc_help,
                       const std::string& movetime_help) {
  auto* clock = cmd->add_option("--tc", tc, tc_help);
  auto* movetime = cmd->add_option("--movetime", movetime_ms, movetime_help)->check(CLI::Range(1LL, 86400000LL));
  clock->excludes(movetime);
  movetime->excludes(clock);
}

CLI::Option* add_seed_option(CLI::App* cmd, std::optional<std::uint64_t>& seed, const std::string& what) {
  return cmd
      ->add_option_function<std::string>(
          "--seed",
          [&seed](const std::string& text) {
            std::uint64_t value = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec != std::errc() || end != text.data() + text.size())
              throw CLI::ValidationError("--seed", fmt::format("'{}' is not a whole number from 0 to "
                                                               "18446744073709551615",
                                                               text.size() > 40 ? text.substr(0, 40) + "..." : text));
            seed = value;
          },
          what)
      ->type_name("S");
}

std::uint64_t seed_or_random(const std::optional<std::uint64_t>& seed) {
  if (seed) return *seed;
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) | device();
}

}  // namespace ai_players::app
