// Where the shipped data (openings, the measured ratings) and the page are found.
#pragma once

#include <string>
#include <string_view>

namespace ai_players::app {

// `relative` below the source tree's data folder, or below ./data in a build
// that was not told where it is.
std::string data_file(std::string_view relative);
// The source tree's web folder (./web in a build that was not told where it is).
std::string source_web_root();

}  // namespace ai_players::app
