// Edit reports waiting for the host, at most one per parameter: the editor or
// main thread posts, whichever thread next talks to the host takes them, and
// neither locks, allocates or waits. A burst of any length (an undo reports
// every parameter) needs no more room than one slot per parameter, so nothing
// is ever dropped, and each taken report is one whole gesture: begin, the
// latest value, end.
#pragma once
#include <atomic>
#include <cstdint>

template <uint32_t Count>
class koppel_edit_mailbox {
  static_assert(Count >= 1 && Count <= 64, "one bit per parameter");

 public:
  // [any thread] The latest value of parameter `id`; an id outside the set is refused.
  bool post(uint32_t id, double value) noexcept {
    if (id >= Count) return false;
    values_[id].store(value, std::memory_order_relaxed);
    pending_.fetch_or(uint64_t(1) << id, std::memory_order_release);
    return true;
  }

  // [any thread] Hands each pending (id, value) to `send`, lowest id first.
  // `send` returns false when the host could not take it: that report stays
  // pending (with any newer value) for the next call.
  template <class Send>
  void take(Send send) noexcept {
    uint64_t bits = pending_.exchange(0, std::memory_order_acquire);
    for (uint32_t id = 0; bits; id++, bits >>= 1) {
      if (!(bits & 1)) continue;
      if (!send(id, values_[id].load(std::memory_order_relaxed)))
        pending_.fetch_or(uint64_t(1) << id, std::memory_order_relaxed);
    }
  }

  bool empty() const noexcept { return pending_.load(std::memory_order_relaxed) == 0; }

 private:
  std::atomic<uint64_t> pending_{0};
  std::atomic<double> values_[Count]{};
};
