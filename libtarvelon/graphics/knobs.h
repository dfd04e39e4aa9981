// The knobs of the side panel with their values, the drag readout and the
// clip light.
#pragma once
#include <cstdint>

#include "vl_raster.h"

struct inst_t;

// Knob `ctrl_id` of the control table showing parameter `param_id`, into
// composite; the title belongs to the static panel and is not drawn here.
// `band_on` says whether the selected band is on (its knobs then show no value).
void tarvelon_draw_knob(inst_t *ci, const raster_t *knob, const char *title, int32_t param_id, int32_t ctrl_id,
                        int32_t band_on = 1) noexcept;
// What knob `ctrl_id` would show (film frame, value text) as one key, and in
// `box` the pixels drawing it touches: a knob whose key stays is not redrawn.
// [GUI thread]
uint64_t tarvelon_knob_look(inst_t *ci, const raster_t *knob, int32_t param_id, int32_t ctrl_id, int32_t band_on,
                            recti_t *box) noexcept;
// The value text a knob shows; keeps `text` for a "Colour" value without a name.
void tarvelon_knob_value_text(int32_t ctrl_id, double v, char *text, int32_t size) noexcept;
// The film-strip frame for a normalised value (0..191).
int32_t tarvelon_knob_frame(double normalised) noexcept;
// The readout of the grabbed band element into the caption. [GUI thread, under proc_reinit_sem]
void print_control_info(inst_t *ci) noexcept;
// Adds a sprite tinted by colour·ratio into the current framebuffer; mode bit
// 2 places pos at the top-left corner instead of the centre.
void blit_sprite_fma(inst_t *ci, const lrgb_t *sprite, int32_t width, int32_t height, int32_t pos_x, int32_t pos_y,
                     int32_t mode, const lrgb_t *colour, double ratio) noexcept;
// A curve dB value back on the ordinary dB scale (the linear-amplitude part
// below -60 dB converted); -inf at or below -160 dB.
double tarvelon_knob_gain_db(double v) noexcept;
