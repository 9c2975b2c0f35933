// Why a typed move is not legal, in a player's words, where that is cheap to
// tell: "your king would be in check", "say which piece to promote to".
#pragma once

#include <string>
#include <string_view>

#include "ai_players/host/board.h"

namespace ai_players::app {

// The reason `text` (SAN or coordinates) names no legal move of `position`;
// empty when none of the simple reasons holds (the text is no move at all).
std::string why_not_legal(const board::Board& position, std::string_view text);

}  // namespace ai_players::app
