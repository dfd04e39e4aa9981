// Prints how far the realised filter response departs from the drawn curve
// when one band at each default frequency is raised by 12 dB, at Resolution 1
// and 4 (44.1 kHz). This difference is what the editor's dashed line shows.
#include <cmath>
#include <cstdio>

#include "audio/engine.h"
#include "dsp/filter_design.h"
#include "memory_host.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

namespace {
double realised_db(const inst_t *ci, int k) {
  const double *fir = ci->fbank->fir;
  const int N = ci->fbank->fft_size;
  const double mag = (k == 0 || 2 * k == N) ? std::fabs(fir[k]) : std::hypot(fir[k], fir[N - k]);
  return 20.0 * std::log10(mag);
}
}  // namespace

int main() {
  const double freqs[4] = {80, 370, 1700, 8000};
  std::printf("%-10s %-6s %8s %8s %14s %16s\n", "band", "res", "kernel", "fft", "worst dev dB", "dev at band dB");
  for (double resolution : {1.0, 4.0}) {
    for (int b = 0; b < 4; b++) {
      memory_host host;
      inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
      host.set(TV_PARAM_RESOLUTION, resolution);
      tarvelon_on_param_change(ci, TV_PARAM_RESOLUTION);
      host.set(TV_PARAM_BAND_GAIN + b, 12.0);
      tarvelon_on_param_change(ci, TV_PARAM_BAND_GAIN + b);
      double silence[64] = {};
      double *io[2] = {silence, silence};
      tarvelon_process_audio_runtime_owned(ci, io, io, 1);  // rebuild at the new resolution
      ci->time_since_proc = 1.0;
      tarvelon_sync_and_redesign_when_idle(ci);
      const int N = ci->fft_size_value;
      double worst = 0, at_band = 0;
      for (int k = 1; k <= N / 2; k++) {
        const double f = k * ci->samplerate / N;
        if (f < 20.0 || f > 20000.0) continue;
        const double curve = eq_curve_at_pitch(ci->eqs, ci->eqs_count, std::log(f / 20.0) / std::log(1000.0));
        const double dev = realised_db(ci, k) - curve;
        if (std::fabs(dev) > std::fabs(worst)) worst = dev;
      }
      const double fb = freqs[b];
      const int kb = int(std::lround(fb * N / ci->samplerate));
      at_band = realised_db(ci, kb) -
                eq_curve_at_pitch(ci->eqs, ci->eqs_count, std::log(kb * ci->samplerate / N / 20.0) / std::log(1000.0));
      std::printf("%-10.0f %-6.0f %8d %8d %14.2f %16.2f\n", fb, resolution, ci->ksize_value, N, worst, at_band);
      tarvelon_destroy_instance(ci);
    }
  }
  return 0;
}
