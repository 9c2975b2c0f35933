#include "ai_players/core/analysis.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include "ai_players/core/errors.h"
#include "ai_players/core/random.h"
#include "ai_players/host/common.h"

namespace ai_players {

void Analysis::print_me(int pvnum) const {
  const auto n = static_cast<std::size_t>(std::clamp<long long>(pvnum, 0, static_cast<long long>(pv_list.size())));
  std::vector<std::string> shown(pv_list.begin(), pv_list.begin() + static_cast<std::ptrdiff_t>(n));
  common::echo(format_s("depth:%s, score:%s, pv_list=%s", depth, score, shown));
}

int MATE_IN(double x) {
  require(x > 0);
  return static_cast<int>(common::MATE - x * common::MATECP);
}

bool chance(double prob) {
  require(prob >= -0.5 && prob <= 1.5);
  return random_real() <= prob;
}

namespace {
LineSink& bug_sink() {
  static LineSink sink;
  return sink;
}
}  // namespace

LineSink set_bugprint_sink(LineSink sink) { return std::exchange(bug_sink(), std::move(sink)); }

void bugprint_lines(const std::vector<std::optional<std::string>>& values) {
  for (const auto& v : values) {
    if (!v) continue;
    if (auto& sink = bug_sink())
      sink(*v);
    else
      std::cout << *v << '\n';
  }
  std::cout << std::flush;
}

}  // namespace ai_players
