#include "players/move_marks.h"

#include <algorithm>

#include "ai_players/core/score.h"

namespace ai_players::app {

Judgement judge(int loss) {
  if (loss >= kBlunderLoss) return Judgement::Blunder;
  if (loss >= kMistakeLoss) return Judgement::Mistake;
  if (loss >= kInaccuracyLoss) return Judgement::Inaccuracy;
  return Judgement::Good;
}

Judgement judgement_of(int loss, int played_score) {
  return capped(played_score) >= kStillWinning ? Judgement::Good : judge(loss);
}

std::string nag_of(Judgement judgement) {
  switch (judgement) {
    case Judgement::Inaccuracy: return "$6";
    case Judgement::Mistake: return "$2";
    case Judgement::Blunder: return "$4";
    case Judgement::Good: break;
  }
  return "";
}

std::string judgement_name(Judgement judgement) {
  switch (judgement) {
    case Judgement::Inaccuracy: return "inaccuracy";
    case Judgement::Mistake: return "mistake";
    case Judgement::Blunder: return "blunder";
    case Judgement::Good: break;
  }
  return "good";
}

int capped(int score) { return Score(score).clamped(kScoreCap); }

int loss_of(int best_score, int played_score) { return std::max(0, capped(best_score) - capped(played_score)); }

}  // namespace ai_players::app
