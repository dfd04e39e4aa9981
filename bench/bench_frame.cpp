// Whole editor frames: with the spectrum changing every frame (audio arriving
// between frames), and idle (nothing changed since the last frame).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "audio/engine.h"
#include "graphics/frame.h"
#include "graphics/layout.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
struct open_editor {
  std::unique_ptr<memory_host> host = std::make_unique<memory_host>();
  inst_t *ci;
  std::vector<srgb_t> pixels;
  std::vector<double> l, r, ol, orr;
  uint32_t seed = 1;
  open_editor(int w, int h, double scale = 1.0) : l(441), r(441), ol(441), orr(441) {
    ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), host.get(), nullptr);
    tarvelon_set_ui_scale(ci, scale);  // w × h are pixels
    tarvelon_editor_storage_acquire(ci);
    tarvelon_resize_editor(ci, w, h);
    pixels.resize(size_t(ci->fb.w) * size_t(ci->fb.h));
    ci->composite.srgb = pixels.data();
    sync_vantalib_framebuffers(ci);
    tarvelon_draw_frame(ci);  // first touch of every page, and the first tables
  }
  ~open_editor() {
    ci->composite.srgb = nullptr;
    tarvelon_editor_storage_release(ci);
    tarvelon_destroy_instance(ci);
  }
  // 10 ms of noise at 44.1 kHz, as a host would deliver between two frames.
  void audio() {
    for (size_t i = 0; i < l.size(); i++) {
      seed = seed * 1664525u + 1013904223u;
      l[i] = (double(seed >> 8) / 16777216.0 - 0.5) * 0.3;
      r[i] = l[i] * 0.5;
    }
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    tarvelon_process_audio_runtime_owned(ci, in, out, int32_t(l.size()));
  }
};

void BM_DrawFrame(benchmark::State &state) {
  open_editor e(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    e.audio();
    state.ResumeTiming();
    tarvelon_draw_frame(e.ci);
  }
}
BENCHMARK(BM_DrawFrame)->Args({1060, 566})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();

// 1060×566 logical at a UI scale of range(0)/100: 2120×1132 pixels at 2×.
void BM_DrawFrameScaled(benchmark::State &state) {
  const double s = state.range(0) / 100.0;
  open_editor e(int(std::lround(1060 * s)), int(std::lround(566 * s)), s);
  for (auto _ : state) {
    state.PauseTiming();
    e.audio();
    state.ResumeTiming();
    tarvelon_draw_frame(e.ci);
  }
}
BENCHMARK(BM_DrawFrameScaled)->Arg(100)->Arg(150)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

// New audio and a knob turned by the host every frame: the knob's box is
// redrawn besides the picture.
void BM_DrawFrameKnobMoves(benchmark::State &state) {
  open_editor e(1060, 566);
  double gain = 1.0;
  for (auto _ : state) {
    state.PauseTiming();
    e.audio();
    gain = gain > 3.0 ? 1.0 : gain + 0.05;
    e.host->set(TV_PARAM_COLOUR_GAIN, gain);
    tarvelon_on_param_change(e.ci, TV_PARAM_COLOUR_GAIN);
    state.ResumeTiming();
    tarvelon_draw_frame(e.ci);
  }
}
BENCHMARK(BM_DrawFrameKnobMoves)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawFrameIdle(benchmark::State &state) {
  open_editor e(1060, 566);
  tarvelon_draw_frame(e.ci);
  for (auto _ : state) tarvelon_draw_frame(e.ci);
}
BENCHMARK(BM_DrawFrameIdle)->Unit(benchmark::kMillisecond)->UseRealTime();
}  // namespace
