// Renders one fixed signal and edit script through the plug-in by either
// format and writes the output as raw little-endian doubles, so the Linux and
// Windows builds can be compared sample by sample:
//   tarvelon_cross_render clap|vst3 <plug-in> <output file>
//   tarvelon_cross_render compare <a> <b> <tolerance>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clap_plugin_host.h"
#include "support/vst3_test_host.h"

namespace {
constexpr double kRate = 48000.0;
constexpr uint32_t kFrames = 48000 * 5 / 2;
constexpr uint32_t kMaxBlock = 4096;
constexpr uint32_t kBlocks[] = {256, 512, 100, 1024, 32, 4096, 1, 777};

struct edit {
  uint32_t at;  // frame
  uint32_t id;
  double value;  // plain
};
// Bands moved before and during the run (a crossfade), the limiter engaged.
// Every engine setting is given, so the user's preferences change nothing.
const edit kEdits[] = {{0, 23, 0.2},     {0, 6, 9.0},      {0, 4, -6.0},     {0, 22, 2.0},      {0, 24, -3.0},
                       {0, 14, 12.0},    {40000, 5, 12.0}, {40000, 9, 600.0}, {90000, 17, -4.5},
                       {90000, 16, 7.0}, {100000, 3, 0.0}};

// The input: two tones, a click train and noise from a fixed generator.
std::vector<double> input(int channel) {
  std::vector<double> x(kFrames);
  uint32_t seed = 12345u + uint32_t(channel);
  for (uint32_t i = 0; i < kFrames; i++) {
    seed = seed * 1664525u + 1013904223u;
    const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 0.2;
    const double t = double(i) / kRate;
    x[i] = 0.3 * std::sin(2 * M_PI * (220.0 + 110.0 * channel) * t) + 0.2 * std::sin(2 * M_PI * 3100.0 * t) + noise +
           (i % 9600 == 0 ? 0.9 : 0.0);
  }
  return x;
}

bool write_file(const std::string &path, const std::vector<double> &l, const std::vector<double> &r) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = true;
  for (uint32_t i = 0; i < kFrames && ok; i++) {
    const double s[2] = {l[i], r[i]};
    ok = std::fwrite(s, sizeof s, 1, f) == 1;
  }
  return std::fclose(f) == 0 && ok;
}

// Runs the blocks, calling `block(frames, in, out, first_frame)`.
template <class Block>
void run(Block block, std::vector<double> *ol, std::vector<double> *orr) {
  std::vector<double> il = input(0), ir = input(1);
  ol->assign(kFrames, 0.0), orr->assign(kFrames, 0.0);
  uint32_t pos = 0;
  for (size_t k = 0; pos < kFrames; k++) {
    const uint32_t n = std::min(kBlocks[k % (sizeof kBlocks / sizeof kBlocks[0])], kFrames - pos);
    double *in[2] = {il.data() + pos, ir.data() + pos};
    double *out[2] = {ol->data() + pos, orr->data() + pos};
    block(n, in, out, pos);
    pos += n;
  }
}

int render_clap(const std::string &plugin, const std::string &out) {
  clap_plugin_host h;
  std::string error;
  if (!h.load(plugin, &error) || !h.activate(kRate, kMaxBlock)) {
    std::fprintf(stderr, "%s\n", error.empty() ? "cannot activate" : error.c_str());
    return 1;
  }
  std::vector<double> l, r;
  run([&](uint32_t n, double **in, double **o, uint32_t pos) {
        for (const edit &e : kEdits)
          if (e.at >= pos && e.at < pos + n) h.set_parameter(e.id, e.value);
        h.process(in, o, n);
      },
      &l, &r);
  return write_file(out, l, r) ? 0 : 1;
}

int render_vst3(const std::string &plugin, const std::string &out) {
  vst3_host::module mod(plugin.c_str());
  if (!mod.factory) {
    std::fprintf(stderr, "cannot load %s\n", plugin.c_str());
    return 1;
  }
  vst3_host::instance inst(mod);
  if (!inst.processor) return 1;
  inst.setup(kRate, int32_t(kMaxBlock));
  std::vector<double> l, r;
  run([&](uint32_t n, double **in, double **o, uint32_t pos) {
        vst3_host::parameter_changes changes;
        for (const edit &e : kEdits)
          if (e.at >= pos && e.at < pos + n)
            changes.add(e.id).points = {{0, inst.ctrl()->plainParamToNormalized(inst.controller, e.id, e.value)}};
        inst.process(int32_t(n), reinterpret_cast<void **>(in), 2, reinterpret_cast<void **>(o), 2, true, &changes);
      },
      &l, &r);
  return write_file(out, l, r) ? 0 : 1;
}

std::vector<double> read_file(const std::string &path) {
  std::vector<double> v;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  double buf[1024];
  size_t n;
  while ((n = std::fread(buf, sizeof(double), 1024, f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

int compare(const std::string &a, const std::string &b, double tolerance) {
  const std::vector<double> x = read_file(a), y = read_file(b);
  if (x.empty() || x.size() != y.size()) {
    std::printf("%s and %s differ in length (%zu and %zu samples)\n", a.c_str(), b.c_str(), x.size(), y.size());
    return 1;
  }
  double worst = 0, peak = 0;
  size_t differ = 0, worst_at = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const double d = std::fabs(x[i] - y[i]);
    differ += std::memcmp(&x[i], &y[i], sizeof(double)) != 0;
    peak = std::max(peak, std::fabs(x[i]));
    if (!(d <= worst)) worst = d, worst_at = i;  // a NaN counts as the worst
  }
  std::printf("%zu samples, peak %.3f, %zu not bit-identical, largest difference %.3g at frame %zu (limit %.3g)\n",
              x.size(), peak, differ, worst, worst_at / 2, tolerance);
  return worst <= tolerance && peak > 0.01 ? 0 : 1;
}
}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && !std::strcmp(argv[1], "compare")) return compare(argv[2], argv[3], std::atof(argv[4]));
  if (argc == 4 && !std::strcmp(argv[1], "clap")) return render_clap(argv[2], argv[3]);
  if (argc == 4 && !std::strcmp(argv[1], "vst3")) return render_vst3(argv[2], argv[3]);
  std::fprintf(stderr, "usage: %s clap|vst3 <plug-in> <output> | compare <a> <b> <tolerance>\n", argv[0]);
  return 2;
}
