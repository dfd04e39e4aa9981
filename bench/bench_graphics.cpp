// Output conversion and line drawing, per pixel of output.
#include <benchmark/benchmark.h>

#include "vl_colour.h"
#include "vl_draw.h"
#include "vl_gui_context.h"

namespace {
struct target {
  framebuffer_t fb{};
  target(int w, int h) {
    fb.r = make_raster(nullptr, w, h, VL_PLANE_L | VL_PLANE_SRGB);
    fb.w = w, fb.h = h;
    for (int i = 0; i < w * h; i++) fb.r.l[i] = lrgb_t{uint16_t(i * 7), uint16_t(i * 3), uint16_t(i), 0};
    vl_current().fb = &fb;
  }
  ~target() {
    vl_current().fb = nullptr;
    free_raster(&fb.r);
  }
};

void BM_ConvertG22(benchmark::State &state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  target t(w, h);
  for (auto _ : state) {
    convert_lrgb_to_g22(1);
    benchmark::DoNotOptimize(t.fb.r.srgb);
  }
  state.counters["ns_per_pixel"] =
      benchmark::Counter(double(state.iterations()) * w * h, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A 400-pixel diagonal line of radius 0.8; per pixel of line length.
void BM_DrawLineThin(benchmark::State &state) {
  target t(1060, 566);
  const lrgb_t c = make_colour_lin(0.5, 0.5, 0.5, 1);
  double off = 0;
  for (auto _ : state) {
    draw_line_thin({100 + off, 100}, {380 + off, 386}, 0.8, c, blend_add, 0.5);
    off = off > 10 ? 0 : off + 0.37;
  }
  state.counters["ns_per_pixel_of_length"] =
      benchmark::Counter(double(state.iterations()) * 400.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
}  // namespace

BENCHMARK(BM_ConvertG22)->Args({1060, 566});
BENCHMARK(BM_DrawLineThin);
