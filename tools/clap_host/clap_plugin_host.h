// A minimal offline CLAP host: loads a .clap through its clap_entry, creates
// the first plug-in, and runs 64-bit stereo blocks through it.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "clap_abi.h"

// The .clap the build made, found upwards from the running program's folder
// (the tools live below the build folder); a bare name when none is found.
std::string built_clap_path();

class clap_plugin_host {
 public:
  ~clap_plugin_host();
  // Loads and initialises the plug-in; false with `error` set on failure.
  bool load(const std::string &path, std::string *error);
  bool activate(double rate, uint32_t block);
  void deactivate();
  void reset();
  uint32_t latency() const;
  // Processes `frames` frames of two channels (in place allowed). Parameter
  // events given are applied at frame 0.
  void process(double *const *in, double *const *out, uint32_t frames);

  // Parameters by the names the host sees.
  std::vector<std::string> parameter_names() const;
  bool find_parameter(const std::string &name, clap_id *id) const;
  bool text_to_value(clap_id id, const std::string &text, double *value) const;
  bool parameter_range(clap_id id, double *min, double *max) const;
  double default_value(clap_id id) const;
  std::string value_to_text(clap_id id, double value) const;
  void set_parameter(clap_id id, double value);  // applied at the next process
  double parameter(clap_id id) const;

  bool save_state(std::vector<uint8_t> *bytes) const;
  bool load_state(const std::vector<uint8_t> &bytes);
  bool restart_requested() const { return restart_requested_; }

  // The editor drawn without a window (our private extension): width·height
  // pixels, bytes b, g, r, 0. false when the plug-in cannot draw one.
  bool snapshot(uint32_t width, uint32_t height, std::vector<uint32_t> *pixels) const;
  // The editor at a UI scale: width × height in pixels.
  bool snapshot(uint32_t width, uint32_t height, double scale, std::vector<uint32_t> *pixels) const;
  // Keeps the plug-in's spectrum analyser capturing, as an open editor does.
  void keep_editor_live() const;

 private:
  void *lib_ = nullptr;
  const clap_plugin_entry_t *entry_ = nullptr;
  const clap_plugin_t *plugin_ = nullptr;
  const clap_plugin_params_t *params_ = nullptr;
  const clap_plugin_state_t *state_ = nullptr;
  const clap_plugin_latency_t *latency_ = nullptr;
  const struct tarvelon_plugin_snapshot_t *snapshot_ = nullptr;
  clap_host_t host_{};
  bool active_ = false;
  std::atomic<bool> restart_requested_{false};  // the plug-in may ask from its audio thread
  struct pending_param {
    clap_id id;
    double value;
  };
  std::vector<pending_param> pending_;
  static void on_restart(const clap_host_t *h);
};
