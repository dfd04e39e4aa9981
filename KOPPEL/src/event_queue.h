// Bounded lock-free queue (multi-producer, multi-consumer) of KOPPEL events:
// edit reports travel from the editor or main thread to whichever thread
// next talks to the host, without locking or allocating. Full queues drop and
// count what they dropped.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "koppel_interface.h"

template <size_t Capacity>
class koppel_event_queue {
  static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

 public:
  koppel_event_queue() {
    for (size_t i = 0; i < Capacity; i++) cells_[i].seq.store(i, std::memory_order_relaxed);
  }

  bool push(const KoppelEvent &e) noexcept {
    size_t pos = tail_.load(std::memory_order_relaxed);
    for (;;) {
      cell &c = cells_[pos & (Capacity - 1)];
      const size_t seq = c.seq.load(std::memory_order_acquire);
      const intptr_t diff = intptr_t(seq) - intptr_t(pos);
      if (diff == 0) {
        if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          c.event = e;
          c.seq.store(pos + 1, std::memory_order_release);
          return true;
        }
      } else if (diff < 0) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
      } else {
        pos = tail_.load(std::memory_order_relaxed);
      }
    }
  }

  bool pop(KoppelEvent *out) noexcept {
    size_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
      cell &c = cells_[pos & (Capacity - 1)];
      const size_t seq = c.seq.load(std::memory_order_acquire);
      const intptr_t diff = intptr_t(seq) - intptr_t(pos + 1);
      if (diff == 0) {
        if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          *out = c.event;
          c.seq.store(pos + Capacity, std::memory_order_release);
          return true;
        }
      } else if (diff < 0) {
        return false;
      } else {
        pos = head_.load(std::memory_order_relaxed);
      }
    }
  }

  uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

 private:
  struct cell {
    std::atomic<size_t> seq;
    KoppelEvent event;
  };
  cell cells_[Capacity];
  alignas(64) std::atomic<size_t> head_{0};
  alignas(64) std::atomic<size_t> tail_{0};
  std::atomic<uint64_t> dropped_{0};
};
