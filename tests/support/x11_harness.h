// A top-level X window for editor tests to embed into, with screenshots of
// windows and synthetic input through XTest. `ok` is false without a display.
#pragma once
#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

struct x11_harness {
  Display *dpy = nullptr;
  Window parent = 0;
  bool ok = false;

  explicit x11_harness(int width = 1400, int height = 900);
  ~x11_harness();
  x11_harness(const x11_harness &) = delete;
  x11_harness &operator=(const x11_harness &) = delete;

  std::vector<Window> children(Window w) const;
  std::vector<Window> children() const { return children(parent); }
  // The window's pixels as 0x00RRGGBB, rows top down.
  bool image(Window w, std::vector<uint32_t> *pixels, int *width, int *height) const;
  bool geometry(Window w, int *width, int *height) const;
  // Synthetic pointer input at a point of window w.
  void move_to(Window w, int x, int y) const;
  void button(unsigned button, bool down) const;
  // A key by keysym, with Shift or Ctrl held around it when asked.
  void key(unsigned long keysym, bool ctrl = false) const;
  void sync() const;
  // Moves the host window (there is no window manager on the test server).
  void place(int x, int y) const;
};

// A host's own process-wide X error handler, installed for the life of the
// object (the one before is put back after): it counts errors by connection.
struct x11_host_error_handler {
  explicit x11_host_error_handler(Display *host_dpy);
  ~x11_host_error_handler();
  x11_host_error_handler(const x11_host_error_handler &) = delete;
  x11_host_error_handler &operator=(const x11_host_error_handler &) = delete;
  // Whether the process-wide handler is this one right now.
  static bool installed();
  static int on_host_connection;   // errors of the host's own requests
  static int on_other_connections;  // errors of anyone else's (the plug-in's)

 private:
  int (*previous_)(Display *, XErrorEvent *);
};
