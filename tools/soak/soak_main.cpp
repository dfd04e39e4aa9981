// tarvelon-soak: drives the CLAP plug-in the way a long session in a host
// does, and checks it stays sound: random block lengths within the announced
// maximum, random automation (including the settings that rebuild the
// engine), state saved and loaded from the main thread while the audio thread
// runs, and input that is silent, full scale, denormal or NaN at times.
// Phases alternate between long and short host blocks, and the buffer setting
// leans to its short end half the time, so the engine often runs its kernel
// in many parts (short blocks) as well as whole.
// After every phase the reported latency must equal the measured delay of an
// impulse, every output sample must be finite and bounded, and the resident
// memory must stay flat. Exits 1 on the first violation.
//
// usage: tarvelon-soak [--seconds N] [--seed S] [--plugin PATH]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clap_host_kit.h"
#include "clap_plugin_host.h"

namespace {
constexpr double kRate = 48000.0;
constexpr uint32_t kMaxBlock = 1024;
constexpr double kBound = 1e5;  // +60 dB on full scale with the filter's ripple stays far below

[[noreturn]] void violation(const std::string &what) {
  std::fprintf(stderr, "tarvelon-soak: VIOLATION: %s\n", what.c_str());
  std::exit(1);
}


struct soak {
  clap_plugin_host plug;
  std::mt19937_64 rng;
  std::vector<double> l, r, ol, orr;
  std::vector<clap_id> ids;
  std::vector<std::pair<double, double>> ranges;
  clap_id resolution = 22, input_buffer = 23;
  uint64_t frames = 0, phases = 0, rebuilds = 0, states = 0;
  uint64_t phases_in_parts = 0, most_parts = 1;
  uint32_t max_block = kMaxBlock;  // the host's promise in this phase

  explicit soak(uint64_t seed) : rng(seed), l(kMaxBlock), r(kMaxBlock), ol(kMaxBlock), orr(kMaxBlock) {}

  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
  uint32_t below(uint32_t n) { return uint32_t(rng() % n); }

  void fill_input(uint32_t n) {
    const uint32_t kind = below(10);
    for (uint32_t i = 0; i < n; i++) {
      double a = 0.0, b = 0.0;
      switch (kind) {
        case 0: break;                                                                   // silence
        case 1: a = b = (i / 37) % 2 ? 1.0 : -1.0; break;                               // full scale
        case 2: a = b = std::numeric_limits<double>::denorm_min() * double(1 + i % 7); break;  // denormals
        case 3: a = b = below(5) == 0 ? std::nan("") : uniform(-1, 1); break;          // NaN burst
        case 4: a = std::numeric_limits<double>::infinity(), b = -a; break;           // infinities
        default: a = uniform(-0.5, 0.5), b = uniform(-0.5, 0.5); break;                // noise
      }
      l[i] = a, r[i] = b;
    }
  }

  void check_output(uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
      if (!std::isfinite(ol[i]) || !std::isfinite(orr[i]) || std::fabs(ol[i]) > kBound || std::fabs(orr[i]) > kBound)
        violation("output sample " + std::to_string(ol[i]) + " / " + std::to_string(orr[i]) + " at frame " +
                  std::to_string(frames + i));
  }

  void automate() {
    const uint32_t k = below(ids.size());
    const clap_id id = ids[k];
    // The settings that rebuild the engine change now and then, not every block.
    if ((id == resolution || id == input_buffer) && below(40) != 0) return;
    const auto [lo, hi] = ranges[k];
    // Short buffers make short blocks, hence many parts of the kernel.
    const bool short_buffer = id == input_buffer && below(2) == 0;
    plug.set_parameter(id, uniform(lo, short_buffer ? std::min(hi, lo + 0.5) : hi));
    if (id == resolution || id == input_buffer) rebuilds++;
  }

  void run_block(uint32_t n) {
    double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
    plug.process(in, out, n);
    check_output(n);
    frames += n;
  }

  // One phase: the audio thread plays random blocks with automation while
  // the main thread saves and reloads the state at random moments.
  void chaos(double seconds) {
    std::atomic<bool> stop{false};
    const uint64_t seed = rng();
    std::thread audio([&] {
      const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
      while (std::chrono::steady_clock::now() < end) {
        const uint32_t n = 1 + below(max_block);
        if (below(4) == 0) automate();
        fill_input(n);
        run_block(n);
      }
      stop = true;
    });
    std::mt19937 main_rng{uint32_t(seed)};
    while (!stop.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1 + main_rng() % 50));
      std::vector<uint8_t> bytes;
      if (!plug.save_state(&bytes)) violation("saving the state failed");
      if (!plug.load_state(bytes)) violation("loading a state just saved failed");
      states++;
    }
    audio.join();
  }

  // A host picks up a latency change by re-activating the plug-in; then the
  // latency it reads must be the delay it gets.
  void check_latency() {
    if (plug.restart_requested() && !plug.activate(kRate, max_block)) violation("re-activation failed");
    plug.activate(kRate, max_block);
    const uint32_t latency = plug.latency();
    count_parts(latency);
    // A flat curve without the limiter, at the current engine settings.
    for (size_t k = 0; k < ids.size(); k++)
      if (ids[k] != resolution && ids[k] != input_buffer) plug.set_parameter(ids[k], plug.default_value(ids[k]));
    const uint32_t n = 1 + below(max_block);
    // Silence until the new curve is designed, crossfaded in and played out.
    std::fill(l.begin(), l.end(), 0.0);
    std::fill(r.begin(), r.end(), 0.0);
    for (int64_t pos = 0; pos < 2 * int64_t(latency) + 4 * kMaxBlock; pos += n) run_block(n);
    double best = 0.0;
    int64_t best_at = -1;
    for (int64_t pos = 0; pos < int64_t(latency) + 3 * kMaxBlock; pos += n) {
      for (uint32_t i = 0; i < n; i++) l[i] = r[i] = (pos + i == 0) ? 1.0 : 0.0;
      run_block(n);
      for (uint32_t i = 0; i < n; i++)
        if (std::fabs(ol[i]) > best) best = std::fabs(ol[i]), best_at = pos + i;
    }
    if (plug.restart_requested()) violation("the plug-in asked for a restart while nothing changed");
    if (best_at != int64_t(latency))
      violation("reported latency " + std::to_string(latency) + " but the impulse came out at " +
                std::to_string(best_at) + " (blocks of " + std::to_string(n) + ")");
  }

  // How many parts the kernel runs in now: the latency is one block plus
  // half the kernel, and the kernel length follows the rate and Resolution.
  void count_parts(uint32_t latency) {
    const double base = double(int64_t(kRate) * 1025 / 44100);
    int64_t ksize = int64_t(base * plug.parameter(resolution) + 0.5);
    if (ksize % 2 == 0) ksize++;
    const int64_t block = int64_t(latency) - ksize / 2;
    if (block < 1) violation("latency " + std::to_string(latency) + " shorter than half the kernel");
    const uint64_t parts = uint64_t((ksize + block - 1) / block);
    if (parts > 1) phases_in_parts++;
    most_parts = std::max(most_parts, parts);
  }
};
}  // namespace

int main(int argc, char **argv) {
  double seconds = 60.0;
  uint64_t seed = 20261207;
  std::string plugin = built_clap_path();
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--plugin" && i + 1 < argc) plugin = argv[++i];
    else {
      std::fprintf(stderr, "usage: tarvelon-soak [--seconds N] [--seed S] [--plugin PATH]\n");
      return 2;
    }
  }
  if (!(seconds > 0.0)) seconds = 60.0;
  // The plug-in keeps its settings per user; random ones must not become the
  // user's, so this run gets a configuration folder of its own.
  char config[] = "/tmp/tarvelon-soak-XXXXXX";
  if (!mkdtemp(config) || setenv("XDG_CONFIG_HOME", config, 1) != 0) {
    std::fprintf(stderr, "tarvelon-soak: cannot make a configuration folder\n");
    return 2;
  }
  soak s(seed);
  std::string error;
  if (!s.plug.load(plugin, &error)) {
    std::fprintf(stderr, "tarvelon-soak: %s\n", error.c_str());
    return 2;
  }
  for (const std::string &name : s.plug.parameter_names()) {
    clap_id id;
    double lo, hi;
    if (s.plug.find_parameter(name, &id) && s.plug.parameter_range(id, &lo, &hi)) {
      s.ids.push_back(id);
      s.ranges.push_back({lo, hi});
    }
  }
  if (!s.plug.activate(kRate, kMaxBlock)) {
    std::fprintf(stderr, "tarvelon-soak: the plug-in could not be activated\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  double rss_settled = 0.0, rss_peak = 0.0;
  while (elapsed() < seconds) {
    s.chaos(std::min(2.0, std::max(0.2, seconds - elapsed())));
    s.check_latency();
    s.phases++;
    s.max_block = s.phases % 2 ? 128 : kMaxBlock;  // the next phase's host promise
    const double rss = resident_memory_mb();
    // The first tenth lets the allocator and the largest engine sizes settle.
    if (rss_settled == 0.0 && elapsed() > seconds * 0.1) rss_settled = rss;
    rss_peak = std::max(rss_peak, rss);
    if (rss_settled > 0.0 && rss > rss_settled + 64.0)
      violation("resident memory grew from " + std::to_string(rss_settled) + " MB to " + std::to_string(rss) + " MB");
  }
  if (s.phases >= 8 && s.phases_in_parts == 0) violation("no phase ran with the kernel in parts");
  std::printf("tarvelon-soak: %.0f s, %llu phases (%llu with the kernel in parts, up to %llu), %.1f million frames "
              "(%.1f hours of audio at 48 kHz), "
              "%llu engine-size changes, %llu state round trips; resident memory %.1f MB settled, %.1f MB peak; "
              "no violation\n",
              elapsed(), static_cast<unsigned long long>(s.phases), static_cast<unsigned long long>(s.phases_in_parts),
              static_cast<unsigned long long>(s.most_parts), double(s.frames) / 1e6,
              double(s.frames) / kRate / 3600.0, static_cast<unsigned long long>(s.rebuilds),
              static_cast<unsigned long long>(s.states), rss_settled, rss_peak);
  std::system((std::string("rm -rf '") + config + "'").c_str());
  return 0;
}
