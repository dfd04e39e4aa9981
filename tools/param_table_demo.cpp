// Prints the parameter table an instance declares and the engine sizes and
// latency its size rules give at common sample rates.
#include <cstdio>

#include "audio/engine.h"
#include "dsp/scales.h"
#include "memory_host.h"
#include "state/params.h"
#include "system/instance.h"

int main() {
  memory_host host;
  inst_t *ci = tarvelon_create_hosted_plugin_instance(nullptr, 16, memory_host::callbacks(), &host, nullptr);
  if (!ci) {
    std::fprintf(stderr, "could not create an instance\n");
    return 1;
  }
  std::printf("Tarvelon Free - parameters\n");
  std::printf("%-3s %-18s %-7s %12s %12s %12s %-10s %s\n", "id", "name", "kind", "min", "max", "default", "label",
              "shape");
  static const char *kinds[] = {"bool", "int", "double"};
  for (int id = 0; id < 28; id++) {
    const memory_host_param &p = host.params[id];
    std::printf("%-3d %-18s %-7s %12.6g %12.6g %12.6g %-10s %g\n", id, p.name.c_str(),
                p.kind >= 0 ? kinds[p.kind] : "?", p.min, p.max, p.def, p.label.c_str(), p.shape);
  }
  std::printf("\nEngine sizes at the default Resolution 1 and Input Buffer Size 0.2\n");
  std::printf("%-9s %8s %8s %8s %8s %10s\n", "rate", "kernel", "fft", "block", "latency", "latency ms");
  for (double sr : {44100.0, 48000.0, 96000.0}) {
    host.samplerate = sr;
    tarvelon_reset_audio_runtime_owned(ci);
    const double ms = ci->latency * 1000.0 / sr;
    std::printf("%-9.0f %8d %8d %8d %8d %10.2f\n", sr, ci->ksize_value, ci->fft_size_value, ci->needed_samples,
                int(ci->latency), ms);
  }
  tarvelon_destroy_instance(ci);
  return 0;
}
