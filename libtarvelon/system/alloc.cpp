#include "system/alloc.h"

#include <atomic>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
std::atomic<uint64_t> g_count{0};
std::atomic<int64_t> g_fail_after{-1};

bool should_fail() {
  int64_t n = g_fail_after.load(std::memory_order_relaxed);
  if (n < 0) return false;
  if (n == 0) {
    g_fail_after.store(-1, std::memory_order_relaxed);
    return true;
  }
  g_fail_after.store(n - 1, std::memory_order_relaxed);
  return false;
}
}  // namespace

void *tv_calloc(size_t count, size_t size) noexcept {
  if (should_fail()) return nullptr;
  void *p = std::calloc(count ? count : 1, size ? size : 1);
  if (p) g_count.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void *tv_realloc(void *p, size_t bytes) noexcept {
  if (should_fail()) return nullptr;
  void *q = std::realloc(p, bytes ? bytes : 1);
  if (q) g_count.fetch_add(1, std::memory_order_relaxed);
  return q;
}

void tv_free(void *p) noexcept { std::free(p); }

void tv_trim_heap() noexcept {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

uint64_t tv_alloc_count() noexcept { return g_count.load(std::memory_order_relaxed); }

void tv_alloc_fail_after(int64_t after) noexcept {
  g_fail_after.store(after, std::memory_order_relaxed);
}
