// A private CLAP extension of Tarvelon: draws the editor of a live instance
// into the caller's pixels, without a window. The renderer and the tests use
// it; hosts never see it unless they ask for this id.
#pragma once
#include <cstdint>

#include "clap_abi.h"

static constexpr const char TARVELON_EXT_SNAPSHOT[] = "com.kelvorane.tarvelon-free.snapshot/1";

struct tarvelon_plugin_snapshot_t {
  // One editor frame of width × height (within 780..3840 × 566..2160) into
  // width·height pixels of 0x00RRGGBB, top row first. false when the size is
  // out of range or the editor storage cannot be made. [main thread]
  bool (*draw)(const clap_plugin_t *plugin, uint32_t width, uint32_t height, uint32_t *pixels);
  // Keeps the spectrum analyser capturing input as if an editor were
  // watching (it pauses a second after the last frame otherwise). [main thread]
  void (*keep_live)(const clap_plugin_t *plugin);
  // As draw, at a UI scale of 1..4: width × height are pixels, within the
  // scaled logical minimum (780·scale × 566·scale) and 3840 × 2160. The
  // plug-in's scale is what it was afterwards. [main thread]
  bool (*draw_scaled)(const clap_plugin_t *plugin, uint32_t width, uint32_t height, double scale, uint32_t *pixels);
};
