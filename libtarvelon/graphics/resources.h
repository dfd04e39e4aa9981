// The editor's fonts and images, decoded once per process from the bundle
// embedded in the library and shared by all instances.
#pragma once
#include <cstddef>
#include <cstdint>

#include "graphics/text.h"
#include "vl_fileball.h"
#include "vl_raster.h"

struct inst_t;

struct tarvelon_graphics_t {
  fileball_t resources;
  uint8_t *bundle_copy;  // writable copy of the embedded bytes (paths are terminated in place)
  font_t *font_main, *font12, *font15, *fbold, *fbold12, *fbold15;
  raster_t *bknob, *light, *logo, *shade;  // bknob describes frame 0; its plane holds all 192
};

extern lrgb_t white, black, gui_col_def;

void init_colours() noexcept;
// Loads whatever is not loaded yet (once per process, thread-safe); the
// instance may be null. [GUI thread]
void tarvelon_load_graphics_resources(inst_t *ci) noexcept;
const tarvelon_graphics_t &tarvelon_graphics() noexcept;
// Frees everything; only when no instance remains (library unload).
void tarvelon_unload_graphics_resources() noexcept;
// For tests: load from another bundle instead of the embedded one.
void tarvelon_load_graphics_resources_from(const uint8_t *bundle, size_t size) noexcept;
