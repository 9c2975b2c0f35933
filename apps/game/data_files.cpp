#include "game/data_files.h"

#ifndef AI_PLAYERS_DATA_DIR
#define AI_PLAYERS_DATA_DIR "data"
#endif
#ifndef AI_PLAYERS_WEB_DIR
#define AI_PLAYERS_WEB_DIR "web"
#endif

namespace ai_players::app {

std::string data_file(std::string_view relative) { return std::string(AI_PLAYERS_DATA_DIR "/") + std::string(relative); }

std::string source_web_root() { return AI_PLAYERS_WEB_DIR; }

}  // namespace ai_players::app
