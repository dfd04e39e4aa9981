// Reference counts of an object made of several COM-style parts: each part
// has its own count for the host, and one lifetime count over all of them
// decides when the whole object goes, exactly once.
#pragma once
#include <atomic>
#include <cstdint>

inline uint32_t part_add_ref(std::atomic<int32_t> &part, std::atomic<int32_t> &lifetime) {
  lifetime.fetch_add(1, std::memory_order_relaxed);
  return uint32_t(part.fetch_add(1, std::memory_order_relaxed) + 1);
}

// A host that releases a part more often than it holds it (some treat a part
// they got from queryInterface as an object of its own) must not take the
// whole object down while other parts are in use: a part already at 0 is left
// alone. `destroy` runs when the lifetime count reaches 0; the return value is
// a local, as the object may be gone.
template <class Destroy>
uint32_t part_release(std::atomic<int32_t> &part, std::atomic<int32_t> &lifetime, Destroy destroy) {
  int32_t n = part.load(std::memory_order_relaxed);
  do {
    if (n <= 0) return 0;
  } while (!part.compare_exchange_weak(n, n - 1, std::memory_order_relaxed));
  // acq_rel: the thread that frees sees every other thread's last use.
  if (lifetime.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy();
  return uint32_t(n - 1);
}
