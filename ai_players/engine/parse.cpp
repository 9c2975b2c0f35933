#include <algorithm>
#include <cmath>

#include "ai_players/core/errors.h"
#include "ai_players/engine/ai_basic.h"
#include "ai_players/engine/uci_tokens.h"

namespace ai_players {

std::tuple<int, int, std::vector<std::string>> AI_BASIC::analyse_engine_outputline_(
    std::string_view engineline) {
  try {
    return parse_pv_line_(engineline);
  } catch (...) {
    bugprint("_analyse_output::", engineline);
    throw;
  }
}

std::tuple<int, int, std::vector<std::string>> AI_BASIC::parse_pv_line_(std::string_view engineline) {
  using namespace engine;
  const auto tokens = split_tokens(engineline);
  const int depth = to_int_strict(value_after(tokens, "depth"), "depth");
  int score;
  if (std::find(tokens.begin(), tokens.end(), "mate") != tokens.end()) {
    const std::size_t idx_mate = index_of(tokens, "mate");
    require(idx_mate > 0 && tokens[idx_mate - 1] == "score");
    const int mateInX = to_int_strict(value_after(tokens, "mate"), "mate");
    score = MATE_IN(std::abs(static_cast<double>(mateInX)));
    if (mateInX < 0) score = -score;
  } else {
    const bool has_cp = std::find(tokens.begin(), tokens.end(), "cp") != tokens.end();
    score = to_int_strict(value_after(tokens, has_cp ? "cp" : "score"), "score");
  }
  const std::size_t pv = index_of(tokens, "pv");
  std::vector<std::string> pv_list(tokens.begin() + static_cast<std::ptrdiff_t>(pv) + 1, tokens.end());
  return {score, depth, std::move(pv_list)};
}

}  // namespace ai_players
