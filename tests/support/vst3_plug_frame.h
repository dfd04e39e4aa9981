// The host side of a VST 3 editor for the tests: an IPlugFrame that resizes
// the view as a host would, and (unless left out) a Linux run loop over a
// gui_loop.
#pragma once
#include <atomic>
#include <vector>

#include "support/gui_loop.h"
#include "vst3_abi.h"

namespace vst3_host {

struct plug_frame;
struct run_loop {
  const vst3::IRunLoopVtbl *lpVtbl;
  std::atomic<int> refs{1};
  plug_frame *owner;
  explicit run_loop(plug_frame *f);
};

struct plug_frame {
  const vst3::IPlugFrameVtbl *lpVtbl;
  std::atomic<int> refs{1};
  bool offer_run_loop = true;
  run_loop loop_object{this};
  gui_loop loop;
  std::vector<vst3::ViewRect> resizes;
  // Handlers the plug-in registered and has not unregistered.
  int timers = 0, handlers = 0;
  plug_frame();
};

}  // namespace vst3_host
