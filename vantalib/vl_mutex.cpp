// Thin wrapper over std::recursive_mutex with placement construction.
#include "vl_mutex.h"

#include <new>

void vl_mutex_init(vl_mutex_t *mx) noexcept {
  if (mx) new (mx) vl_mutex_t();
}

void vl_mutex_destroy(vl_mutex_t *mx) noexcept {
  if (mx) mx->~vl_mutex_t();
}

namespace {
thread_local int t_held = 0;
thread_local void (*t_release_hook)() = nullptr;
}  // namespace

void vl_mutex_lock(vl_mutex_t *mx) noexcept {
  if (!mx) return;
  mx->m.lock();
  t_held++;
}

void vl_mutex_unlock(vl_mutex_t *mx) noexcept {
  if (!mx) return;
  mx->m.unlock();
  if (--t_held == 0 && t_release_hook) {
    void (*hook)() = t_release_hook;
    t_release_hook = nullptr;  // a hook that locks again must not re-enter itself
    hook();
  }
}

int vl_mutex_locks_held() noexcept { return t_held; }

void vl_mutex_set_release_hook(void (*hook)()) noexcept { t_release_hook = hook; }
