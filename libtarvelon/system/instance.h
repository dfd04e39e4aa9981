// Creation and destruction of core instances, the allocation list that owns
// their heap blocks, the storage rebuilt on resizes, and the toolkit binding.
//
// Locks: fft_sem (analyser ring), fft_mag_sem (published filter spectrum) and
// spline_sem (curve table) are short data locks never held together.
// draw_reinit_sem guards reallocation of buffers drawing reads; proc_reinit_sem
// guards processing state (engine, bands, filter, undo) and is held by the audio
// thread for each block. When both are needed draw_reinit_sem is taken first.
#pragma once
#include <cstddef>
#include <cstdint>

#include "system/host_callbacks.h"
#include "system/inst.h"

// Bare record with the process-default host link. Returns null on failure;
// *instance_index (optional) receives the instance's serial or -1.
// [main thread] allocates
inst_t *tarvelon_create_instance(void *owner, int32_t ctrl_count, int32_t *instance_index) noexcept;
inst_t *tarvelon_create_hosted_instance(void *owner, int32_t ctrl_count, const tarvelon_host_callbacks_t *callbacks,
                                        void *user_data, int32_t *instance_index) noexcept;
// The complete plug-in instance: parameters, GUI runtime, bands, audio engine;
// null when any part of it could not be made. [main thread] allocates
inst_t *tarvelon_create_hosted_plugin_instance(void *owner, int32_t ctrl_count,
                                               const tarvelon_host_callbacks_t *callbacks, void *user_data,
                                               int32_t *instance_index) noexcept;
inst_t *tarvelon_create_plugin_instance(void *owner, int32_t ctrl_count, int32_t *instance_index) noexcept;
// 1 when every lock, buffer and the engine a working instance needs exist;
// complete creation returns null otherwise. [any thread]
int32_t tarvelon_instance_is_complete(const inst_t *ci) noexcept;
// Frees everything the instance owns. Null is ignored. [main thread, nothing
// else using the instance]
void tarvelon_destroy_instance(inst_t *ci) noexcept;
// Instances created and not yet destroyed in this process. [any thread]
int32_t tarvelon_live_instances() noexcept;

// Runtime set-up steps of complete creation. [main thread, creation] allocate
void tarvelon_prepare_gui_runtime(inst_t *ci) noexcept;
void tarvelon_init_plugin_runtime_owned(inst_t *ci, int32_t index) noexcept;
void tarvelon_init_visual_runtime(inst_t *ci, double samplerate, int32_t *fft_size, int32_t *ksize) noexcept;
void tarvelon_attach_plugin_controls(inst_t *ci, int32_t half_size) noexcept;

// Allocation list. Register returns ptr, or null (freeing ptr) when the list
// cannot grow. file/line/count/size describe the site and are not used.
// [the thread that owns the instance's storage at that moment: creation, the
// GUI thread, or a thread holding both reinit locks] allocates
void *tarvelon_gc_register_allocation(const char *file, int line, inst_t *ci, void *ptr, size_t count,
                                      size_t size) noexcept;
void *tarvelon_gc_update_allocation(const char *file, int line, inst_t *ci, void *old_ptr, void *new_ptr,
                                    size_t count, size_t size) noexcept;
// Frees a registered pointer; unregistered pointers are left alone. (Same
// threads as the list.)
void gc_free(inst_t *ci, void *ptr) noexcept;
void gc_cleanup(inst_t *ci) noexcept;
// Zeroed registered block of count×size bytes, or null.
void *gc_calloc(inst_t *ci, size_t count, size_t size) noexcept;
// Grows or shrinks a registered block (or registers a new one when old is
// null). On failure returns null and the old block stays registered and valid.
void *gc_realloc(inst_t *ci, void *old_ptr, size_t count, size_t size) noexcept;

// Storage rebuilt on resizes. [GUI or main thread holding draw_reinit_sem
// (and proc_reinit_sem for what the audio thread reads)] allocates
void tarvelon_resize_framebuffer_storage(inst_t *ci, int32_t resolution_changed) noexcept;
void tarvelon_resize_lrgb_raster(inst_t *ci, raster_t *r, size_t pixel_count, int32_t resolution_changed) noexcept;
int32_t tarvelon_resize_visual_width_storage(inst_t *ci, int32_t width) noexcept;
int32_t tarvelon_resize_visual_analyzer_storage(inst_t *ci) noexcept;
// Replaces 7 double buffers (and optionally one int32 buffer) all-or-nothing.
int32_t tarvelon_replace_visual_buffers(inst_t *ci, double **slots[7], size_t length, int32_t **integer_slot) noexcept;
void sync_vantalib_framebuffers(inst_t *ci) noexcept;
void sync_one_framebuffer(framebuffer_t *fb, const raster_t *r) noexcept;

// Toolkit context binding. [GUI thread] no allocation
vl_gui_context_t *tarvelon_bind_vantalib_gui_runtime(inst_t *ci) noexcept;
void tarvelon_prepare_vantalib_gui_runtime(inst_t *ci) noexcept;
void tarvelon_restore_vantalib_gui_runtime(vl_gui_context_t *previous) noexcept;

// 1 when either value is not finite, else 1 when |a-b| > |a|·1e-10 + 1e-8. [any thread]
int32_t tarvelon_eq_value_changed(double a, double b) noexcept;

// Analysis length of the spectrum display at a sample rate. [any thread]
int32_t tarvelon_analyzer_size_for_rate(double samplerate) noexcept;
