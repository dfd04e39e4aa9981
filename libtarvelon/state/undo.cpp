// Undo ring: undo_oldest .. undo_now .. undo_newest, indices modulo 1024.
#include "state/undo.h"

#include <cmath>

#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
int32_t ring(int32_t i) { return ((i % kUndoRing) + kUndoRing) % kUndoRing; }

void read_state(inst_t *ci, double v[kUndoEntry]) {
  for (int32_t p = 0; p < 4; p++) v[p] = tarvelon_host_get_param_bool(ci, p) ? 1.0 : 0.0;
  for (int32_t p = 4; p < 19; p++) v[p] = tarvelon_host_get_param_value(ci, p);
  for (int32_t b = 0; b < kBandCount; b++) v[19 + b] = ci->equ[b].defaultfreq;
}
}  // namespace

int32_t tarvelon_undo_alloc(inst_t *ci) noexcept {
  if (!ci) return 0;
  ci->bands_synced = add_to_undo_buffer;
  if (ci->undo_equ) return 1;
  ci->undo_equ = static_cast<double *>(gc_calloc(ci, size_t(kUndoRing) * kUndoEntry, sizeof(double)));
  ci->undo_capacity = ci->undo_equ ? kUndoRing : 0;
  return ci->undo_equ ? 1 : 0;
}

int32_t add_to_undo_buffer(inst_t *ci) noexcept {
  if (!ci || !ci->equ) return 0;
  if (ci->undo_group || ci->undo_restoring) return 1;
  if (!ci->undo_equ) return 0;
  double cur[kUndoEntry];
  read_state(ci, cur);
  if (ci->undo_ready) {
    const double *now = ci->undo_equ + size_t(ci->undo_now) * kUndoEntry;
    bool same = true;
    for (int32_t i = 0; i < kUndoEntry && same; i++) same = (cur[i] == now[i]);  // NaN never equal
    if (same) return 1;
  }
  const int32_t n = ci->undo_ready ? ring(ci->undo_now + 1) : 0;
  if (ci->undo_ready && ci->undo_oldest == n) ci->undo_oldest = ring(n + 1);  // full: drop the oldest
  ci->undo_newest = ci->undo_now = n;
  ci->undo_ready = 1;
  double *slot = ci->undo_equ + size_t(n) * kUndoEntry;
  for (int32_t i = 0; i < kUndoEntry; i++) slot[i] = cur[i];
  return 1;
}

void tarvelon_undo_begin_edit(inst_t *ci) noexcept {
  if (!ci) return;
  vl_lock_guard lock(ci->proc_reinit_sem);
  if (ci->diff_eq.is_set()) tarvelon_sync_eq_params_with_controls(ci, 0);
  add_to_undo_buffer(ci);
  ci->undo_group = 1;
}

int32_t tarvelon_undo_end_edit(inst_t *ci) noexcept {
  if (!ci) return 0;
  vl_lock_guard lock(ci->proc_reinit_sem);
  if (ci->diff_eq.is_set()) tarvelon_sync_eq_params_with_controls(ci, 0);
  ci->undo_group = 0;
  return add_to_undo_buffer(ci);
}

int32_t tarvelon_undo_step(inst_t *ci, int32_t redo) noexcept {
  if (!ci) return 0;
  vl_lock_guard lock(ci->proc_reinit_sem);
  if (!tarvelon_undo_end_edit(ci)) return 0;
  if (!ci->undo_ready) return 0;
  if (!redo && ci->undo_now == ci->undo_oldest) return 0;
  if (redo && ci->undo_now == ci->undo_newest) return 0;

  ci->undo_restoring = 1;
  ci->undo_now = ring(ci->undo_now + (redo ? 1 : -1));
  const double *entry = ci->undo_equ + size_t(ci->undo_now) * kUndoEntry;
  for (int32_t p = 0; p < 19; p++) {
    tarvelon_host_set_param_value(ci, p, entry[p]);
    tarvelon_on_param_change(ci, p);
  }
  for (int32_t b = 0; b < kBandCount; b++) ci->equ[b].defaultfreq = entry[19 + b];
  if (ci->diff_eq.is_set()) tarvelon_sync_eq_params_with_controls(ci, 0);

  tarvelon_setup_selected_band_controls(ci, 0);
  for (int32_t p = TV_PARAM_TRANSPOSE; p <= TV_PARAM_GAIN_SCALE; p++)
    tarvelon_host_set_control_value_from_plug(ci, 7 + (p - TV_PARAM_TRANSPOSE), p);
  tarvelon_host_inform_host_of_program_change(ci);
  ci->hzoom_changed = 1;
  ci->spline_changed = 1;
  ci->undo_restoring = 0;
  return 1;
}
