// An editor opened through the CLAP gui extension into a host window of the
// platform's kind (an X window id or a window handle), as the window tests
// of both platforms use it.
#pragma once
#include <cstdint>

#include "koppel_clap.h"
#include "support/clap_test_host.h"
#include "tarvelon_koppel.h"

struct clap_editor {
  clap_test_host host{&clap_entry};
  bool open = false;

  bool create_and_open(uintptr_t parent) {
#ifdef _WIN32
    const char *api = CLAP_WINDOW_API_WIN32;
#else
    const char *api = CLAP_WINDOW_API_X11;
#endif
    if (!host.plugin && !host.create()) return false;
    if (!host.gui || !host.gui->is_api_supported(host.plugin, api, false)) return false;
    if (!host.gui->create(host.plugin, api, false)) return false;
    host.gui->set_scale(host.plugin, 1.0);
    clap_window_t w{};
    w.api = api;
#ifdef _WIN32
    w.win32 = reinterpret_cast<void *>(parent);
#else
    w.x11 = parent;
#endif
    open = host.gui->set_parent(host.plugin, &w) && host.gui->show(host.plugin);
    return open;
  }
  void close() {
    if (!open) return;
    host.gui->hide(host.plugin);
    host.gui->destroy(host.plugin);
    open = false;
  }
  TarvelonKoppelPlugin *core_plugin() const { return koppel_clap_user_plugin(host.plugin); }
};

// Serves the host's loop until `done` holds or `ms` have passed (the window
// system and the editor may be slow under sanitizers or Wine; nothing here
// measures time).
template <class Done>
bool serve_until(gui_loop &loop, Done done, int ms = 3000) {
  for (int waited = 0; waited < ms && !done(); waited += 10) loop.run_for(10);
  return done();
}
