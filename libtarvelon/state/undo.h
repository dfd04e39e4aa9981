// Undo history of the curve state: a ring of 1024 snapshots of the 19 curve
// parameters and the four bands' default frequencies.
#pragma once
#include <cstdint>

struct inst_t;

constexpr int32_t kUndoRing = 1024;
constexpr int32_t kUndoEntry = 23;

// Allocates the whole ring up front so recording never allocates, and asks the
// band model to hand over every synchronised state (the audio thread records
// after each band synchronisation). [creation, before the band state]
int32_t tarvelon_undo_alloc(inst_t *ci) noexcept;
// Records the current state when it differs from the current entry. 1 on
// success or nothing to do; 0 for a null instance, no bands or no ring.
// [caller holds proc_reinit_sem or is the audio thread in its block]
int32_t add_to_undo_buffer(inst_t *ci) noexcept;
// Gesture brackets and steps; each takes proc_reinit_sem. [GUI thread]
void tarvelon_undo_begin_edit(inst_t *ci) noexcept;
int32_t tarvelon_undo_end_edit(inst_t *ci) noexcept;
int32_t tarvelon_undo_step(inst_t *ci, int32_t redo) noexcept;
