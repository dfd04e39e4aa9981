// Every heap block of the core goes through these, so tests can count
// allocations (to prove processing allocates nothing) and inject failures.
#pragma once
#include <cstddef>
#include <cstdint>

// [any thread] These are the only allocator calls in the core.
void *tv_calloc(size_t count, size_t size) noexcept;
void *tv_realloc(void *p, size_t bytes) noexcept;
void tv_free(void *p) noexcept;

// Returns freed heap pages to the system where the C library keeps them
// (after a large layer is dropped, so an editor's resident size shows only
// what it keeps). [GUI thread] may take some milliseconds
void tv_trim_heap() noexcept;

// Number of successful tv_calloc/tv_realloc calls since process start.
uint64_t tv_alloc_count() noexcept;
// Test hook: the next `after` allocations succeed, the one after fails; -1 disables.
void tv_alloc_fail_after(int64_t after) noexcept;
