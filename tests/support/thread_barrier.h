// A reusable barrier on a mutex and a condition variable. std::barrier waits
// on atomics, and the MinGW runtime's fallback for that can miss a wake-up
// and hang; this one behaves the same everywhere.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

class thread_barrier {
 public:
  explicit thread_barrier(int count) : count_(count) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t generation = generation_;
    if (++arrived_ == count_) {
      arrived_ = 0;
      generation_++;
      cv_.notify_all();
      return;
    }
    cv_.wait(lock, [&] { return generation_ != generation; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  const int count_;
  int arrived_ = 0;
  uint64_t generation_ = 0;
};
