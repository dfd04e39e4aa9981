// tarvelon-render: renders an audio file through the Tarvelon CLAP plug-in,
// offline, as a host would. With --demo it makes its own test signals and a
// report of how the rendered response compares with the designed filter.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "clap_plugin_host.h"
#include "design_probe.h"
#include "png_out.h"

namespace {
const char *kUsage =
    "usage: tarvelon-render [options] INPUT OUTPUT\n"
    "       tarvelon-render [options] --demo DIR\n"
    "options:\n"
    "  --plugin PATH        the .clap to load (default: the one built beside this program)\n"
    "  --set \"NAME=VALUE\"   set a parameter by name, e.g. \"Band A freq=440 Hz\" (repeatable)\n"
    "  --state FILE         load a saved plug-in state first\n"
    "  --save-state FILE    write the plug-in state after the settings are applied\n"
    "  --block N            frames per process call (default 256)\n"
    "  --compensate         drop the reported latency and run the tail out\n"
    "  --demo DIR           render a sweep and pink noise with a preset curve, and a report\n"
    "                       (and DIR/editor.png, the editor after the pink noise)\n"
    "  --snapshot FILE.png  after rendering, draw the plug-in's editor (live spectrum) into a PNG\n"
    "  --size WxH           editor size for snapshots (default 1060x566; 780..3840 x 566..2160),\n"
    "                       in logical pixels\n"
    "  --scale S            UI scale of the snapshot, 1..4 (default 1): the PNG is S times the size\n";

struct options {
  std::string plugin, input, output, state, save_state, demo, snapshot;
  uint32_t width = 1060, height = 566;
  double scale = 1.0;
  std::vector<std::string> sets;
  uint32_t block = 256;
  bool compensate = false;
};

std::string g_partial;  // output being written; removed on any failure

[[noreturn]] void fail(const std::string &msg) {
  std::fprintf(stderr, "tarvelon-render: %s\n", msg.c_str());
  if (!g_partial.empty()) std::remove(g_partial.c_str());
  std::exit(1);
}


options parse(int argc, char **argv) {
  options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail("option " + a + " needs a value");
      return argv[++i];
    };
    if (a == "--plugin") o.plugin = value();
    else if (a == "--set") o.sets.push_back(value());
    else if (a == "--state") o.state = value();
    else if (a == "--save-state") o.save_state = value();
    else if (a == "--demo") o.demo = value();
    else if (a == "--compensate") o.compensate = true;
    else if (a == "--snapshot") o.snapshot = value();
    else if (a == "--size") {
      const std::string v = value();
      unsigned w = 0, h = 0;
      char tail = 0;
      if (std::sscanf(v.c_str(), "%ux%u%c", &w, &h, &tail) != 2 || w < 780 || w > 3840 || h < 566 || h > 2160)
        fail("--size wants WIDTHxHEIGHT within 780..3840 x 566..2160, got \"" + v + "\"");
      o.width = w, o.height = h;
    }
    else if (a == "--scale") {
      const std::string v = value();
      char *end = nullptr;
      const double s = std::strtod(v.c_str(), &end);
      if (!end || *end || !(s >= 1.0 && s <= 4.0)) fail("--scale wants a number from 1 to 4, got \"" + v + "\"");
      o.scale = s;
    }
    else if (a == "--block") {
      const std::string v = value();
      char *end = nullptr;
      const long b = std::strtol(v.c_str(), &end, 10);
      if (!end || *end || b < 1 || b > 65536) fail("--block wants a number of frames from 1 to 65536");
      o.block = uint32_t(b);
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (!a.empty() && a[0] == '-') {
      fail("unknown option " + a + "\n" + kUsage);
    } else {
      positional.push_back(a);
    }
  }
  // The pixel size of a scaled snapshot stays within the largest window.
  if (std::lround(o.width * o.scale) > 3840 || std::lround(o.height * o.scale) > 2160)
    fail("--size times --scale exceeds 3840x2160 pixels");
  if (o.demo.empty()) {
    if (positional.size() != 2) fail(std::string("need INPUT and OUTPUT\n") + kUsage);
    o.input = positional[0];
    o.output = positional[1];
  } else if (!positional.empty()) {
    fail("--demo takes no INPUT or OUTPUT");
  }
  if (o.plugin.empty()) o.plugin = built_clap_path();
  return o;
}

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) fail("cannot read " + path);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The plug-in clamps what it is given; say so when the number typed was
// outside the parameter's range, rather than render something else silently.
void warn_if_clamped(const clap_plugin_host &plug, clap_id id, const std::string &name, const std::string &text,
                     double used) {
  double lo, hi;
  const char *start = text.c_str();
  char *end = nullptr;
  const double typed = std::strtod(start, &end);
  if (end == start || !plug.parameter_range(id, &lo, &hi)) return;
  if (!(typed < lo || typed > hi) || typed == used) return;
  std::fprintf(stderr, "tarvelon-render: \"%s\" = %s is outside %s .. %s; using %s\n", name.c_str(), text.c_str(),
               plug.value_to_text(id, lo).c_str(), plug.value_to_text(id, hi).c_str(),
               plug.value_to_text(id, used).c_str());
}

void apply_settings(clap_plugin_host &plug, const options &o) {
  if (!o.state.empty() && !plug.load_state(read_file(o.state))) fail("not a valid Tarvelon state: " + o.state);
  for (const std::string &s : o.sets) {
    const size_t eq = s.find('=');
    if (eq == std::string::npos) fail("--set wants NAME=VALUE, got \"" + s + "\"");
    const std::string name = s.substr(0, eq), text = s.substr(eq + 1);
    clap_id id;
    if (!plug.find_parameter(name, &id)) {
      std::string list;
      for (const std::string &n : plug.parameter_names()) list += "\n  " + n;
      fail("unknown parameter \"" + name + "\"; the parameters are:" + list);
    }
    double v;
    if (!plug.text_to_value(id, text, &v)) fail("cannot read a value for \"" + name + "\" from \"" + text + "\"");
    warn_if_clamped(plug, id, name, text, v);
    plug.set_parameter(id, v);
  }
  if (!o.save_state.empty()) {
    std::vector<uint8_t> bytes;
    if (!plug.save_state(&bytes)) fail("the plug-in could not save its state");
    std::ofstream f(o.save_state, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!f) fail("cannot write " + o.save_state);
  }
}

int format_for(const std::string &path) {
  const size_t dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  for (char &c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "wav") return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
  if (ext == "flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  if (ext == "ogg") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  if (ext == "caf") return SF_FORMAT_CAF | SF_FORMAT_FLOAT;
  fail("cannot tell the output format from \"" + path + "\" (use .wav, .aiff, .flac, .ogg or .caf)");
}

// Activates at the rate and block size, lets a block-size rebuild happen
// before any audio, and starts from silence.
void prepare(clap_plugin_host &plug, double rate, uint32_t block) {
  if (!plug.activate(rate, block)) fail("the plug-in could not be activated");
  std::vector<double> z(block, 0.0);
  double *io[2] = {z.data(), z.data()};
  std::vector<double> o(block);
  double *out[2] = {o.data(), o.data()};
  plug.process(io, out, block);
  if (plug.restart_requested() && !plug.activate(rate, block)) fail("the plug-in could not be re-activated");
  plug.reset();
}

// Streams `frames` frames of (up to) stereo audio through the plug-in.
// source(buffer, n) fills n interleaved frames and returns how many it gave;
// sink(buffer, n) takes n interleaved output frames.
template <class Source, class Sink>
void run(clap_plugin_host &plug, int channels, uint32_t block, bool compensate, int64_t total, Source source,
         Sink sink, bool progress) {
  const int64_t latency = compensate ? plug.latency() : 0;
  std::vector<double> inter(size_t(block) * size_t(channels)), l(block), r(block), ol(block), orr(block),
      outi(size_t(block) * size_t(channels));
  double *in[2] = {l.data(), r.data()}, *out[2] = {ol.data(), orr.data()};
  int64_t fed = 0, skipped = 0, written = 0;
  int last_pct = -1;
  while (written < total) {
    const uint32_t want = block;
    uint32_t got = 0;
    if (fed < total) got = uint32_t(source(inter.data(), std::min<int64_t>(want, total - fed)));
    for (uint32_t i = 0; i < want; i++) {
      const bool have = i < got;
      l[i] = have ? inter[size_t(i) * size_t(channels)] : 0.0;
      r[i] = have ? inter[size_t(i) * size_t(channels) + size_t(channels - 1)] : 0.0;
    }
    fed += got;
    plug.keep_editor_live();  // the snapshot shows the spectrum of the end of the audio
    plug.process(in, out, want);
    uint32_t first = 0;
    if (skipped < latency) {
      first = uint32_t(std::min<int64_t>(latency - skipped, want));
      skipped += first;
    }
    const uint32_t n = uint32_t(std::min<int64_t>(want - first, total - written));
    for (uint32_t i = 0; i < n; i++) {
      outi[size_t(i) * size_t(channels)] = ol[first + i];
      if (channels == 2) outi[size_t(i) * 2 + 1] = orr[first + i];
    }
    if (n) sink(outi.data(), n);
    written += n;
    if (fed >= total && got == 0 && !compensate && written < total) break;  // input ended early
    if (progress) {
      const int pct = int(100 * written / (total ? total : 1));
      if (pct / 10 != last_pct / 10) std::fprintf(stderr, "\rrendering %3d%%", pct);
      last_pct = pct;
    }
  }
  if (progress) std::fprintf(stderr, "\n");
}

// true when both names lead to one file (the same path, a link, another spelling).
bool same_file(const std::string &a, const std::string &b) {
  struct stat sa{}, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void render_file(clap_plugin_host &plug, const options &o) {
  if (o.input == o.output || same_file(o.input, o.output))
    fail("OUTPUT " + o.output + " is the input file itself; choose another name so the original is kept");
  SF_INFO info{};
  SNDFILE *in = sf_open(o.input.c_str(), SFM_READ, &info);
  if (!in) fail("cannot read " + o.input + ": " + sf_strerror(nullptr));
  if (info.channels < 1 || info.channels > 2) {
    sf_close(in);
    fail(o.input + " has " + std::to_string(info.channels) + " channels; only mono and stereo are supported");
  }
  prepare(plug, info.samplerate, o.block);
  SF_INFO out_info{};
  out_info.samplerate = info.samplerate;
  out_info.channels = info.channels;
  out_info.format = format_for(o.output);
  if (!sf_format_check(&out_info)) fail("this output format cannot hold " + std::to_string(info.channels) + " channels");
  const std::string dir = o.output.rfind('/') == std::string::npos ? "." : o.output.substr(0, o.output.rfind('/'));
  g_partial = dir + "/.tarvelon-render-" + std::to_string(getpid()) + ".part";
  SNDFILE *out = sf_open(g_partial.c_str(), SFM_WRITE, &out_info);
  if (!out) fail("cannot write " + o.output + ": " + sf_strerror(nullptr));
  sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  sf_command(out, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);  // it carries a timestamp: runs would differ
  bool write_error = false;
  run(
      plug, info.channels, o.block, o.compensate, info.frames,
      [&](double *buf, int64_t n) { return sf_readf_double(in, buf, n); },
      [&](const double *buf, uint32_t n) { write_error |= sf_writef_double(out, buf, n) != sf_count_t(n); },
      info.frames > int64_t(info.samplerate) * 5);
  sf_close(in);
  if (sf_close(out) != 0 || write_error) fail("writing " + o.output + " failed");
  if (std::rename(g_partial.c_str(), o.output.c_str()) != 0) fail("cannot move the result to " + o.output);
  g_partial.clear();
}

void write_snapshot(const clap_plugin_host &plug, const std::string &path, uint32_t logical_w, uint32_t logical_h,
                    double scale) {
  const uint32_t width = uint32_t(std::lround(logical_w * scale)), height = uint32_t(std::lround(logical_h * scale));
  std::vector<uint32_t> px;
  if (!plug.snapshot(width, height, scale, &px)) fail("the plug-in could not draw its editor");
  std::string error;
  g_partial = path + ".part";
  if (!write_presented_png(g_partial, reinterpret_cast<const uint8_t *>(px.data()), int(width), int(height), &error))
    fail(error);
  if (std::rename(g_partial.c_str(), path.c_str()) != 0) fail("cannot move the result to " + path);
  g_partial.clear();
}

// --demo

void write_wav(const std::string &path, const std::vector<double> &mono, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  g_partial = path + ".part";
  SNDFILE *f = sf_open(g_partial.c_str(), SFM_WRITE, &info);
  if (!f) fail("cannot write " + path + ": " + sf_strerror(nullptr));
  sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);  // it carries a timestamp: runs would differ
  const bool ok = sf_writef_double(f, mono.data(), sf_count_t(mono.size())) == sf_count_t(mono.size());
  if (sf_close(f) != 0 || !ok) fail("writing " + path + " failed");
  if (std::rename(g_partial.c_str(), path.c_str()) != 0) fail("cannot move the result to " + path);
  g_partial.clear();
}

std::vector<double> render_mono(clap_plugin_host &plug, const std::vector<double> &x, int rate, uint32_t block) {
  prepare(plug, rate, block);
  std::vector<double> y;
  y.reserve(x.size());
  size_t pos = 0;
  run(
      plug, 1, block, true, int64_t(x.size()),
      [&](double *buf, int64_t n) {
        const size_t k = std::min<size_t>(size_t(n), x.size() - pos);
        std::copy_n(x.data() + pos, k, buf);
        pos += k;
        return int64_t(k);
      },
      [&](const double *buf, uint32_t n) { y.insert(y.end(), buf, buf + n); }, false);
  return y;
}

double dtft_magnitude(const std::vector<double> &x, double f, int rate) {
  const double w = 2.0 * M_PI * f / rate;
  std::complex<double> acc = 0, step = std::polar(1.0, -w), rot = 1.0;
  for (size_t n = 0; n < x.size(); n++) {
    acc += x[n] * rot;
    rot *= step;
    if ((n & 1023) == 1023) rot = std::polar(1.0, -w * double(n + 1));  // keep the phasor on the circle
  }
  return std::abs(acc);
}

// mkdir -p: every missing folder on the way.
void make_dirs(const std::string &path) {
  for (size_t pos = path.find('/', 1); ; pos = path.find('/', pos + 1)) {
    mkdir(path.substr(0, pos).c_str(), 0755);
    if (pos == std::string::npos) break;
  }
}

void demo(clap_plugin_host &plug, const options &o) {
  const int rate = 48000;
  make_dirs(o.demo);
  struct stat st{};
  if (stat(o.demo.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) fail("cannot make the folder " + o.demo);
  if (o.sets.empty() && o.state.empty()) {
    // A gentle curve: a little warmth, a dip in the low mids, presence and air.
    const char *curve[][2] = {{"Band A gain", "3"},     {"Band B gain", "-2.5"}, {"Band B slope", "1"},
                              {"Band C gain", "1.5"},   {"Band D gain", "4"},    {"Band D slope", "2"}};
    for (auto &c : curve) {
      clap_id id;
      double v;
      if (plug.find_parameter(c[0], &id) && plug.text_to_value(id, c[1], &v)) plug.set_parameter(id, v);
    }
  }
  // A 10 s logarithmic sweep, 20 Hz to 20 kHz, then 1 s of silence for the tail.
  const size_t sweep_len = size_t(rate) * 10, pad = size_t(rate);
  std::vector<double> sweep(sweep_len + pad, 0.0);
  const double f0 = 20.0, f1 = 20000.0, T = 10.0, K = std::log(f1 / f0);
  for (size_t n = 0; n < sweep_len; n++) {
    const double t = double(n) / rate;
    const double fade = std::min({1.0, t / 0.01, (T - t) / 0.01});
    sweep[n] = 0.5 * fade * std::sin(2 * M_PI * f0 * T / K * (std::exp(t * K / T) - 1.0));
  }
  // Pink noise (Voss-McCartney, 16 rows), fixed seed so every run is identical.
  std::vector<double> pink(size_t(rate) * 10);
  std::mt19937 rng(20261206);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double rows[16] = {};
  double sum = 0;
  for (size_t n = 0; n < pink.size(); n++) {
    const unsigned k = unsigned(__builtin_ctz(unsigned(n) | 0x10000u));
    if (k < 16) {
      sum -= rows[k];
      rows[k] = u(rng);
      sum += rows[k];
    }
    pink[n] = 0.05 * (sum + u(rng));
  }
  std::fprintf(stderr, "rendering the sweep and pink noise...\n");
  const std::vector<double> sweep_eq = render_mono(plug, sweep, rate, o.block);
  const std::vector<double> pink_eq = render_mono(plug, pink, rate, o.block);
  write_wav(o.demo + "/sweep.wav", sweep, rate);
  write_wav(o.demo + "/sweep-eq.wav", sweep_eq, rate);
  write_wav(o.demo + "/pink.wav", pink, rate);
  write_wav(o.demo + "/pink-eq.wav", pink_eq, rate);

  std::vector<double> values(28);
  for (clap_id id = 0; id < 28; id++) values[id] = plug.parameter(id);
  const std::vector<double> band_f = {values[8], values[9], values[10], values[11]};
  const std::vector<double> low_f = {20, 25, 30, 40, 50, 60, 80, 100, 150, 200, 300};
  const auto band_probe = probe_design(values, rate, band_f);
  const auto low_probe = probe_design(values, rate, low_f);

  std::string report;
  char line[256];
  std::snprintf(line, sizeof line, "Tarvelon Free render demo, %d Hz, latency %u samples (%.2f ms)\n\n", rate,
                plug.latency(), plug.latency() * 1000.0 / rate);
  report += line;
  report += "Gain at the band frequencies (dB):\n";
  report += "  band   freq Hz   measured from sweep   designed filter   curve   measured-designed\n";
  double worst = 0;
  for (size_t b = 0; b < 4; b++) {
    const double measured = 20 * std::log10(dtft_magnitude(sweep_eq, band_f[b], rate) /
                                            dtft_magnitude(sweep, band_f[b], rate));
    worst = std::max(worst, std::fabs(measured - band_probe[b].designed_db));
    std::snprintf(line, sizeof line, "  %c    %8.1f   %19.3f   %15.3f   %5.2f   %17.5f\n", char('A' + b), band_f[b],
                  measured, band_probe[b].designed_db, band_probe[b].curve_db, measured - band_probe[b].designed_db);
    report += line;
  }
  std::snprintf(line, sizeof line, "  largest difference between measured and designed: %.5f dB\n\n", worst);
  report += line;
  report += "Where the realised response departs from the curve (low frequencies, where the\n"
            "kernel's length limits the detail it can follow):\n";
  report += "  freq Hz   curve dB   designed dB   difference dB\n";
  for (size_t i = 0; i < low_f.size(); i++) {
    std::snprintf(line, sizeof line, "  %7.0f   %8.2f   %11.2f   %13.2f\n", low_f[i], low_probe[i].curve_db,
                  low_probe[i].designed_db, low_probe[i].designed_db - low_probe[i].curve_db);
    report += line;
  }
  const std::string report_path = o.demo + "/report.txt";
  {
    g_partial = report_path + ".part";
    std::ofstream f(g_partial, std::ios::binary);
    f << report;
    if (!f) fail("cannot write " + report_path);
  }
  if (std::rename(g_partial.c_str(), report_path.c_str()) != 0) fail("cannot write " + report_path);
  g_partial.clear();
  std::fputs(report.c_str(), stdout);
  write_snapshot(plug, o.demo + "/editor.png", o.width, o.height, o.scale);
  std::printf("\nwrote sweep.wav, sweep-eq.wav, pink.wav, pink-eq.wav, report.txt and editor.png in %s\n",
              o.demo.c_str());
}
}  // namespace

int main(int argc, char **argv) {
  const options o = parse(argc, argv);
  clap_plugin_host plug;
  std::string error;
  if (!plug.load(o.plugin, &error)) fail(error);
  apply_settings(plug, o);
  if (!o.demo.empty()) demo(plug, o);
  else render_file(plug, o);
  if (!o.snapshot.empty()) write_snapshot(plug, o.snapshot, o.width, o.height, o.scale);
  return 0;
}
