// Reading and writing the preferences file. Lines may come in any order,
// repeat (the last wins) or be missing; unknown or unparsable lines are ignored.
#include "io/prefs.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dsp/scales.h"
#include "io/prefs_files.h"
#include "state/params.h"
#include "system/host_callbacks.h"
#include "system/inst.h"
#include "vl_numtext.h"

namespace {
constexpr size_t kMaxLine = 1999;  // longer lines are ignored whole
constexpr int32_t kMinWidth = 780, kMaxWidth = 3840, kDefaultWidth = 1060;
constexpr int32_t kMinHeight = 566, kMaxHeight = 2160, kDefaultHeight = 566;

// A view of one line, split into whitespace-separated words on demand.
struct line_view {
  const char *p;
  size_t len;

  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
  // Next word starting at *pos; its bounds in (start, n).
  bool word(size_t *pos, size_t *start, size_t *n) const {
    size_t i = *pos;
    while (i < len && blank(p[i])) i++;
    if (i >= len) return false;
    size_t j = i;
    while (j < len && !blank(p[j]) && p[j] != 0) j++;
    if (j == i) return false;
    *start = i;
    *n = j - i;
    *pos = j;
    return true;
  }
  bool word_is(size_t *pos, const char *w) const {
    size_t s, n;
    return word(pos, &s, &n) && n == std::strlen(w) && std::memcmp(p + s, w, n) == 0;
  }
  // A finite number after *pos, like "%lg".
  bool number(size_t pos, double *v) const {
    double x;
    if (!vl_parse_double(p + pos, len - pos, &x) || !std::isfinite(x)) return false;
    *v = x;
    return true;
  }
};

void mark_pending(inst_t *ci) {
  ci->time_since_prefsave = 0.0;
  ci->prefsave_pending = 1;
}

void set_param(inst_t *ci, int32_t id, int32_t ctrl, double v) {
  tarvelon_host_set_param_value(ci, id, v);
  tarvelon_host_set_control_value_from_plug(ci, ctrl, id);
  mark_pending(ci);
}

int32_t limit_size(double v, int32_t lo, int32_t hi, int32_t fallback) {
  if (!(v > 0.0)) return fallback;
  const double t = std::trunc(std::fmin(v, double(hi)));
  return int32_t(t < lo ? lo : t);
}

struct stage1_state {
  double version = 1.3;
};

void apply_stage0(inst_t *ci, const line_view &l) {
  size_t pos = 0;
  if (!l.word_is(&pos, "Interface")) return;
  size_t after = pos;
  double v;
  if (l.word_is(&after, "width")) {
    if (l.number(after, &v)) ci->gui_width = limit_size(v, kMinWidth, kMaxWidth, kDefaultWidth);
    return;
  }
  after = pos;
  if (l.word_is(&after, "height") && l.number(after, &v))
    ci->gui_height = limit_size(v, kMinHeight, kMaxHeight, kDefaultHeight);
}

void apply_stage1(inst_t *ci, const line_view &l, stage1_state &st) {
  size_t pos = 0, s, n;
  if (!l.word(&pos, &s, &n)) return;
  const std::string_view first(l.p + s, n);
  double v;
  if (first == "Tarvelon") {
    if (l.word_is(&pos, "Prefs") && l.number(pos, &v)) st.version = v;
  } else if (first == "Resolution") {
    if (!l.number(pos, &v)) return;
    set_param(ci, TV_PARAM_RESOLUTION, 10, v);
    ci->reinit_flag.raise();
  } else if (first == "Delay") {
    if (!l.number(pos, &v)) return;
    set_param(ci, TV_PARAM_INPUT_BUFFER, 11, v);
    ci->reinit_flag.raise();
  } else if (first == "Limiter") {
    if (!l.number(pos, &v)) return;
    set_param(ci, TV_PARAM_LIMITER, 12, (v < -30.0 || v > 60.0) ? 0.0 : v);
  } else if (first == "Colour") {
    size_t ws, wn;
    if (!l.word(&pos, &ws, &wn) || !l.number(pos, &v)) return;
    const std::string_view second(l.p + ws, wn);
    if (second == "scheme") {
      set_param(ci, TV_PARAM_COLOUR, 4, st.version == 1.0 ? 2.0 : v);
      ci->colscheme = int32_t(tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR));
    } else if (second == "gain") {
      set_param(ci, TV_PARAM_COLOUR_GAIN, 5, v);
      const double g = tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR_GAIN);
      ci->colgain = (g >= 0.0 && g <= 40.0) ? g : 1.0;
    } else if (second == "gamma") {
      set_param(ci, TV_PARAM_GAMMA, 6, v);
      const double g = tarvelon_host_get_param_value(ci, TV_PARAM_GAMMA);
      ci->gamma = (g >= 1.0 && g <= 2.0) ? g : 1.0;
    }
  } else if (first == "Vertical") {
    if (!l.word_is(&pos, "range") || !l.number(pos, &v)) return;
    set_param(ci, TV_PARAM_VERT_RANGE, 13, (v < 3.0 || v > tv::kFullVertRange) ? tv::kFullVertRange : v);
    const double r = tarvelon_host_get_param_value(ci, TV_PARAM_VERT_RANGE);
    ci->vzoom = r < 3.0 ? 1.0 : tv::kFullVertRange / r;
    ci->vzoom_changed = 1;
    ci->mouseout_time = 1e-7;
  } else if (first == "Preset") {
    if (!l.word_is(&pos, "path")) return;
    while (pos < l.len && line_view::blank(l.p[pos])) pos++;
    size_t end = pos;
    while (end < l.len && l.p[end] != 0) end++;
    while (end > pos && l.p[end - 1] == '\r') end--;
    char path[kMaxLine + 1];
    std::memcpy(path, l.p + pos, end - pos);
    path[end - pos] = 0;
    tarvelon_host_set_preset_dir(ci, path);
  }
}

// Splits data into lines and hands each line of at most kMaxLine characters to fn.
template <class Fn>
void for_each_line(const char *data, size_t len, Fn fn) {
  size_t start = 0;
  while (start < len) {
    const void *nl = std::memchr(data + start, '\n', len - start);
    const size_t end = nl ? size_t(static_cast<const char *>(nl) - data) : len;
    if (end - start <= kMaxLine && end > start) fn(line_view{data + start, end - start});
    start = end + 1;
  }
}

// Reads the file in chunks, assembling lines in a fixed buffer; over-long
// lines are skipped to their end.
template <class Fn>
void for_each_file_line(FILE *f, Fn fn) {
  char line[kMaxLine + 1];
  size_t n = 0;
  bool too_long = false;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    for (size_t i = 0; i < got; i++) {
      const char c = chunk[i];
      if (c == '\n') {
        if (!too_long && n > 0) fn(line_view{line, n});
        n = 0;
        too_long = false;
      } else if (n < kMaxLine) {
        line[n++] = c;
      } else {
        too_long = true;
      }
    }
  }
  if (!too_long && n > 0) fn(line_view{line, n});
}

void stage0_defaults(inst_t *ci) {
  ci->gui_width = kDefaultWidth;
  ci->gui_height = kDefaultHeight;
}

void write_line(FILE *f, const char *key, double v) {
  char num[64];
  vl_format_g(num, sizeof num, v);
  std::fprintf(f, "%s %s\n", key, num);
}
}  // namespace

FILE *tarvelon_open_prefs_file(const char *mode) noexcept {
  char path[4096];
  if (!mode || !tarvelon_prefs_path(path, sizeof path)) return nullptr;
  char m[8];
  std::snprintf(m, sizeof m, "%s", mode);
  return prefs_open(path, m);
}

void tarvelon_load_prefs_from_memory(inst_t *ci, int32_t stage, const char *data, size_t len) noexcept {
  if (!ci || (!data && len)) return;
  if (stage == 0) {
    stage0_defaults(ci);
    for_each_line(data, len, [&](const line_view &l) { apply_stage0(ci, l); });
    return;
  }
  tarvelon_host_set_preset_dir(ci, "");
  stage1_state st;
  for_each_line(data, len, [&](const line_view &l) { apply_stage1(ci, l, st); });
}

void tarvelon_load_prefs(inst_t *ci, int32_t stage) noexcept {
  if (!ci) return;
  if (stage == 0) stage0_defaults(ci);
  FILE *f = tarvelon_open_prefs_file("rb");
  if (!f) return;
  if (stage == 0) {
    for_each_file_line(f, [&](const line_view &l) { apply_stage0(ci, l); });
  } else {
    tarvelon_host_set_preset_dir(ci, "");
    stage1_state st;
    for_each_file_line(f, [&](const line_view &l) { apply_stage1(ci, l, st); });
  }
  std::fclose(f);
}

namespace {
bool write_prefs(inst_t *ci) {
  char path[4096], tmp[4096 + 8];
  if (!tarvelon_prefs_path(path, sizeof path)) return false;
  if (!prefs_make_parent_folders(path)) return false;
  std::snprintf(tmp, sizeof tmp, "%s.tmp", path);
  char preset[2000];
  tarvelon_host_get_preset_dir(ci, preset, int32_t(sizeof preset));
  preset[sizeof preset - 1] = 0;
  const int32_t w = ci->gui_width < 1 ? ci->fb.w : ci->gui_width;
  const int32_t h = ci->gui_height < 1 ? ci->fb.h : ci->gui_height;

  FILE *f = prefs_open(tmp, "wb");
  if (!f) return false;
  std::fprintf(f, "Tarvelon Prefs 1.3\n");
  std::fprintf(f, "Interface width %d\n", w);
  std::fprintf(f, "Interface height %d\n", h);
  std::fprintf(f, "Preset path %s\n", preset);
  write_line(f, "Resolution", tarvelon_host_get_param_value(ci, TV_PARAM_RESOLUTION));
  write_line(f, "Delay", tarvelon_host_get_param_value(ci, TV_PARAM_INPUT_BUFFER));
  write_line(f, "Limiter", tarvelon_host_get_param_value(ci, TV_PARAM_LIMITER));
  std::fprintf(f, "Colour scheme %d\n", int(tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR)));
  write_line(f, "Colour gain", tarvelon_host_get_param_value(ci, TV_PARAM_COLOUR_GAIN));
  write_line(f, "Colour gamma", tarvelon_host_get_param_value(ci, TV_PARAM_GAMMA));
  write_line(f, "Vertical range", tarvelon_host_get_param_value(ci, TV_PARAM_VERT_RANGE));
  const bool ok = std::fflush(f) == 0 && !std::ferror(f);
  if (std::fclose(f) != 0 || !ok) {
    prefs_remove(tmp);
    return false;
  }
  // Replacing in one rename: a crash or a full disk never leaves a truncated file.
  if (!prefs_replace(tmp, path)) {
    prefs_remove(tmp);
    return false;
  }
  return true;
}
}  // namespace

bool tarvelon_save_prefs(inst_t *ci) noexcept {
  if (!ci) return false;
  if (write_prefs(ci)) return true;
  ci->prefsave_pending = 1;  // kept for the next attempt
  return false;
}

void tarvelon_remember_gui_size(inst_t *ci, int32_t width, int32_t height) noexcept {
  if (!ci) return;
  height = height < 1 ? kDefaultHeight : (height < kMinHeight ? kMinHeight : (height > kMaxHeight ? kMaxHeight : height));
  width = width < 1 ? kDefaultWidth : (width < kMinWidth ? kMinWidth : (width > kMaxWidth ? kMaxWidth : width));
  if (width == ci->gui_width && height == ci->gui_height) return;
  ci->gui_width = width;
  ci->gui_height = height;
  mark_pending(ci);
}
