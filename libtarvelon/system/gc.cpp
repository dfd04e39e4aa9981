// The per-instance allocation list: a growable array of owned pointers that is
// freed as a whole when the instance is destroyed.
#include <cstring>

#include "system/alloc.h"
#include "system/instance.h"

namespace {
int find_slot(const inst_t *ci, const void *ptr) {
  for (int i = 0; i < ci->gc_capacity; i++)
    if (ci->gc_list[i].ptr == ptr) return i;
  return -1;
}

bool size_overflows(size_t count, size_t size) { return size != 0 && count > SIZE_MAX / size; }
}  // namespace

void *tarvelon_gc_register_allocation(const char *, int, inst_t *ci, void *ptr, size_t, size_t) noexcept {
  if (!ptr) return nullptr;
  if (!ci) {
    tv_free(ptr);
    return nullptr;
  }
  int slot = ci->gc_list ? find_slot(ci, nullptr) : -1;
  if (slot < 0) {
    int32_t old_cap = ci->gc_list ? ci->gc_capacity : 0;
    int32_t new_cap = old_cap ? old_cap * 2 : 1024;
    auto *grown = static_cast<gc_t *>(tv_realloc(ci->gc_list, sizeof(gc_t) * size_t(new_cap)));
    if (!grown) {
      tv_free(ptr);
      return nullptr;
    }
    std::memset(grown + old_cap, 0, sizeof(gc_t) * size_t(new_cap - old_cap));
    ci->gc_list = grown;
    ci->gc_capacity = new_cap;
    slot = old_cap;
  }
  ci->gc_list[slot].ptr = ptr;
  return ptr;
}

void *tarvelon_gc_update_allocation(const char *file, int line, inst_t *ci, void *old_ptr, void *new_ptr,
                                    size_t count, size_t size) noexcept {
  if (!new_ptr) return nullptr;  // failed reallocation: the old entry stays
  if (!ci) return new_ptr;
  int slot = (old_ptr && ci->gc_list) ? find_slot(ci, old_ptr) : -1;
  if (slot < 0) return tarvelon_gc_register_allocation(file, line, ci, new_ptr, count, size);
  ci->gc_list[slot].ptr = new_ptr;
  return new_ptr;
}

void gc_free(inst_t *ci, void *ptr) noexcept {
  if (!ci || !ptr || !ci->gc_list) return;
  int slot = find_slot(ci, ptr);
  if (slot < 0) return;
  tv_free(ptr);
  ci->gc_list[slot].ptr = nullptr;
}

void gc_cleanup(inst_t *ci) noexcept {
  if (!ci) return;
  if (ci->gc_list)
    for (int i = 0; i < ci->gc_capacity; i++) tv_free(ci->gc_list[i].ptr);
  tv_free(ci->gc_list);
  ci->gc_list = nullptr;
  ci->gc_capacity = 0;
}

void *gc_calloc(inst_t *ci, size_t count, size_t size) noexcept {
  if (!ci || size_overflows(count, size)) return nullptr;
  return tarvelon_gc_register_allocation(__FILE__, __LINE__, ci, tv_calloc(count, size), count, size);
}

void *gc_realloc(inst_t *ci, void *old_ptr, size_t count, size_t size) noexcept {
  if (!ci || size_overflows(count, size)) return nullptr;
  if (old_ptr && find_slot(ci, old_ptr) < 0) return nullptr;  // never resize what we do not own
  void *p = tv_realloc(old_ptr, count * size);
  if (!p) return nullptr;
  void *r = tarvelon_gc_update_allocation(__FILE__, __LINE__, ci, old_ptr, p, count, size);
  return r;
}
