#include "design_probe.h"

#include <cmath>
#include <complex>

#include "audio/engine.h"
#include "dsp/filter_design.h"
#include "dsp/scales.h"
#include "memory_host.h"
#include "state/eq.h"
#include "state/params.h"
#include "system/instance.h"

std::vector<design_probe_result> probe_design(const std::vector<double> &values, double rate,
                                              const std::vector<double> &freqs) {
  memory_host host;
  host.samplerate = rate;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  for (int id = 0; id < 28 && id < int(values.size()); id++) {
    host.set(id, values[size_t(id)]);
    tarvelon_on_param_change(ci, id);
  }
  double silence[8] = {};
  double *io[2] = {silence, silence};
  tarvelon_process_audio_runtime_owned(ci, io, io, 1);  // rebuild for Resolution / Input Buffer Size
  ci->time_since_proc = 1.0;
  tarvelon_sync_and_redesign_when_idle(ci);

  const filterbank_t *fb = ci->fbank;
  const double scale = 1.0 / std::sqrt(double(fb->fft_size));
  std::vector<design_probe_result> out;
  for (double f : freqs) {
    std::complex<double> H = 0;
    const double w = 2.0 * M_PI * f / rate;
    for (int n = 0; n < fb->kernel_size; n++) H += fb->fir_time_domain[n] * scale * std::polar(1.0, -w * n);
    const double curve = eq_curve_at_pitch(ci->eqs, ci->eqs_count, std::log(f / 20.0) / std::log(1000.0));
    out.push_back({20.0 * std::log10(std::abs(H)), db_to_realdb(curve)});
  }
  tarvelon_destroy_instance(ci);
  return out;
}
