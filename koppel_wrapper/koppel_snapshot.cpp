// Editor frames drawn into a caller's pixels, for the renderer and the tests.
#include <cstring>

#include "graphics/frame.h"
#include "graphics/layout.h"
#include "koppel_interface.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"

namespace {
// One frame at the instance's scale; width × height already checked.
bool draw_snapshot(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, uint32_t *pixels, bool relayout) {
  inst_t *ci = p->ci;
  if (!tarvelon_editor_storage_acquire(ci)) {
    tarvelon_editor_storage_release(ci);
    return false;
  }
  bool ok = true;
  if (relayout || ci->fb.w != int32_t(width) || ci->fb.h != int32_t(height))
    ok = tarvelon_resize_editor(ci, int32_t(width), int32_t(height)) && ci->strip.l;
  srgb_t *const previous = ci->composite.srgb;
  if (ok) {
    ci->composite.srgb = reinterpret_cast<srgb_t *>(pixels);
    sync_vantalib_framebuffers(ci);
    tarvelon_draw_frame(ci);
    ci->composite.srgb = previous;
    sync_vantalib_framebuffers(ci);
  }
  tarvelon_editor_storage_release(ci);
  return ok;
}
}  // namespace

bool koppel_drawSnapshot(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, uint32_t *pixels) noexcept {
  return koppel_drawSnapshotScaled(p, width, height, 1.0, pixels);
}

bool koppel_drawSnapshotScaled(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, double scale,
                               uint32_t *pixels) noexcept {
  if (!p || !p->ci || !pixels || !(scale >= kUiScaleMin && scale <= kUiScaleMax)) return false;
  inst_t *ci = p->ci;
  const double before = tarvelon_ui_scale(ci);
  const int32_t old_w = ci->fb.w, old_h = ci->fb.h;
  const bool rescaled = tarvelon_set_ui_scale(ci, scale) != 0;
  int32_t min_w = 0, min_h = 0, max_w = 0, max_h = 0;
  tarvelon_editor_pixel_limits(ci, &min_w, &min_h, &max_w, &max_h);
  bool ok = false;
  if (width >= uint32_t(min_w) && width <= uint32_t(max_w) && height >= uint32_t(min_h) && height <= uint32_t(max_h))
    ok = draw_snapshot(p, width, height, pixels, rescaled);
  // An open editor gets its own scale and layout back.
  if (tarvelon_set_ui_scale(ci, before) && ci->editor_users > 0 && old_w > 0 && old_h > 0)
    tarvelon_resize_editor(ci, old_w, old_h);
  return ok;
}

void koppel_keepEditorInputLive(TarvelonKoppelPlugin *p) noexcept {
  if (p && p->ci) p->ci->screen_timeout = 0;
}
