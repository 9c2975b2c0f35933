// The server's threads: one per open connection, up to a limit.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace ai_players::app {

// A fixed pool lets a few clients that send their requests slowly hold every
// thread while the page waits; this one starts another thread while every
// thread is busy, up to `limit`, and queues connections only beyond it.
class ConnectionPool : public httplib::TaskQueue {
 public:
  // `queued`: kept at the number of connections waiting for a thread.
  ConnectionPool(std::size_t limit, std::atomic<std::size_t>& queued) : limit_(limit), queued_(queued) {}
  ~ConnectionPool() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(fn));
    if (jobs_.size() > idle_ && threads_.size() < limit_) threads_.emplace_back([this] { work(); });
    else ready_.notify_one();
    queued_ = jobs_.size() > idle_ ? jobs_.size() - idle_ : 0;
  }

  // Ends once every queued connection has been served.
  void shutdown() override {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();  // no thread is added once stopping
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      --idle_;
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      queued_ = jobs_.size() > idle_ ? jobs_.size() - idle_ : 0;
      lock.unlock();
      job();
      lock.lock();
    }
  }

  const std::size_t limit_;
  std::atomic<std::size_t>& queued_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace ai_players::app
