// Values read and written by both the audio and the editor thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

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

// A small record several threads write now and then and readers need whole:
// a sequence lock over atomic words. Readers never block writers; they retry
// while a write is in progress. Writers exclude each other with a spin flag
// (writes are rare and short).
template <class T>
class seqlocked {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 8 == 0);
  static constexpr size_t kWords = sizeof(T) / 8;

 public:
  seqlocked() noexcept { store(T{}); }
  void store(const T &v) noexcept {
    uint64_t w[kWords];
    std::memcpy(w, &v, sizeof w);
    while (writer_.test_and_set(std::memory_order_acquire)) {
    }
    seq_.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; i++) words_[i].store(w[i], std::memory_order_relaxed);
    seq_.fetch_add(1, std::memory_order_release);
    writer_.clear(std::memory_order_release);
  }
  T load() const noexcept {
    uint64_t w[kWords];
    for (;;) {
      const uint32_t s1 = seq_.load(std::memory_order_acquire);
      if (s1 & 1u) continue;
      for (size_t i = 0; i < kWords; i++) w[i] = words_[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == s1) break;
    }
    T v;
    std::memcpy(&v, w, sizeof v);
    return v;
  }

 private:
  std::atomic<uint32_t> seq_{0};
  std::atomic<uint64_t> words_[kWords]{};
  mutable std::atomic_flag writer_ = ATOMIC_FLAG_INIT;
};
