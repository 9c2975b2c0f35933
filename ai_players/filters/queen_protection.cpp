// Care for the queen: usually avoid moves that let it be taken; otherwise,
// when the opponent has just taken ours, take back on that square.
#include <cstdlib>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

MoveList AI_BASIC::Filter_QueenProtection(const MoveList& moveslist, const board::Move& lastply) {
  using common::Queen;
  MoveList filtered = moveslist;
  if (chance(0.667)) {
    filtered.clear();
    for (const MovePtr& m : moveslist) {
      // The score test comes first: a move without a known reply has no
      // R1_Captured to look at.
      const bool loses_queen = m->ErrorScore.value() > 375 && std::abs(m->R1_Captured.value()) == Queen;
      if (!loses_queen) filtered.push_back(m);
    }
    common::echo(format_s("filter_QueenProtection: %s -> %s", moveslist.size(), filtered.size()));
    return filtered;
  }
  if (std::abs(lastply.Captured) == Queen) {
    MoveList li;
    for (const MovePtr& m : moveslist)
      if (m->ToSQ == lastply.ToSQ) li.push_back(m);
    common::echo(format_s("filter_QueenProtection: %s -> %s", moveslist.size(), li.size()));
    if (!li.empty()) filtered = li;
  }
  return filtered;
}

MoveList AI_BASIC::Filter_KB2_Square_Protection(const MoveList& /*moveslist*/) {
  throw Error("Filter_KB2_Square_Protection DISABLED FOR NOW");
}

}  // namespace ai_players
