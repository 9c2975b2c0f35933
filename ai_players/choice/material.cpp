#include "ai_players/engine/ai_basic.h"

namespace ai_players {

int AI_BASIC::calc_material_balance(int colour) const {
  if (colour == 0) colour = myside;
  int material_balance = 0;
  // The kings cancel out; empty squares add nothing.
  for (int file = 1; file <= 8; ++file)
    for (int rank = 1; rank <= 8; ++rank)
      material_balance += board.posTable[static_cast<std::size_t>(common::square(file, rank))];
  return colour == common::BLACK ? -material_balance : material_balance;
}

}  // namespace ai_players
