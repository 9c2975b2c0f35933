// `review` over a PGN file: every game judged, its outputs written, progress said.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

namespace ai_players::app {

struct ReviewPlan {
  std::string file;
  int depth = 7;
  int games = 0;  // 0: all
  std::string out;  // annotated PGN; empty: none
  std::string svg;  // evaluation graph(s); empty: none
  std::optional<std::chrono::milliseconds> engine_timeout = std::chrono::seconds(60);
  bool verbose = false;
};

// Summaries on `out`, progress and skipped games on `log`. Throws UserError
// when nothing could be reviewed.
void run_review(const ReviewPlan& plan, std::ostream& out, std::ostream& log);

}  // namespace ai_players::app
