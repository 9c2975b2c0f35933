#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "ai_players/core/random.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

namespace {
// Starting squares of both sides' knights, bishops and centre pawns.
constexpr std::array<int, 12> DEVELOPING_SQUARES = {
    common::B1, common::C1, common::F1, common::G1, common::E2, common::D2,
    common::B8, common::C8, common::F8, common::G8, common::E7, common::D7};

MoveList moves_where(const MoveList& moves, auto keep) {
  MoveList out;
  std::copy_if(moves.begin(), moves.end(), std::back_inserter(out),
               [&](const MovePtr& m) { return keep(*m); });
  return out;
}

// The rate-based draws use rate^0.7: a gentler curve than the square root.
bool rate_chance(double rate) { return chance(std::pow(rate, 0.7)); }
}  // namespace

MovePtr AI_BASIC::ConsiderTopD2Moves(int best_score, const MoveList& topD2moves, double d2_rate,
                                     const std::vector<Analysis>& /*analyses*/) {
  d2_rate = d2_rate > 0 ? d2_rate : 0;
  const int material_balance = calc_material_balance(myside);

  if (best_score >= MATE_IN(3)) return choice(topD2moves);

  const MoveList forcing = moves_where(topD2moves, [](const board::Move& m) {
    return std::abs(m.Piece) == common::King || m.Captured != 0 || m.IsPromotion;
  });
  if (!forcing.empty() && rate_chance(d2_rate)) return choice(forcing);

  if (material_balance > common::Queen + common::Bishop && board.MoveNumber > 20)
    return choice(topD2moves);

  if (material_balance > common::Rook && d2_rate < 0.4) {
    d2_rate += std::min(material_balance / 100.0, 0.2);
    d2_rate = std::min(d2_rate, 0.4);
  }

  if (board.MoveNumber <= 10 && rate_chance(d2_rate)) {
    const MoveList developing = moves_where(topD2moves, [](const board::Move& m) {
      return std::find(DEVELOPING_SQUARES.begin(), DEVELOPING_SQUARES.end(), m.FromSQ) !=
             DEVELOPING_SQUARES.end();
    });
    if (!developing.empty()) return choice(developing);
  }

  if (chance(d2_rate)) return choice(topD2moves);
  return nullptr;
}

}  // namespace ai_players
