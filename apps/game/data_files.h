// Where the shipped data (openings, the measured ratings) is found.
#pragma once

#include <string>
#include <string_view>

namespace ai_players::app {

// `relative` below the source tree's data folder, or below ./data in a build
// that was not told where it is.
std::string data_file(std::string_view relative);

}  // namespace ai_players::app
