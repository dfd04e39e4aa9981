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
// two copies, each under a sequence count, and the index of the last one
// written. A writer fills the copy readers are not directed to and then points
// them at it, so a writer pre-empted half-way holds up nobody: readers retry
// only when a writer completed a copy during their read. Writers exclude each
// other with a flag; the audio thread takes it only with try_store, which never
// waits: when another writer holds it the value is owed, and the caller
// publishes again from its sources later (the next block).
template <class T>
class seqlocked {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 8 == 0);
  static constexpr size_t kWords = sizeof(T) / 8;

 public:
  seqlocked() noexcept { store(T{}); }

  // [editor and main threads] May wait for another writer's few stores.
  void store(const T &v) noexcept {
    while (writer_.test_and_set(std::memory_order_acquire)) {
    }
    write(v);
  }
  // [any thread, never waits] false when another writer holds the record:
  // nothing is stored and owed() reports it until take_owed().
  bool try_store(const T &v) noexcept {
    if (writer_.test_and_set(std::memory_order_acquire)) {
      owed_.store(true, std::memory_order_relaxed);
      return false;
    }
    write(v);
    return true;
  }
  bool owed() const noexcept { return owed_.load(std::memory_order_relaxed); }
  bool take_owed() noexcept { return owed_.exchange(false, std::memory_order_relaxed); }

  // [any thread] Never waits for a writer that stopped half-way.
  T load() const noexcept {
    uint64_t w[kWords];
    for (;;) {
      const copy &c = copies_[current_.load(std::memory_order_acquire)];
      const uint32_t s1 = c.seq.load(std::memory_order_acquire);
      if (s1 & 1u) continue;  // a writer went round both copies meanwhile
      for (size_t i = 0; i < kWords; i++) w[i] = c.words[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (c.seq.load(std::memory_order_relaxed) == s1) break;
    }
    T v;
    std::memcpy(&v, w, sizeof v);
    return v;
  }

  // For tests: holds the writer's flag as a pre-empted writer would.
  bool hold_writer() noexcept { return !writer_.test_and_set(std::memory_order_acquire); }
  void release_writer() noexcept { writer_.clear(std::memory_order_release); }

 private:
  struct copy {
    std::atomic<uint32_t> seq{0};
    std::atomic<uint64_t> words[kWords]{};
  };
  // [writer flag held] Fills the idle copy, then directs readers to it.
  void write(const T &v) noexcept {
    uint64_t w[kWords];
    std::memcpy(w, &v, sizeof w);
    const uint32_t next = current_.load(std::memory_order_relaxed) ^ 1u;
    copy &c = copies_[next];
    c.seq.fetch_add(1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t i = 0; i < kWords; i++) c.words[i].store(w[i], std::memory_order_relaxed);
    c.seq.fetch_add(1, std::memory_order_release);
    current_.store(next, std::memory_order_release);
    writer_.clear(std::memory_order_release);
  }

  copy copies_[2];
  std::atomic<uint32_t> current_{0};
  std::atomic<bool> owed_{false};
  mutable std::atomic_flag writer_ = ATOMIC_FLAG_INIT;
};
