// What the host reads from an engine: the strength range it allows.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <tuple>

#include "engine_client/engine_strength.h"
#include "support/test_support.h"

namespace ai_players::app {
namespace {

TEST(EngineStrength, TheEngineRangeRoundsInward) {
  std::string text;
  // The least range is taken; multiples of 10 inside the range are played, and a
  // range with none leaves the asked strength alone.
  for (const char* spin : {"default 1320 min 1320 max 3190", "min 1 max 1", "min 0 max 3190", "min 2000 max 1999",
                           "min x max 3190", "min 1320", "min 1320 max", "max 3190"}) {
    const auto r = elo_range_of({"option name Hash type spin", "option name UCI_Elo type spin " + std::string(spin)});
    text += fmt::format("UCI_Elo {}: {}\n", spin, r ? fmt::format("{}..{}", r->min, r->max) : "none");
  }
  for (const auto& [asked, min, max] : {std::tuple{1200, 1320, 3190}, {1200, 1321, 3190}, {1330, 1321, 3190},
                                        {3200, 1320, 3199}, {3200, 1320, 3200}, {1500, 1321, 1329}, {1320, 1320, 1320}})
    text += fmt::format("{} in {}..{}: {}\n", asked, min, max, playable_elo(asked, EloRange{min, max}));
  text += fmt::format("1200 in no range: {}\n", playable_elo(1200, std::nullopt));
  testing_support::expect_as_in_file("engine_range.txt", text);
}

}  // namespace
}  // namespace ai_players::app
