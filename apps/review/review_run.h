// `review` over a PGN file: every game judged, its outputs written, progress said.
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

namespace ai_players::app {

struct ReviewPlan {
  std::string file;
  int depth = 0;  // 0: kReviewDepth
  int jobs = 0;   // engines at once; 0: one per core
  int games = 0;  // 0: all
  std::string out;  // annotated PGN; empty: none
  std::string svg;  // evaluation graph(s); empty: none
  bool moves = false;  // print each game's moves with their marks
  std::optional<std::chrono::milliseconds> engine_timeout = std::chrono::seconds(60);
  bool verbose = false;
  bool live = false;  // progress on a terminal: one line redrawn in place
};

// The engines a review runs at once when not told: one per core.
int default_review_jobs();

// Summaries on `out`, progress and skipped games on `log`. Throws UserError
// when nothing could be reviewed.
void run_review(const ReviewPlan& plan, std::ostream& out, std::ostream& log);

}  // namespace ai_players::app
