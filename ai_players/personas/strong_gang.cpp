// The strong personas: near-best moves at depth 2 to 4, now and then a
// master move followed by a few strong continuations.
#include "ai_players/personas/strong_gang.h"

#include <algorithm>
#include <utility>
#include <string>
#include <vector>

#include "ai_players/core/analysis.h"
#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/core/text.h"

namespace ai_players {

namespace {

// The persona "strong" takes its strength from its master rate (0.25 -> 250.0).
Number strong_elo(const std::string& name, Number m_rate, Number elo) {
  if (name != "strong") return elo;
  if (m_rate.is_integer()) return Number(static_cast<long long>(m_rate.value()) * 1000);
  return Number(m_rate.value() * 1000);
}

}  // namespace

bool STRONG_GANG::accepts(const std::string& name, Number m_rate, Number elo) {
  const double d2 = std::min(0.5 + m_rate.value() * 1.5, 0.975);
  return 0.5 <= d2 && d2 <= 1.0 && 0.0 <= m_rate.value() && m_rate.value() <= 0.5 &&
         strong_elo(name, m_rate, elo) != Number(-1);
}

STRONG_GANG::STRONG_GANG(const std::string& name, Number m_rate, Number elo, engine::EngineConfig config)
    : AI_BASIC(name, strong_elo(name, m_rate, elo), std::nullopt, std::move(config)),
      M_RATE(m_rate.value()),
      D2_RATE(std::min(0.5 + m_rate.value() * 1.5, 0.975)),
      NODES_(65536 + 5683200 * M_RATE),
      constructed_m_rate_(M_RATE) {
  MasterMove_Depth = 0;
  require(0.5 <= D2_RATE && D2_RATE <= 1.0);
  require(0.0 <= M_RATE && M_RATE <= 0.5);
  require(ELO != Number(-1));
  common::echo(format_s("gang:STRONG; elo:%s; D2_RATE:%s; M_RATE:%s", ELO, D2_RATE, m_rate));
}

MovePtr STRONG_GANG::GetReply_(std::optional<double> /*error_margin*/) {
  using common::echo;
  if (ELO.value() > 1400) M_RATE = 0.3 + random_real() * 0.1;
  // A keener master rate leaves less room for inaccurate moves.
  const int ERROR_MARGIN = static_cast<int>(42 / (1 + 2 * M_RATE));
  int ANALYSE_DEPTH = chance(M_RATE / 2) ? 4 : 2;
  if (ANALYSE_DEPTH == 2 && chance(M_RATE * 2)) ANALYSE_DEPTH = 3;
  SCAN_N = true;
  SEE_RANGE = 8;

  // Fresh master moves are rarer while a master sequence is still running deep.
  double m_rate = M_RATE;
  if (MasterMove_Depth >= 4) m_rate = m_rate / 3;
  if (chance(m_rate)) {
    echo(format_s("m-move @ move %s", board.MoveNumber));
    return GetMasterMove(NODES_);
  }
  if (MasterMove_Depth != 0) {
    echo(format_s("master_continuation %s depth", MasterMove_Depth));
    if (MovePtr move = GetMasterMove_Continuation_(static_cast<long long>(NODES_ / 2))) return move;
  }

  if (ANALYSE_DEPTH != 2) echo(format_s("d2_depth=%s", ANALYSE_DEPTH));
  TopMoves top = ListTopMoves(ERROR_MARGIN, 16, ANALYSE_DEPTH, std::nullopt, 1);
  if (MovePtr topmove = ConsiderTopD2Moves(top.bestline.score, top.topmoves, D2_RATE, top.analyses)) {
    std::vector<std::string> sans;
    for (const MovePtr& m : top.topmoves) sans.push_back(m->to_SAN(legalmoves));
    echo(format_s("topmove of %s", to_text(sans)));
    return topmove;
  }

  require_last_move(!game_history.empty());
  if (game_history.back()->Captured == 0) {
    DEBUG_analyses = top.analyses;
    DEBUG_topD2moves = top.topmoves;
    echo(".x.-select-non-sillymove");
    return SelectNonSillyMove(top.topmoves, 3);
  }
  // In the middle of an exchange any candidate will do.
  echo(format_s("%s capture-sequence", board.MoveNumber));
  return choice(top.topmoves);
}

MovePtr STRONG_GANG::FallbackReply_() {
  const TopMoves top = ListTopMoves(static_cast<int>(42 / (1 + 2 * M_RATE)), 16, 2, std::nullopt, 1);
  return choice(top.topmoves);
}

}  // namespace ai_players
