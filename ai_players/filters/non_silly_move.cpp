// The fall-back choice of the gang personas: a move that survives the chain
// of blunder filters, with a few human reflexes taken first.
#include <algorithm>
#include <cstdlib>
#include <set>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"
#include "ai_players/engine/ai_basic.h"

namespace ai_players {

namespace {

// Take back the piece that has just moved, if it is in sight or if it has
// just taken something bigger than a pawn.
MovePtr recapture_of(const MoveList& topD2moves, const board::Move& lastply, int see_range) {
  using namespace common;
  for (const MovePtr& m : topD2moves) {
    if (m->ToSQ != lastply.ToSQ) continue;
    if (distance_(m->FromSQ, m->ToSQ) <= see_range || std::abs(lastply.Captured) > Pawn) {
      echo("nonsillymove: capture_lastply.piece");
      return m;
    }
  }
  return nullptr;
}

// A move among those that survived the filters.
MovePtr pick_among_filtered(const MoveList& filtered, const MoveList& topD2moves) {
  using namespace common;
  // A piece with very few moves left (typically a king in trouble): the
  // filters know too little there, so trust the candidates now and then.
  std::set<int> from_squares;
  for (const MovePtr& m : filtered) from_squares.insert(m->FromSQ);
  if (filtered.size() <= 4 && from_squares.size() == 1 && random_real() < 0.33) {
    echo("nonsillymove: constrained_king_situation -> topd2moves");
    return choice(topD2moves);
  }

  echo(format_s("nonsillymove: general, %s choices", filtered.size()));
  // Pawn moves are accepted reluctantly, double steps even more so.
  while (true) {
    const MovePtr r = choice(filtered);
    if (std::abs(r->Piece) != Pawn) return r;
    if (random_real() < 0.1) return r;
    if (std::abs(r->FromSQ - r->ToSQ) != 2 && random_real() < 0.1) return r;
  }
}

}  // namespace

MovePtr AI_BASIC::SelectNonSillyMove(const MoveList& topD2moves, int analyse_depth) {
  using namespace common;
  require_last_move(!game_history.empty());
  const MovePtr lastply = game_history.back();

  const std::vector<Analysis> analyses = obtain_engine_thoughts(99, analyse_depth);
  if (analyses.size() == 1) {
    echo("nonsillymove: len_analyses==1 -> topd2moves");
    return choice(topD2moves);
  }
  const auto recapture = [&] { return recapture_of(topD2moves, *lastply, SEE_RANGE); };
  // Cut short: too few lines to judge every move by. The recapture needs
  // none; after it the candidates decide.
  if (analyses.size() < std::min<std::size_t>(99, legalmoves.size())) {
    if (MovePtr m = recapture()) return m;
    echo(format_s("nonsillymove: cut short with %s of %s lines -> topd2moves", analyses.size(),
                  std::min<std::size_t>(99, legalmoves.size())));
    return choice(topD2moves);
  }
  EnhanceMovesInfo(analyses);
  if (MovePtr m = recapture()) return m;

  MoveList filtered = Filter_LastPlyThreats(*lastply, SEE_RANGE + 1);
  filtered = Filter_SillyPlacements(filtered);
  filtered = Filter_SuicideMoves(filtered, SCAN_N, SEE_RANGE);
  filtered = Filter_QueenProtection(filtered, *lastply);

  if (MovePtr capturemove = nonSilly_capture_mania_(topD2moves, *lastply, filtered)) return capturemove;

  if (filtered.empty()) {
    echo("nonsillymove: no_moves -> topd2moves");
    return choice(topD2moves);
  }

  return pick_among_filtered(filtered, topD2moves);
}

}  // namespace ai_players
