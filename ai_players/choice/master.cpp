#include <algorithm>
#include <cmath>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

MovePtr AI_BASIC::GetMasterMove(double nodes, double error_margin) {
  common::echo("GetMasterMove");
  // A budget of 1e9 nodes or more is refused (the conversion truncates towards zero).
  require(std::isfinite(nodes) && nodes < 1e9);
  const auto mynodes = static_cast<long long>(nodes);

  TopMoves top = ListTopMoves(error_margin, 5, 0, mynodes);
  MasterMove_Depth = std::min(top.bestline.depth + 3, 30);
  MasterMove_M_Balance = calc_material_balance();
  return choice(top.topmoves);
}

MovePtr AI_BASIC::GetMasterMove_Continuation_(long long /*nodes*/) {
  if (!MasterMove_M_Balance)
    throw Error("master continuation without a master move: MasterMove_M_Balance is not set");
  const int material_lost = *MasterMove_M_Balance - calc_material_balance();

  // Keep the strength up for longer when the master line has cost material.
  if (material_lost >= 2 * common::Pawn)
    MasterMove_Depth -= 2;
  else if (material_lost >= common::Pawn)
    MasterMove_Depth -= 3;
  else
    MasterMove_Depth -= 4;

  if (MasterMove_Depth < 2) {
    MasterMove_Depth = 0;
    return nullptr;
  }
  TopMoves top = ListTopMoves(7, 2, MasterMove_Depth);
  return choice(top.topmoves);
}

}  // namespace ai_players
