// Editor frames drawn into a caller's pixels, for the renderer and the tests.
#include <cstring>

#include "graphics/frame.h"
#include "graphics/layout.h"
#include "koppel_interface.h"
#include "system/instance.h"
#include "tarvelon_koppel.h"

bool koppel_drawSnapshot(TarvelonKoppelPlugin *p, uint32_t width, uint32_t height, uint32_t *pixels) noexcept {
  if (!p || !p->ci || !pixels) return false;
  if (width < uint32_t(kEditorMinWidth) || width > uint32_t(kEditorMaxWidth) || height < uint32_t(kEditorMinHeight) ||
      height > uint32_t(kEditorMaxHeight))
    return false;
  inst_t *ci = p->ci;
  if (!tarvelon_editor_storage_acquire(ci)) {
    tarvelon_editor_storage_release(ci);
    return false;
  }
  bool ok = true;
  if (ci->fb.w != int32_t(width) || ci->fb.h != int32_t(height))
    ok = tarvelon_resize_editor(ci, int32_t(width), int32_t(height)) && ci->fb.l;
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

void koppel_keepEditorInputLive(TarvelonKoppelPlugin *p) noexcept {
  if (p && p->ci) p->ci->screen_timeout = 0;
}
