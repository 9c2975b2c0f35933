#include "review/review_job.h"

#include <stdexcept>

namespace ai_players::app {
namespace {

struct Cancelled : std::runtime_error {
  Cancelled() : std::runtime_error("the review was cancelled") {}
};

}  // namespace

ReviewJob::ReviewJob(PgnGame record, JudgeMaker make_judge, int jobs, int depth) {
  total_ = record.san.size();
  runner_ = std::thread([this, record = std::move(record), make_judge = std::move(make_judge), jobs, depth]() mutable {
    run(std::move(record), std::move(make_judge), jobs, depth);
  });
}

ReviewJob::~ReviewJob() {
  cancelled_ = true;
  runner_.join();
}

void ReviewJob::run(PgnGame record, JudgeMaker make_judge, int jobs, int depth) {
  try {
    auto review = std::make_shared<GameReview>(
        review_game(1, record, make_judge, jobs, depth, [this](const ReviewStep& step) {
          if (cancelled_) throw Cancelled();
          const std::lock_guard lock(mutex_);
          done_ = step.done;
          total_ = step.total;
          if (step.moves) moves_ = *step.moves, judged_.assign(moves_.size(), false);
          if (step.judged && step.index < moves_.size()) moves_[step.index] = *step.judged, judged_[step.index] = true;
        }));
    const std::lock_guard lock(mutex_);
    review_ = std::move(review);
  } catch (...) {
    const std::lock_guard lock(mutex_);
    failure_ = std::current_exception();
  }
}

ReviewJob::Status ReviewJob::status() const {
  const std::lock_guard lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
  Status s{done_, total_, std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count(), {},
           review_, {}, {}};
  if (!review_) s.moves = moves_, s.judged = judged_;
  if (done_ > 0 && !review_)
    s.seconds_left = s.seconds / static_cast<double>(done_) * static_cast<double>(total_ - done_);
  return s;
}

}  // namespace ai_players::app
