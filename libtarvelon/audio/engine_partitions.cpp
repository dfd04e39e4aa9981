// Partition state: sizes, allocation, the filter in parts, and the products
// of a completed block with the parts (added at once or spread).
#include <atomic>
#include <cmath>
#include <cstring>

#include "audio/partitions.h"
#include "dsp/fft.h"
#include "dsp/fft_kernels.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "system/instance.h"

namespace {
std::atomic<bool> g_use_partitions{true};

double *at(double *base, int32_t index, int32_t M) { return base + size_t(index) * size_t(M); }

template <typename T>
bool resize(inst_t *ci, T **slot, size_t n) {
  auto *p = static_cast<T *>(gc_realloc(ci, *slot, n, sizeof(T)));
  if (!p) return false;
  *slot = p;
  return true;
}

template <typename T>
void release(inst_t *ci, T **slot) {
  if (*slot) gc_free(ci, *slot);
  *slot = nullptr;
}

// Everything more than one part needs, freed (one part: the engine runs the
// single transform and should not hold megabytes it never reads).
void release_all(inst_t *ci, tarvelon_partitions_t *pt) {
  for (int i = 0; i < 2; i++) {
    release(ci, &pt->sets[i]);
    release(ci, &pt->ring[i]);
    release(ci, &pt->filled[i]);
    release(ci, &pt->spectrum[i][0]);
    release(ci, &pt->spectrum[i][1]);
  }
  release(ci, &pt->scratch);
  pt->set_capacity = pt->ring_capacity = 0;
  pt->length_capacity = pt->parts_capacity = 0;
}
}  // namespace

void tarvelon_use_partitions(bool on) noexcept { g_use_partitions.store(on, std::memory_order_relaxed); }

int32_t tarvelon_partition_count(int32_t ksize, int32_t needed) noexcept {
  if (ksize < 1 || needed < 1) return 1;
  return int32_t((int64_t(ksize) + needed - 1) / needed);
}

int32_t tarvelon_partition_length(int32_t ksize, int32_t needed, int32_t fft_size) noexcept {
  if (tarvelon_partition_count(ksize, needed) <= 1) return fft_size;
  // Even lengths run a complex transform of half the length: about twice as
  // fast as the odd fast length next to them. N itself is a fast length of at
  // least 2 · needed (the kernel is longer than a block), so M never exceeds
  // it and the block buffers of N samples hold a padded block.
  int32_t m = next_fast_fft_size(int32_t(2 * int64_t(needed)));
  while (m % 2 != 0 && m < fft_size) {
    const int32_t next = next_fast_fft_size(m + 1);
    if (next > fft_size) break;
    m = next;
  }
  return m;
}

bool tarvelon_alloc_partitions(inst_t *ci) noexcept {
  if (!ci) return false;
  ci->parts = static_cast<tarvelon_partitions_t *>(gc_calloc(ci, 1, sizeof(tarvelon_partitions_t)));
  if (!ci->parts) return false;
  ci->parts->parts = 1;
  return true;
}

bool tarvelon_size_partitions(inst_t *ci, int32_t ksize, int32_t needed, int32_t fft_size) noexcept {
  if (!ci || !ci->parts) return false;
  tarvelon_partitions_t *pt = ci->parts;
  const int32_t P = g_use_partitions.load(std::memory_order_relaxed) ? tarvelon_partition_count(ksize, needed) : 1;
  pt->parts = 1;  // until everything below is in place
  if (P <= 1) {
    release_all(ci, pt);
    return true;
  }
  const int32_t M = tarvelon_partition_length(ksize, needed, fft_size);
  if (M > fft_size) return false;  // the block buffers hold N ≥ M samples
  const size_t set = size_t(P) * size_t(M);
  if (set != pt->set_capacity) {
    pt->set_capacity = 0;
    for (int i = 0; i < 2; i++)
      if (!resize(ci, &pt->sets[i], set)) return false;
    pt->set_capacity = set;
    // Both sets start as silence; the build designs into the current one.
    for (int i = 0; i < 2; i++) std::memset(pt->sets[i], 0, sizeof(double) * set);
  }
  if (set != pt->ring_capacity) {
    pt->ring_capacity = 0;
    for (int ch = 0; ch < 2; ch++)
      if (!resize(ci, &pt->ring[ch], set)) return false;
    pt->ring_capacity = set;
  }
  // P × M may stay while P changes (4 × 720 and 2 × 1440): the slot flags
  // follow P on their own.
  if (P != pt->parts_capacity) {
    pt->parts_capacity = 0;
    for (int ch = 0; ch < 2; ch++)
      if (!resize(ci, &pt->filled[ch], size_t(P))) return false;
    pt->parts_capacity = P;
  }
  if (M != pt->length_capacity) {
    pt->length_capacity = 0;
    for (int ch = 0; ch < 2; ch++)
      if (!resize(ci, &pt->spectrum[ch][0], size_t(M)) || !resize(ci, &pt->spectrum[ch][1], size_t(M)))
        return false;
    if (!resize(ci, &pt->scratch, size_t(M))) return false;
    pt->length_capacity = M;
  }
  if (!pt->plan) pt->plan = fft_plan_init(ci, M);
  else if (!fft_plan_resize(pt->plan, M)) return false;
  if (!pt->plan) return false;
  pt->block = needed;
  pt->length = M;
  pt->span = 2 * needed - 1;
  pt->current = 0;
  pt->parts = P;
  tarvelon_clear_partitions(pt);
  return true;
}

void tarvelon_clear_partitions(tarvelon_partitions_t *pt) noexcept {
  if (!tarvelon_partitioned(pt)) return;
  const size_t set = size_t(pt->parts) * size_t(pt->length);
  for (int ch = 0; ch < 2; ch++) {
    std::memset(pt->ring[ch], 0, sizeof(double) * set);
    std::memset(pt->filled[ch], 0, sizeof(int32_t) * size_t(pt->parts));
    pt->used[ch] = 0;
  }
  pt->head = 0;
  pt->pending = pt->parts;
  pt->pending_slot = 0;
}

void tarvelon_partition_filter(inst_t *ci) noexcept {
  if (!ci || !tarvelon_partitioned(ci->parts) || !ci->fbank) return;
  tarvelon_partitions_t *pt = ci->parts;
  const filterbank_t *fb = ci->fbank;
  tarvelon_partitions_finish(pt);  // the last block's products belong to the filters it was given
  pt->current = 1 - pt->current;
  const int32_t P = pt->parts, B = pt->block, M = pt->length, K = fb->kernel_size;
  // fir_time_domain is the kernel times √N; the part spectra must be plain
  // DFTs of the kernel's taps, and the unitary transform adds 1/√M.
  const double scale = std::sqrt(double(M) / double(fb->fft_size));
  double *set = pt->sets[pt->current];
  for (int32_t p = 0; p < P; p++) {
    const int32_t first = p * B, taps = K - first < B ? K - first : B;
    for (int32_t i = 0; i < taps; i++) pt->scratch[i] = fb->fir_time_domain[first + i] * scale;
    std::memset(pt->scratch + taps, 0, sizeof(double) * size_t(M - taps));
    fftp(pt->scratch, at(set, p, M), M, 0, pt->plan);
  }
}

namespace {
void add_products(tarvelon_partitions_t *pt, int32_t upto) {
  const int32_t P = pt->parts, M = pt->length;
  if (upto > P) upto = P;
  const double *now = pt->sets[pt->current], *before = pt->sets[1 - pt->current];
  for (; pt->pending < upto; pt->pending++) {
    const int32_t p = pt->pending;
    int32_t slot = pt->pending_slot + p;
    if (slot >= P) slot -= P;
    for (int ch = 0; ch < 2; ch++) {
      const int32_t used = pt->used[ch];
      if (!used) continue;
      double *acc = at(pt->ring[ch], slot, M);
      if (used & 1) fft_spectrum_multiply_add(pt->spectrum[ch][0], at(const_cast<double *>(now), p, M), acc, M);
      if (used & 2) fft_spectrum_multiply_add(pt->spectrum[ch][1], at(const_cast<double *>(before), p, M), acc, M);
      pt->filled[ch][slot] = 1;
    }
  }
}
}  // namespace

void tarvelon_partitions_finish(tarvelon_partitions_t *pt) noexcept {
  if (tarvelon_partitioned(pt)) add_products(pt, pt->parts);
}

void tarvelon_partitions_spread(tarvelon_partitions_t *pt, int32_t gotten) noexcept {
  if (!tarvelon_partitioned(pt) || pt->pending >= pt->parts) return;
  // Parts 1 .. P-1 in proportion to the next block's progress; its completion
  // takes whatever is left, so rounding up keeps that share small.
  const int64_t rest = pt->parts - 1;
  const int64_t earned = 1 + (rest * gotten + pt->block - 1) / pt->block;
  add_products(pt, int32_t(earned < pt->parts ? earned : pt->parts));
}
