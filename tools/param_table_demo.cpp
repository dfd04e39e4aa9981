// The main job until the plug-in formats land: creates a real plug-in instance
// through the KOPPEL interface, prints its parameter table and the engine
// sizes at common rates, then equalises a test signal and reports the latency
// and the level change.
#include <cmath>
#include <cstdio>
#include <vector>

#include "koppel_interface.h"
#include "state/params.h"
#include "system/inst.h"
#include "tarvelon_koppel.h"

namespace {
struct block_source {
  KoppelProcessContext ctx{};
  void *in[2], *out[2];
};

void *const *inputs(KoppelProcessContext *c, uint32_t bus) {
  return bus == 0 ? reinterpret_cast<block_source *>(c)->in : nullptr;
}
void *const *outputs(KoppelProcessContext *c, uint32_t bus) {
  return bus == 0 ? reinterpret_cast<block_source *>(c)->out : nullptr;
}

// Plays a sine through the plug-in in 256-frame float blocks and returns the
// output level relative to the input in dB, measured after the latency.
double level_change_db(TarvelonKoppelPlugin *p, double freq, double rate) {
  const size_t n = size_t(rate), block = 256;
  std::vector<float> l(n), r(n), ol(n), orr(n);
  for (size_t i = 0; i < n; i++) l[i] = r[i] = float(0.25 * std::sin(2 * M_PI * freq * double(i) / rate));
  for (size_t pos = 0; pos + block <= n; pos += block) {
    block_source b;
    b.ctx.numFrames = uint32_t(block);
    b.ctx.numInputBusses = b.ctx.numOutputBusses = 1;
    b.ctx.numInputChannels = b.ctx.numOutputChannels = 2;
    b.ctx.audioSampleType = KOPPEL_AUDIO_SAMPLE_FLOAT32;
    b.ctx.getAudioInput = inputs;
    b.ctx.getAudioOutput = outputs;
    b.in[0] = l.data() + pos;
    b.in[1] = r.data() + pos;
    b.out[0] = ol.data() + pos;
    b.out[1] = orr.data() + pos;
    koppel_process(p, &b.ctx);
  }
  const size_t from = koppel_getLatencyInSamples(p) + 2048, to = n - n % block;
  double ein = 0, eout = 0;
  for (size_t i = from; i < to; i++) {
    ein += double(l[i - koppel_getLatencyInSamples(p)]) * l[i - koppel_getLatencyInSamples(p)];
    eout += double(ol[i]) * ol[i];
  }
  return 10.0 * std::log10(eout / ein);
}
}  // namespace

int main() {
  KoppelHostContext host{};
  TarvelonKoppelPlugin *p = koppel_createPlugin(&host);
  if (!p) {
    std::fprintf(stderr, "could not create the plug-in\n");
    return 1;
  }
  std::printf("Tarvelon Free - parameters\n");
  std::printf("%-3s %-18s %-7s %12s %12s %12s %-10s %s\n", "id", "name", "kind", "min", "max", "default", "label",
              "shape");
  static const char *kinds[] = {"double", "int", "bool"};
  for (uint32_t id = 0; id < koppel_getNumParameters(p); id++) {
    const TarvelonKoppelParam &prm = p->params[id];
    std::printf("%-3u %-18s %-7s %12.6g %12.6g %12.6g %-10s %g\n", id, prm.name, kinds[prm.type], prm.minValue,
                prm.maxValue, prm.defaultValue, prm.label, prm.shape);
  }

  std::printf("\nEngine sizes at Resolution 1 and Input Buffer Size 0.2\n");
  std::printf("%-9s %8s %8s %8s %8s %10s\n", "rate", "kernel", "fft", "block", "latency", "latency ms");
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    koppel_setSampleRateAndBlockSize(p, rate, 256);
    const uint32_t lat = koppel_getLatencyInSamples(p);
    std::printf("%-9.0f %8d %8d %8d %8u %10.2f\n", rate, p->ci->ksize_value, p->ci->fft_size_value,
                p->ci->needed_samples, lat, lat * 1000.0 / rate);
  }

  koppel_setSampleRateAndBlockSize(p, 44100.0, 256);
  koppel_setParameterValue(p, TV_PARAM_BAND_GAIN + 1, 12.0);  // band B, 370 Hz, +12 dB
  koppel_setParameterValue(p, TV_PARAM_LIMITER, 60.0);
  std::printf("\nBand B (370 Hz) raised by 12 dB, 44.1 kHz, latency %u samples\n", koppel_getLatencyInSamples(p));
  for (double f : {370.0, 80.0, 5000.0})
    std::printf("  %6.0f Hz sine: output level %+6.2f dB\n", f, level_change_db(p, f, 44100.0));
  koppel_destroyPlugin(p);
  return 0;
}
