// Loads the plug-in as a user's host would, from an installed or unpacked
// location, and proves it works there: it reports its name and version,
// makes an instance, and turns a tone into a tone at the reported latency.
//   tarvelon-probe version <file.clap>    prints the version the plug-in reports
//   tarvelon-probe clap <file.clap>       loads, processes, prints one line
//   tarvelon-probe vst3 <bundle.vst3>     the same through the bundle's library
// Exit status 0 when the plug-in loaded and its output was right.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "clap_plugin_host.h"
#include "shared_library.h"
#include "support/vst3_test_host.h"

namespace {
constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;
constexpr uint32_t kBlocks = 24;  // well past any latency the plug-in reports

// Name, vendor and version of the first plug-in in a .clap, read from its
// descriptor; false when the file is not a CLAP plug-in.
bool clap_descriptor(const std::string &path, std::string *name, std::string *version, std::string *error) {
  void *lib = shared_library::open(path, error);
  if (!lib) return false;
  const auto *entry = static_cast<const clap_plugin_entry_t *>(shared_library::symbol(lib, "clap_entry"));
  bool ok = false;
  if (entry && entry->init(path.c_str())) {
    const auto *factory = static_cast<const clap_plugin_factory_t *>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t *d =
        factory && factory->get_plugin_count(factory) > 0 ? factory->get_plugin_descriptor(factory, 0) : nullptr;
    if (d && d->name && d->version) {
      *name = d->name;
      *version = d->version;
      ok = true;
    }
    entry->deinit();
  }
  if (!ok && error->empty()) *error = path + " is not a CLAP plug-in";
  shared_library::close(lib);
  return ok;
}

// What came out of a run: the output must be finite, silent before the
// latency has passed and carry the tone after it.
struct verdict {
  bool finite = true;
  double early_peak = 0, late_peak = 0;
  void add(uint32_t frame, uint32_t latency, double v) {
    if (!std::isfinite(v)) finite = false;
    const double a = std::fabs(v);
    if (frame + 1 < latency) early_peak = std::max(early_peak, a);
    if (frame > latency + kBlock) late_peak = std::max(late_peak, a);
  }
  bool good() const { return finite && early_peak < 1e-3 && late_peak > 0.25 && late_peak < 1.0; }
};

void tone(std::vector<double> *l, std::vector<double> *r, uint32_t first) {
  for (uint32_t i = 0; i < kBlock; i++) {
    const double v = 0.5 * std::sin(2.0 * M_PI * 1000.0 * double(first + i) / kRate);
    (*l)[i] = v, (*r)[i] = -v;
  }
}

int report(const char *format, const std::string &name, const std::string &version, uint32_t latency,
           const verdict &v) {
  std::printf("%s: %s %s loaded, latency %u samples, output peak %.3f before and %.3f after it%s: %s\n", format,
              name.c_str(), version.c_str(), latency, v.early_peak, v.late_peak, v.finite ? "" : ", NOT FINITE",
              v.good() ? "ok" : "FAILED");
  return v.good() ? 0 : 1;
}

int probe_clap(const std::string &path) {
  std::string name, version, error;
  if (!clap_descriptor(path, &name, &version, &error)) {
    std::fprintf(stderr, "clap: %s\n", error.c_str());
    return 1;
  }
  clap_plugin_host h;
  if (!h.load(path, &error) || !h.activate(kRate, kBlock)) {
    std::fprintf(stderr, "clap: %s\n", error.empty() ? "the plug-in cannot be activated" : error.c_str());
    return 1;
  }
  const uint32_t latency = h.latency();
  std::vector<double> il(kBlock), ir(kBlock), ol(kBlock), orr(kBlock);
  verdict v;
  for (uint32_t b = 0; b < kBlocks; b++) {
    tone(&il, &ir, b * kBlock);
    double *in[2] = {il.data(), ir.data()}, *out[2] = {ol.data(), orr.data()};
    h.process(in, out, kBlock);
    for (uint32_t i = 0; i < kBlock; i++) v.add(b * kBlock + i, latency, ol[i]), v.add(b * kBlock + i, latency, orr[i]);
  }
  return report("CLAP", name, version, latency, v);
}

// The library inside a bundle, where a host looks for it on this platform.
std::string bundle_library(std::string bundle) {
  while (bundle.size() > 1 && (bundle.back() == '/' || bundle.back() == '\\')) bundle.pop_back();
  const size_t slash = bundle.find_last_of("/\\");
  std::string stem = slash == std::string::npos ? bundle : bundle.substr(slash + 1);
  if (stem.size() > 5 && stem.compare(stem.size() - 5, 5, ".vst3") == 0) stem.resize(stem.size() - 5);
#ifdef _WIN32
  return bundle + "/Contents/x86_64-win/" + stem + ".vst3";
#else
  return bundle + "/Contents/x86_64-linux/" + stem + ".so";
#endif
}

int probe_vst3(const std::string &bundle) {
  const std::string path = bundle_library(bundle);
  vst3_host::module mod(path.c_str());
  if (!mod.factory) {
    std::fprintf(stderr, "vst3: cannot load %s\n", path.c_str());
    return 1;
  }
  vst3::PClassInfo2 info{};
  if (mod.f()->getClassInfo2(mod.factory, 0, &info) != vst3::kResultOk) {
    std::fprintf(stderr, "vst3: the factory describes no class\n");
    return 1;
  }
  vst3_host::instance inst(mod);
  if (!inst.processor) {
    std::fprintf(stderr, "vst3: no instance could be made\n");
    return 1;
  }
  inst.setup(kRate, int32_t(kBlock));
  const uint32_t latency = inst.proc()->getLatencySamples(inst.processor);
  std::vector<double> il(kBlock), ir(kBlock), ol(kBlock), orr(kBlock);
  verdict v;
  for (uint32_t b = 0; b < kBlocks; b++) {
    tone(&il, &ir, b * kBlock);
    double *in[2] = {il.data(), ir.data()}, *out[2] = {ol.data(), orr.data()};
    inst.process(int32_t(kBlock), reinterpret_cast<void **>(in), 2, reinterpret_cast<void **>(out), 2, true);
    for (uint32_t i = 0; i < kBlock; i++) v.add(b * kBlock + i, latency, ol[i]), v.add(b * kBlock + i, latency, orr[i]);
  }
  return report("VST 3", info.name, info.version, latency, v);
}
}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && !std::strcmp(argv[1], "version")) {
    std::string name, version, error;
    if (!clap_descriptor(argv[2], &name, &version, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", version.c_str());
    return 0;
  }
  if (argc == 3 && !std::strcmp(argv[1], "clap")) return probe_clap(argv[2]);
  if (argc == 3 && !std::strcmp(argv[1], "vst3")) return probe_vst3(argv[2]);
  std::fprintf(stderr, "usage: %s version|clap <file.clap> | vst3 <bundle.vst3>\n", argv[0]);
  return 2;
}
