// A review that runs on threads of its own while its caller goes on: the
// server starts one per game and answers with its progress until it is done.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "pgn/pgn_game.h"
#include "review/review.h"

namespace ai_players::app {

class ReviewJob {
 public:
  ReviewJob(PgnGame record, JudgeMaker make_judge, int jobs, int depth);
  ~ReviewJob();  // stops the review after the searches running now
  ReviewJob(const ReviewJob&) = delete;
  ReviewJob& operator=(const ReviewJob&) = delete;

  struct Status {
    std::size_t done = 0, total = 0;
    double seconds = 0;                   // since the start
    std::optional<double> seconds_left;   // once a move is judged
    std::shared_ptr<const GameReview> review;  // when finished
    // While running: every move as played, and whether it is judged yet
    // (a judged one has its mark at once).
    std::vector<MoveReview> moves;
    std::vector<bool> judged;
  };
  // Rethrows what stopped the review.
  Status status() const;

 private:
  void run(PgnGame record, JudgeMaker make_judge, int jobs, int depth);
  mutable std::mutex mutex_;
  std::size_t done_ = 0, total_ = 0;
  std::vector<MoveReview> moves_;
  std::vector<bool> judged_;
  std::shared_ptr<const GameReview> review_;
  std::exception_ptr failure_;
  std::atomic<bool> cancelled_{false};
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::thread runner_;
};

}  // namespace ai_players::app
