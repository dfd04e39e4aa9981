// The kernel in parts: when the kernel is longer than a block, one transform
// of kernel + block samples per completed block makes one callback in a few
// carry almost all the work. Instead the kernel is cut into P parts of B =
// needed taps, each block is transformed once at a length M >= 2B, and its
// products with the P part spectra are summed into a ring of P output blocks
// in the frequency domain; a completed block inverse-transforms only the
// output block that is due, and the products for later output blocks are
// spread over the callbacks that collect the next block.
//
// Each block is still convolved with exactly the filter it was given (both
// filters during a crossfade), so the output equals the single-transform
// engine's to rounding. With P = 1 none of this is used and the engine runs
// the single transform of length N as before.
#pragma once
#include <cstddef>
#include <cstdint>

struct inst_t;
struct fft_plan_t;

struct tarvelon_partitions_t {
  int32_t parts;   // P; 1: the engine transforms whole blocks at length N
  int32_t block;   // B taps per part = samples per input block
  int32_t length;  // M, the transform length
  int32_t span;    // samples an output block reaches: 2B - 1
  // Part spectra of two filters, P × M each: sets[current] is the filter of
  // the latest design, the other the one before (the falling half of a
  // crossfade needs it until that block's products are all added).
  double *sets[2];
  int32_t current;
  // Per channel, P × M: the output blocks to come, in the frequency domain;
  // filled[ch][slot] is nonzero when a slot holds products.
  double *ring[2];
  int32_t *filled[2];
  int32_t head;  // slot of the output block the next completed block is due into
  // The last completed block's spectra per channel ([0] with the current
  // filter, [1] with the previous one during a crossfade), used[ch] which of
  // them take part (bit 0, bit 1), and the products still to add: parts
  // `pending` .. P - 1 into the slots after `pending_slot`.
  double *spectrum[2][2];
  int32_t used[2];
  int32_t pending, pending_slot;
  double *scratch;  // M: a part of the kernel on its way to a spectrum
  fft_plan_t *plan;  // length M
  size_t set_capacity, ring_capacity;  // doubles allocated in each set / each channel's ring
  int32_t length_capacity;             // doubles allocated in each spectrum and the scratch
  int32_t parts_capacity;              // slot flags allocated per channel
};

// P = ceil(ksize / needed).
int32_t tarvelon_partition_count(int32_t ksize, int32_t needed) noexcept;
// M for P parts of `needed` taps: N itself for one part, else the shortest
// even fast length of at least 2 · needed.
int32_t tarvelon_partition_length(int32_t ksize, int32_t needed, int32_t fft_size) noexcept;

// Start-up: the (empty) partition state. [creation]
bool tarvelon_alloc_partitions(inst_t *ci) noexcept;
// Sizes the state for an engine build; with one part it frees what more
// parts needed. false on a failed allocation. [under both reinit locks]
bool tarvelon_size_partitions(inst_t *ci, int32_t ksize, int32_t needed, int32_t fft_size) noexcept;
// Forgets all audio in flight (ring, pending products), keeps the filters.
void tarvelon_clear_partitions(tarvelon_partitions_t *pt) noexcept;
// The designed filter (the filter bank's time-domain kernel) into the part
// spectra, after adding the last block's pending products with the filter
// they belong to; the filter it replaces stays as the previous one.
void tarvelon_partition_filter(inst_t *ci) noexcept;
// Adds the last block's products with the remaining parts.
void tarvelon_partitions_finish(tarvelon_partitions_t *pt) noexcept;
// Adds the share of the last block's products that `gotten` samples of the
// next block have earned, so every collecting callback carries about as much.
void tarvelon_partitions_spread(tarvelon_partitions_t *pt, int32_t gotten) noexcept;
// Benchmark and test hook: engines built while this is off transform whole
// blocks at length N whatever the kernel (the single-transform engine, kept
// as the reference the partitioned one is measured against). Default on.
void tarvelon_use_partitions(bool on) noexcept;
// 1 when the engine runs in parts (P > 1).
inline bool tarvelon_partitioned(const tarvelon_partitions_t *pt) { return pt && pt->parts > 1; }
