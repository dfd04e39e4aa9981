// X keys as Windows virtual keys, and X state masks as modifier bits.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <cstring>

#include "window_common.h"
#include "window_x11.h"

PWVirtualKey x11_virtual_key(KeySym s) noexcept {
  if (s >= XK_a && s <= XK_z) return PWVirtualKey(PW_KEY_A + (s - XK_a));
  if (s >= XK_A && s <= XK_Z) return PWVirtualKey(PW_KEY_A + (s - XK_A));
  if (s >= XK_0 && s <= XK_9) return PWVirtualKey(PW_KEY_0 + (s - XK_0));
  if (s >= XK_F1 && s <= XK_F24) return PWVirtualKey(PW_KEY_F1 + (s - XK_F1));
  if (s >= XK_KP_0 && s <= XK_KP_9) return PWVirtualKey(96 + (s - XK_KP_0));
  struct pair {
    KeySym sym;
    uint32_t vk;
  };
  static const pair table[] = {
      {XK_BackSpace, PW_KEY_BACKSPACE}, {XK_Tab, PW_KEY_TAB},          {XK_ISO_Left_Tab, PW_KEY_TAB},
      {XK_Clear, PW_KEY_CLEAR},         {XK_Return, PW_KEY_ENTER},     {XK_KP_Enter, PW_KEY_ENTER},
      {XK_Escape, PW_KEY_ESCAPE},       {XK_space, PW_KEY_SPACEBAR},   {XK_Prior, PW_KEY_PAGE_UP},
      {XK_Next, PW_KEY_PAGE_DOWN},      {XK_End, PW_KEY_END},          {XK_Home, PW_KEY_HOME},
      {XK_Left, PW_KEY_ARROW_LEFT},     {XK_Up, PW_KEY_ARROW_UP},      {XK_Right, PW_KEY_ARROW_RIGHT},
      {XK_Down, PW_KEY_ARROW_DOWN},     {XK_Insert, PW_KEY_INSERT},    {XK_Delete, PW_KEY_DELETE},
      {XK_KP_Delete, PW_KEY_DELETE},    {XK_KP_Home, PW_KEY_HOME},     {XK_KP_End, PW_KEY_END},
      {XK_KP_Left, PW_KEY_ARROW_LEFT},  {XK_KP_Up, PW_KEY_ARROW_UP},   {XK_KP_Right, PW_KEY_ARROW_RIGHT},
      {XK_KP_Down, PW_KEY_ARROW_DOWN},  {XK_KP_Multiply, 106},         {XK_KP_Add, 107},
      {XK_KP_Subtract, 109},            {XK_KP_Decimal, 110},          {XK_KP_Divide, 111},
      {XK_Shift_L, PW_KEY_SHIFT_LEFT},  {XK_Shift_R, PW_KEY_SHIFT_RIGHT}, {XK_Control_L, PW_KEY_CTRL_LEFT},
      {XK_Control_R, PW_KEY_CTRL_RIGHT}, {XK_Alt_L, PW_KEY_ALT_LEFT},  {XK_Alt_R, PW_KEY_ALT_RIGHT},
      {XK_ISO_Level3_Shift, PW_KEY_ALT_RIGHT},
      {XK_semicolon, PW_KEY_OEM_1},     {XK_colon, PW_KEY_OEM_1},      {XK_equal, PW_KEY_PLUS},
      {XK_plus, PW_KEY_PLUS},           {XK_comma, PW_KEY_COMMA},      {XK_less, PW_KEY_COMMA},
      {XK_minus, PW_KEY_MINUS},         {XK_underscore, PW_KEY_MINUS}, {XK_period, PW_KEY_PERIOD},
      {XK_greater, PW_KEY_PERIOD},      {XK_slash, PW_KEY_OEM_2},      {XK_question, PW_KEY_OEM_2},
      {XK_grave, PW_KEY_OEM_3},         {XK_asciitilde, PW_KEY_OEM_3}, {XK_bracketleft, PW_KEY_OEM_4},
      {XK_braceleft, PW_KEY_OEM_4},     {XK_backslash, PW_KEY_OEM_5},  {XK_bar, PW_KEY_OEM_5},
      {XK_bracketright, PW_KEY_OEM_6},  {XK_braceright, PW_KEY_OEM_6}, {XK_apostrophe, PW_KEY_OEM_7},
      {XK_quotedbl, PW_KEY_OEM_7},
  };
  for (const pair &p : table)
    if (p.sym == s) return PWVirtualKey(p.vk);
  return PW_KEY_NONE;
}

uint32_t x11_modifiers(unsigned int state) noexcept {
  uint32_t m = 0;
  if (state & Button1Mask) m |= PW_MOD_LEFT_BUTTON;
  if (state & Button3Mask) m |= PW_MOD_RIGHT_BUTTON;
  if (state & Button2Mask) m |= PW_MOD_MIDDLE_BUTTON;
  if (state & ControlMask) m |= PW_MOD_KEY_CTRL;
  if (state & ShiftMask) m |= PW_MOD_KEY_SHIFT;
  if (state & Mod1Mask) m |= PW_MOD_KEY_ALT;
  return m;
}

namespace {
size_t put_utf8(uint32_t c, char *out) {
  if (c < 0x80) return out[0] = char(c), 1;
  if (c < 0x800) return out[0] = char(0xC0 | (c >> 6)), out[1] = char(0x80 | (c & 0x3F)), 2;
  out[0] = char(0xE0 | (c >> 12)), out[1] = char(0x80 | ((c >> 6) & 0x3F)), out[2] = char(0x80 | (c & 0x3F));
  return 3;
}
}  // namespace

size_t x11_key_text(KoppelWindow *w, XKeyEvent *ev, KeySym *sym, char *buf, size_t size) noexcept {
  if (!buf || size == 0) return 0;
  buf[0] = 0;
  *sym = NoSymbol;
  char tmp[64];
  size_t n = 0;
  if (w->ic) {
    Status status = 0;
    const int got = Xutf8LookupString(w->ic, ev, tmp, int(sizeof tmp) - 1, sym, &status);
    if ((status == XLookupChars || status == XLookupBoth) && got > 0) n = size_t(got);
    if (status != XLookupKeySym && status != XLookupBoth) *sym = XLookupKeysym(ev, 0);
  } else {
    // Without an input method the text is Latin-1.
    char latin[32];
    const int got = XLookupString(ev, latin, int(sizeof latin), sym, nullptr);
    for (int i = 0; i < got && n + 3 < sizeof tmp; i++) n += put_utf8(static_cast<unsigned char>(latin[i]), tmp + n);
  }
  if (n >= size) n = 0;  // never a cut character
  std::memcpy(buf, tmp, n);
  buf[n] = 0;
  return n;
}

size_t x11_key_characters(const char *text, size_t n, bool ctrl, uint32_t *out, size_t max) noexcept {
  if (!text || !out) return 0;
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  size_t count = 0;
  for (size_t i = 0; i < n && count < max;) {
    const size_t len = s[i] < 0x80 ? 1 : (s[i] >> 5) == 6 ? 2 : (s[i] >> 4) == 14 ? 3 : 4;
    if (i + len > n) break;  // never a cut character
    // Control characters (Ctrl+Backspace gives 127) and Ctrl chords type nothing.
    if (s[i] >= 0x20 && s[i] != 0x7F && !ctrl) out[count++] = pw_pack_utf8(s + i, len);
    i += len;
  }
  return count;
}
