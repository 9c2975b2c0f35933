// What strengths an engine offers through UCI_Elo, asked once per engine.
#pragma once

#include <optional>
#include <string>

namespace ai_players::app {

struct EloRange {
  int min = 0;
  int max = 0;
};

// The UCI_Elo range the engine declares on "uci"; none when it declares none
// or cannot be asked. Remembered per path for the life of the program.
std::optional<EloRange> engine_elo_range(const std::string& engine_path);

// The strength HOUD20c really plays when `asked` on such an engine: the
// nearest multiple of 10 inside the range.
int playable_elo(int asked, const std::optional<EloRange>& range);

}  // namespace ai_players::app
