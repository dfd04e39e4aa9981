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

// The four drawable fonts for text at UI scale s: 12·s and 15·s pixels high,
// each drawn from the glyph sheet prefiltered for the nearest size, so text
// stays sharp rather than magnified. At s = 1 these are the fonts above. The
// fonts live until unload; null members when resources are missing. [GUI thread]
struct tarvelon_font_set_t {
  font_t *font12, *font15, *fbold12, *fbold15;
};
tarvelon_font_set_t tarvelon_fonts_for_scale(double s) noexcept;
// Glyph sheet sizes in the bundle (pixels high the sheet is prefiltered for),
// and the one chosen for text drawn `height` pixels high.
constexpr int kTarvelonSheetSizes[] = {12, 15, 18, 21, 24, 30, 36, 45};
int tarvelon_sheet_size_for(double height) noexcept;
// The logo rendered for the logo scale nearest s, decoded into a new raster
// (the caller frees it); a 0×0 raster when missing.
raster_t tarvelon_load_logo_for_scale(double s) noexcept;
constexpr int kTarvelonLogoScales[] = {125, 150, 175, 200, 250, 300, 350, 400};  // percent

void init_colours() noexcept;
// Loads whatever is not loaded yet (once per process, thread-safe); the
// instance may be null. [GUI thread]
void tarvelon_load_graphics_resources(inst_t *ci) noexcept;
const tarvelon_graphics_t &tarvelon_graphics() noexcept;
// Frees everything; only when no instance remains (library unload).
void tarvelon_unload_graphics_resources() noexcept;
// For tests: load from another bundle instead of the embedded one.
void tarvelon_load_graphics_resources_from(const uint8_t *bundle, size_t size) noexcept;
