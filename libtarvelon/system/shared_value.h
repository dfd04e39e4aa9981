// Values read and written by both the audio and the editor thread.
#pragma once
#include <atomic>

// A scalar whose stores only need to become visible eventually (timers, display
// values, counters): relaxed atomic loads and stores with plain-value syntax.
template <class T>
class relaxed {
 public:
  relaxed() noexcept : v_(T{}) {}
  relaxed(T v) noexcept : v_(v) {}  // NOLINT: implicit by design
  relaxed(const relaxed &o) noexcept : v_(o.load()) {}
  relaxed &operator=(T v) noexcept {
    v_.store(v, std::memory_order_relaxed);
    return *this;
  }
  relaxed &operator=(const relaxed &o) noexcept { return *this = o.load(); }
  operator T() const noexcept { return load(); }  // NOLINT
  T load() const noexcept { return v_.load(std::memory_order_relaxed); }
  // Reads and clears in one step, so a store racing with the clear is never lost.
  T exchange(T v) noexcept { return v_.exchange(v, std::memory_order_relaxed); }
  relaxed &operator++() noexcept {
    v_.fetch_add(1, std::memory_order_relaxed);
    return *this;
  }
  relaxed &operator+=(T d) noexcept {
    *this = load() + d;  // single writer per field; no read-modify-write needed
    return *this;
  }

 private:
  std::atomic<T> v_;
};

// A flag that publishes other stores: raised with release, taken (tested and
// cleared) with acquire, so whoever clears it also sees what was written before
// it was raised.
class publish_flag {
 public:
  void raise() noexcept { v_.store(1, std::memory_order_release); }
  void clear() noexcept { v_.store(0, std::memory_order_relaxed); }
  bool take() noexcept { return v_.exchange(0, std::memory_order_acq_rel) != 0; }
  bool is_set() const noexcept { return v_.load(std::memory_order_acquire) != 0; }

 private:
  std::atomic<int> v_{0};
};
