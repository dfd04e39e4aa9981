#include "window_common.h"

#include "pw_window.h"

uint32_t pw_pack_utf8(const unsigned char *s, size_t len) noexcept {
  uint32_t v = 0;
  for (size_t i = 0; s && i < len && i < 4; i++) v |= uint32_t(s[i]) << (8 * i);
  return v;
}

bool pw_send_host_key(void *gui, bool down, uint32_t character, int32_t virtual_key, uint32_t modifiers) noexcept {
  if (!gui) return false;
  PWEvent e{};
  e.type = down ? PW_EVENT_KEY_DOWN : PW_EVENT_KEY_UP;
  e.gui = gui;
  e.key.virtual_key = PWVirtualKey(virtual_key);
  e.key.modifiers = modifiers;
  bool used = virtual_key != PW_KEY_NONE && pw_event(&e);
  if (down && character >= 0x20 && character != 0x7F && !(modifiers & PW_MOD_KEY_CTRL)) {
    unsigned char u[4];
    size_t n = 0;
    if (character < 0x80) {
      u[n++] = static_cast<unsigned char>(character);
    } else if (character < 0x800) {
      u[n++] = static_cast<unsigned char>(0xC0 | (character >> 6));
      u[n++] = static_cast<unsigned char>(0x80 | (character & 0x3F));
    } else if (character < 0xD800 || (character > 0xDFFF && character < 0x10000)) {
      u[n++] = static_cast<unsigned char>(0xE0 | (character >> 12));
      u[n++] = static_cast<unsigned char>(0x80 | ((character >> 6) & 0x3F));
      u[n++] = static_cast<unsigned char>(0x80 | (character & 0x3F));
    }
    if (n) {
      PWEvent t{};
      t.type = PW_EVENT_TEXT;
      t.gui = gui;
      t.text.codepoint = pw_pack_utf8(u, n);
      t.text.modifiers = modifiers;
      used = pw_event(&t) || used;
    }
  }
  return used;
}

void pw_constrain_size(void *gui, PWResizeDirection direction, uint32_t *width, uint32_t *height) noexcept {
  if (!gui || !width || !height) return;
  PWGetInfo info{};
  info.type = PW_INFO_CONSTRAIN_SIZE;
  info.constrain_size.gui = gui;
  info.constrain_size.width = *width;
  info.constrain_size.height = *height;
  info.constrain_size.direction = direction;
  pw_get_info(&info);
  *width = info.constrain_size.width;
  *height = info.constrain_size.height;
}

bool pw_send_resize(void *gui, uint32_t width, uint32_t height, PWResizeDirection direction) noexcept {
  if (!gui) return false;
  PWEvent e{};
  e.type = PW_EVENT_RESIZE_UPDATE;
  e.gui = gui;
  e.resize.width = width;
  e.resize.height = height;
  e.resize.direction = direction;
  return pw_event(&e);
}

void pw_send_scale(void *gui, void *plugin, float scale, uint32_t *width, uint32_t *height) noexcept {
  if (gui) {
    PWEvent e{};
    e.type = PW_EVENT_CONTENT_SCALE_FACTOR_CHANGED;
    e.gui = gui;
    e.content_scale_factor = scale;
    pw_event(&e);
  }
  PWGetInfo info{};
  info.type = PW_INFO_INIT_SIZE;
  info.init_size.plugin = plugin;
  pw_get_info(&info);
  if (width) *width = info.init_size.width;
  if (height) *height = info.init_size.height;
}
