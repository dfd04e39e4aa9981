// Re-entrant mutexes: the owning thread may lock again (an undo step holds the
// processing lock and calls the end-of-edit operation, which takes it too).
#pragma once
#include <mutex>

struct vl_mutex_t {
  std::recursive_mutex m;
};

// Constructs a mutex in caller-provided storage of at least sizeof(vl_mutex_t)
// bytes (the core hands it a zeroed 64-byte block). [any thread] no allocation
void vl_mutex_init(vl_mutex_t *mx) noexcept;
void vl_mutex_destroy(vl_mutex_t *mx) noexcept;
// Null mutexes are ignored, so paths that run before the mutexes exist need no test.
void vl_mutex_lock(vl_mutex_t *mx) noexcept;
void vl_mutex_unlock(vl_mutex_t *mx) noexcept;

// How many vl_mutex locks the calling thread holds (re-entries counted).
int vl_mutex_locks_held() noexcept;
// A function the calling thread runs once it has released its last vl_mutex
// (after the unlock). One per thread; null clears it. [any thread]
void vl_mutex_set_release_hook(void (*hook)()) noexcept;

static_assert(sizeof(vl_mutex_t) <= 64, "the core reserves 64 bytes per mutex");

// Scope guard for a vl_mutex_t that may be null.
class vl_lock_guard {
 public:
  explicit vl_lock_guard(vl_mutex_t *mx) noexcept : mx_(mx) { vl_mutex_lock(mx_); }
  ~vl_lock_guard() { vl_mutex_unlock(mx_); }
  vl_lock_guard(const vl_lock_guard &) = delete;
  vl_lock_guard &operator=(const vl_lock_guard &) = delete;

 private:
  vl_mutex_t *mx_;
};
