// Thin wrapper over std::recursive_mutex with placement construction.
#include "vl_mutex.h"

#include <new>

void vl_mutex_init(vl_mutex_t *mx) noexcept {
  if (mx) new (mx) vl_mutex_t();
}

void vl_mutex_destroy(vl_mutex_t *mx) noexcept {
  if (mx) mx->~vl_mutex_t();
}

void vl_mutex_lock(vl_mutex_t *mx) noexcept {
  if (mx) mx->m.lock();
}

void vl_mutex_unlock(vl_mutex_t *mx) noexcept {
  if (mx) mx->m.unlock();
}
