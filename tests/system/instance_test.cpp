#include <gtest/gtest.h>

#include <cmath>

#include "audio/engine.h"
#include "graphics/picture.h"
#include "memory_host.h"
#include "system/alloc.h"
#include "system/instance.h"

TEST(Instance, KnobEditorCountFallsBackTo16WhileKeepingTheRequest) {
  for (int32_t requested : {0, 17, -3}) {
    inst_t *ci = tarvelon_create_instance(nullptr, requested, nullptr);
    ASSERT_NE(ci, nullptr);
    EXPECT_EQ(ci->knob_textedit_count, 16);
    EXPECT_EQ(ci->ctrlcount, requested);
    tarvelon_destroy_instance(ci);
  }
  inst_t *ci = tarvelon_create_instance(nullptr, 5, nullptr);
  EXPECT_EQ(ci->knob_textedit_count, 5);
  tarvelon_destroy_instance(ci);
}

TEST(Instance, ConsecutiveInstancesGetConsecutiveIndices) {
  int32_t a = -2, b = -2;
  inst_t *x = tarvelon_create_instance(nullptr, 16, &a);
  inst_t *y = tarvelon_create_instance(nullptr, 16, &b);
  EXPECT_GE(a, 0);
  EXPECT_EQ(b, a + 1);
  tarvelon_destroy_instance(x);
  tarvelon_destroy_instance(y);
}

TEST(Instance, EachFailedEarlyAllocationReturnsNullAndLeavesIndexMinusOne) {
  for (int fail_at = 0; fail_at < 4; fail_at++) {
    int32_t index = 7;
    tv_alloc_fail_after(fail_at);
    inst_t *ci = tarvelon_create_instance(nullptr, 16, &index);
    tv_alloc_fail_after(-1);
    EXPECT_EQ(ci, nullptr) << fail_at;
    EXPECT_EQ(index, -1);
  }
  tarvelon_destroy_instance(nullptr);
}

namespace {
// Two blocks of a chirp through an instance; the output it gives.
std::vector<double> two_blocks(inst_t *ci) {
  std::vector<double> l(1500), r(1500), ol(1500), orr(1500), out;
  for (size_t i = 0; i < l.size(); i++) l[i] = r[i] = std::sin(0.001 * double(i * i % 7919));
  double *in[2] = {l.data(), r.data()}, *o[2] = {ol.data(), orr.data()};
  for (int b = 0; b < 2; b++) {
    tarvelon_process_audio_runtime_owned(ci, in, o, 1500);
    out.insert(out.end(), ol.begin(), ol.end());
  }
  return out;
}
}  // namespace

// Failing each allocation of a complete creation in turn: creation either
// fails with nothing left behind, or gives an instance that works exactly
// like one created without failures.
TEST(Instance, CompleteCreationSurvivesAnyFailedAllocation) {
  memory_host host;
  const uint64_t before = tv_alloc_count();
  inst_t *reference = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  ASSERT_NE(reference, nullptr);
  const int64_t total = int64_t(tv_alloc_count() - before);
  ASSERT_GT(total, 20);
  const std::vector<double> expected = two_blocks(reference);
  tarvelon_destroy_instance(reference);
  const int32_t live = tarvelon_live_instances();
  int failed = 0, working = 0;
  for (int64_t fail_at = 0; fail_at <= total; fail_at++) {
    tv_alloc_fail_after(fail_at);
    int32_t index = 0;
    inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, &index);
    tv_alloc_fail_after(-1);
    if (!ci) {
      failed++;
      EXPECT_EQ(index, -1);
      EXPECT_EQ(tarvelon_live_instances(), live) << "allocation " << fail_at;  // ASan: and no leak
      continue;
    }
    working++;
    EXPECT_EQ(tarvelon_instance_is_complete(ci), 1);
    EXPECT_EQ(two_blocks(ci), expected) << "allocation " << fail_at;
    tarvelon_destroy_instance(ci);
  }
  EXPECT_GT(failed, 0);
  std::printf("complete creation: %lld allocations; %d failures refused, %d instances working\n",
              static_cast<long long>(total), failed, working);
}

TEST(AllocationList, GrowsByDoublingAndReusesFreedSlots) {
  inst_t *ci = tarvelon_create_instance(nullptr, 16, nullptr);
  std::vector<void *> blocks;
  for (int i = 0; i < 1024; i++) blocks.push_back(gc_calloc(ci, 1, 8));
  EXPECT_EQ(ci->gc_capacity, 1024);
  void *extra = gc_calloc(ci, 1, 8);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(ci->gc_capacity, 2048);
  gc_free(ci, blocks[10]);
  EXPECT_EQ(ci->gc_list[10].ptr, nullptr);
  void *again = gc_calloc(ci, 1, 8);
  EXPECT_EQ(ci->gc_list[10].ptr, again);

  int unowned = 0;
  gc_free(ci, &unowned);  // not registered: left alone
  EXPECT_EQ(gc_realloc(ci, &unowned, 4, 8), nullptr);
  EXPECT_EQ(tarvelon_gc_update_allocation("f", 1, ci, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(tarvelon_gc_register_allocation("f", 1, ci, nullptr, 1, 1), nullptr);
  EXPECT_EQ(gc_calloc(ci, SIZE_MAX / 2, 4), nullptr);

  tv_alloc_fail_after(0);
  void *old = blocks[20];
  EXPECT_EQ(gc_realloc(ci, old, 1000, 8), nullptr);
  tv_alloc_fail_after(-1);
  EXPECT_EQ(ci->gc_list[20].ptr, old) << "a failed reallocation keeps the old block registered";
  tarvelon_destroy_instance(ci);
}

TEST(Storage, VisualWidthAndAnalyserResizeOnlyWhenNeeded) {
  memory_host host;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  EXPECT_EQ(ci->last2k_size, 8000);
  ASSERT_EQ(tarvelon_resize_visual_width_storage(ci, 500), 1);
  double *table = ci->spline_lut[0];
  EXPECT_EQ(tarvelon_resize_visual_width_storage(ci, 500), 1);
  EXPECT_EQ(tarvelon_resize_visual_width_storage(ci, 1), 0);
  EXPECT_EQ(ci->spline_lut[0], table);
  EXPECT_EQ(ci->visual_width, 500);

  // A failed replacement keeps every old buffer.
  tv_alloc_fail_after(3);
  EXPECT_EQ(tarvelon_resize_visual_width_storage(ci, 640), 0);
  tv_alloc_fail_after(-1);
  EXPECT_EQ(ci->spline_lut[0], table);
  EXPECT_EQ(ci->visual_width, 500);

  host.samplerate = 48000.0;
  tarvelon_reset_audio_runtime_owned(ci);
  EXPECT_EQ(ci->last2k_size, 8748);  // next fast size after 8707
  tarvelon_destroy_instance(ci);
}

TEST(Storage, FramebufferResizeKeepsEqualSizedRasters) {
  inst_t *ci = tarvelon_create_instance(nullptr, 16, nullptr);
  ci->fb.w = 40;
  ci->fb.h = 30;
  ci->kVW = 20;
  ci->kVH = 10;
  tarvelon_resize_framebuffer_storage(ci, 0);
  EXPECT_EQ(ci->strip.l, nullptr) << "no editor uses the rasters yet";
  ci->editor_users = 1;
  tarvelon_resize_framebuffer_storage(ci, 0);
  lrgb_t *pixels = ci->strip.l;
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(ci->finallayout.as, 1200u);
  EXPECT_EQ(ci->strip.as, 40u * kStripRows) << "the composite is made a window-wide strip at a time";
  EXPECT_EQ(ci->composite.l, nullptr);
  EXPECT_EQ(ci->grids_ctx.w, 20);
  tarvelon_resize_framebuffer_storage(ci, 0);
  EXPECT_EQ(ci->strip.l, pixels);
  tarvelon_resize_framebuffer_storage(ci, 1);
  EXPECT_EQ(ci->fb_ctx.w, 40);
  EXPECT_EQ(ci->fb_ctx.window_x0, -4.0);
  ci->editor_users = 0;
  tarvelon_resize_framebuffer_storage(ci, 0);
  EXPECT_EQ(ci->strip.l, nullptr) << "the last editor gone, the pixels go too";
  EXPECT_EQ(ci->grids_lut, nullptr);
  EXPECT_EQ(ci->fb.w, 40) << "the size is kept";
  tarvelon_destroy_instance(ci);
}

TEST(Binding, EachInstanceKeepsItsOwnToolkitStateAndDestroyUnbinds) {
  inst_t *a = tarvelon_create_instance(nullptr, 16, nullptr);
  inst_t *b = tarvelon_create_instance(nullptr, 16, nullptr);
  vl_gui_context_t *outer = tarvelon_bind_vantalib_gui_runtime(a);
  vl_current().mouse.a[0] = 10.0;
  vl_gui_context_t *prev = tarvelon_bind_vantalib_gui_runtime(b);
  EXPECT_EQ(prev, &a->vantalib_gui_context);
  EXPECT_EQ(vl_current().mouse.a[0], 1e30);
  EXPECT_EQ(vl_current().fb, &b->fb_ctx);
  tarvelon_restore_vantalib_gui_runtime(prev);
  EXPECT_EQ(vl_current().mouse.a[0], 10.0);
  tarvelon_restore_vantalib_gui_runtime(outer);

  tarvelon_prepare_vantalib_gui_runtime(b);
  tarvelon_destroy_instance(b);
  EXPECT_EQ(vl_gui_context_bound(), nullptr) << "no binding may outlive its instance";
  tarvelon_destroy_instance(a);
}

TEST(ValueComparison, ToleranceIsRelativePlusAbsolute) {
  EXPECT_EQ(tarvelon_eq_value_changed(1.0, 1.0 + 5e-9), 0);
  EXPECT_EQ(tarvelon_eq_value_changed(1.0, 1.0 + 2e-8), 1);
  EXPECT_EQ(tarvelon_eq_value_changed(NAN, NAN), 1);
  EXPECT_EQ(tarvelon_eq_value_changed(1.0, INFINITY), 1);
}
