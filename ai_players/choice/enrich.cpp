#include <string>
#include <vector>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

namespace {
void print_line(const Analysis& a) { bugprint(a.depth, a.score, a.pv_list); }
}  // namespace

MoveList& AI_BASIC::EnhanceMovesInfo(const std::vector<Analysis>& analyses) {
  const int best_score = analyses.at(0).score;
  const auto& pos = board.posTable;
  for (const MovePtr& move : legalmoves) {
    const std::string move_coord = move->to_coord();
    std::vector<const Analysis*> filtered;
    for (const Analysis& a : analyses)
      if (a.pv_list.at(0) == move_coord) filtered.push_back(&a);

    if (filtered.size() != 1) {
      bugprint("***  DEBuG of filtered_analyses != 1  ***");
      bugprint(format_s("move_coord = %s", move_coord));
      bugprint("len_analyses, legals, filtereds", analyses.size(), legalmoves.size(), filtered.size());
      bugprint("\noutput->filtered_analyses");
      for (const Analysis* a : filtered) print_line(*a);
      bugprint("\noutput->analyses");
      for (const Analysis& a : analyses) print_line(a);
      bugprint("--------- prev->", DEBUG_analyses.size());
      for (const Analysis& a : DEBUG_analyses) print_line(a);
      for (const MovePtr& m : DEBUG_topD2moves) bugprint(m->to_coord());
      bugprint("===============");
      throw AssertionError{};
    }

    const Analysis& analysis = *filtered.front();
    if (analysis.pv_list.size() == 1) {
      // No expected reply (a mating move, say): nothing to judge the reply by.
      move->ErrorScore = -1;
      continue;
    }
    move->Score = analysis.score;
    move->ErrorScore = best_score - analysis.score;
    require(*move->ErrorScore >= 0);

    const std::string& reply = analysis.pv_list[1];
    const int r1_from = common::to_num(reply.substr(0, 2));
    const int r1_to = common::to_num(reply.substr(2, 2));
    move->R1_FromSQ = r1_from;
    move->R1_ToSQ = r1_to;
    move->R1_Piece = pos.at(static_cast<std::size_t>(r1_from));
    move->R1_Captured = pos.at(static_cast<std::size_t>(r1_to));
    // A reply onto the move's target square takes the piece the move brings there.
    if (move->ToSQ == r1_to) move->R1_Captured = pos.at(static_cast<std::size_t>(move->FromSQ));
  }
  return legalmoves;
}

}  // namespace ai_players
