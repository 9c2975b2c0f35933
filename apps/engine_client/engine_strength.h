// What strengths an engine offers through UCI_Elo, read from its answer to
// "uci" once per engine and program run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ai_players/engine/engine_config.h"

namespace ai_players::app {

struct EloRange {
  int min = 0;
  int max = 0;
};

// The engine's "option" lines, read up to its "uciok". The whole exchange
// has `patience`: an engine that exits, or talks on without "uciok", throws
// EngineError naming it.
std::vector<std::string> engine_option_lines(const engine::EngineConfig& config,
                                             std::chrono::milliseconds patience);

// The UCI_Elo range among option lines; none when the engine declares none.
std::optional<EloRange> elo_range_of(const std::vector<std::string>& option_lines);

// The range of the engine `config` names, asked once per path for the life of
// the program; throws as engine_option_lines does (and again on the next call).
std::optional<EloRange> engine_elo_range(const engine::EngineConfig& config, std::chrono::milliseconds patience);

// The strength HOUD20c really plays when `asked` on such an engine: the
// nearest multiple of 10 inside the range.
int playable_elo(int asked, const std::optional<EloRange>& range);

}  // namespace ai_players::app
