#include "terminal/line_input.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace ai_players::app {

struct LineInput::Shared {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Line> lines;
  bool eof = false;
  bool interrupted = false;
  bool woken = false;
};

LineInput::LineInput(std::istream& in) : shared_(std::make_shared<Shared>()) {
  // The reader owns a share of the state: it may outlive this object while
  // it waits for a line that never comes.
  std::thread([shared = shared_, &in] {
    std::string text;
    while (std::getline(in, text)) {
      const std::lock_guard lock(shared->mutex);
      shared->lines.push_back({text, std::chrono::steady_clock::now()});
      shared->arrived.notify_all();
    }
    const std::lock_guard lock(shared->mutex);
    shared->eof = true;
    shared->arrived.notify_all();
  }).detach();
}

LineInput::~LineInput() = default;

std::optional<LineInput::Line> LineInput::next(std::chrono::milliseconds timeout) {
  return next_since(TimePoint::min(), timeout);
}

std::optional<LineInput::Line> LineInput::next_since(TimePoint since, std::chrono::milliseconds timeout) {
  std::unique_lock lock(shared_->mutex);
  const auto found = [&] {
    for (auto it = shared_->lines.begin(); it != shared_->lines.end(); ++it)
      if (it->at >= since) return it;
    return shared_->lines.end();
  };
  // Once the input has ended no new line comes: only next() returns at once.
  const bool any = since == TimePoint::min();
  shared_->arrived.wait_for(lock, timeout, [&] {
    return shared_->interrupted || shared_->woken || (any && shared_->eof) || found() != shared_->lines.end();
  });
  shared_->woken = false;
  if (shared_->interrupted) return std::nullopt;
  const auto it = found();
  if (it == shared_->lines.end()) return std::nullopt;
  Line line = std::move(*it);
  shared_->lines.erase(it);
  return line;
}

void LineInput::put_back(Line line) {
  const std::lock_guard lock(shared_->mutex);
  shared_->lines.push_front(std::move(line));
}

bool LineInput::ended() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->eof && shared_->lines.empty();
}

void LineInput::wake() {
  const std::lock_guard lock(shared_->mutex);
  shared_->woken = true;
  shared_->arrived.notify_all();
}

void LineInput::interrupt() {
  const std::lock_guard lock(shared_->mutex);
  shared_->interrupted = true;
  shared_->arrived.notify_all();
}

bool LineInput::interrupted() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->interrupted;
}

}  // namespace ai_players::app
