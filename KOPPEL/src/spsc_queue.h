// Bounded single-producer single-consumer queue of trivially copyable values:
// one thread pushes, another pops, neither locks nor allocates. A full queue
// refuses the push.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

template <class T, size_t Capacity>
class spsc_queue {
  static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

 public:
  // [producer thread]
  bool push(const T &v) noexcept {
    const size_t h = head_.load(std::memory_order_relaxed);
    if (h - tail_.load(std::memory_order_acquire) >= Capacity) return false;
    items_[h & (Capacity - 1)] = v;
    head_.store(h + 1, std::memory_order_release);
    return true;
  }
  // [consumer thread] Hands every queued value to f, oldest first.
  template <class F>
  void drain(F f) noexcept {
    size_t t = tail_.load(std::memory_order_relaxed);
    const size_t h = head_.load(std::memory_order_acquire);
    for (; t != h; t++) f(items_[t & (Capacity - 1)]);
    tail_.store(t, std::memory_order_release);
  }

 private:
  T items_[Capacity];
  std::atomic<size_t> head_{0}, tail_{0};
};
