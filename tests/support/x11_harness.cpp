#include "support/x11_harness.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

x11_harness::x11_harness(int width, int height) {
  if (!std::getenv("DISPLAY")) return;
  // A busy server may refuse a connection for a moment (its queue of new clients is full).
  for (int attempt = 0; attempt < 40 && !dpy; attempt++) {
    dpy = XOpenDisplay(nullptr);
    if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!dpy) {
    std::perror("XOpenDisplay");
    return;
  }
  parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, unsigned(width), unsigned(height), 0, 0, 0x202020);
  XStoreName(dpy, parent, "editor test host");
  XMapWindow(dpy, parent);
  XSync(dpy, False);
  ok = true;
}

x11_harness::~x11_harness() {
  if (!dpy) return;
  if (parent) XDestroyWindow(dpy, parent);
  XCloseDisplay(dpy);
}

std::vector<Window> x11_harness::children(Window w) const {
  std::vector<Window> r;
  Window root = 0, par = 0, *kids = nullptr;
  unsigned n = 0;
  XSync(dpy, False);
  if (XQueryTree(dpy, w, &root, &par, &kids, &n)) {
    r.assign(kids, kids + n);
    if (kids) XFree(kids);
  }
  return r;
}

bool x11_harness::image(Window w, std::vector<uint32_t> *pixels, int *width, int *height) const {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(dpy, w, &a)) return false;
  XImage *img = XGetImage(dpy, w, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
  if (!img) return false;
  pixels->resize(size_t(a.width) * size_t(a.height));
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) (*pixels)[size_t(y) * size_t(a.width) + size_t(x)] = uint32_t(XGetPixel(img, x, y)) & 0xFFFFFF;
  XDestroyImage(img);
  *width = a.width, *height = a.height;
  return true;
}

bool x11_harness::geometry(Window w, int *width, int *height) const {
  XWindowAttributes a{};
  XSync(dpy, False);
  if (!XGetWindowAttributes(dpy, w, &a)) return false;
  *width = a.width, *height = a.height;
  return true;
}

void x11_harness::move_to(Window w, int x, int y) const {
  int rx = 0, ry = 0;
  Window child;
  XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), x, y, &rx, &ry, &child);
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), rx, ry, CurrentTime);
  XSync(dpy, False);
}

void x11_harness::button(unsigned b, bool down) const {
  XTestFakeButtonEvent(dpy, b, down ? True : False, CurrentTime);
  XSync(dpy, False);
}

void x11_harness::sync() const { XSync(dpy, False); }

void x11_harness::key(unsigned long keysym, bool ctrl) const {
  const KeyCode control = XKeysymToKeycode(dpy, XK_Control_L);
  const KeyCode code = XKeysymToKeycode(dpy, keysym);
  if (ctrl) XTestFakeKeyEvent(dpy, control, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, False, CurrentTime);
  if (ctrl) XTestFakeKeyEvent(dpy, control, False, CurrentTime);
  XSync(dpy, False);
}

void x11_harness::place(int x, int y) const {
  XMoveWindow(dpy, parent, x, y);
  XSync(dpy, False);
}

namespace {
Display *g_host_dpy = nullptr;
int count_host_error(Display *d, XErrorEvent *) {
  if (d == g_host_dpy) x11_host_error_handler::on_host_connection++;
  else x11_host_error_handler::on_other_connections++;
  return 0;
}
}  // namespace

int x11_host_error_handler::on_host_connection = 0;
int x11_host_error_handler::on_other_connections = 0;

x11_host_error_handler::x11_host_error_handler(Display *host_dpy) {
  g_host_dpy = host_dpy;
  on_host_connection = on_other_connections = 0;
  previous_ = XSetErrorHandler(count_host_error);
}

x11_host_error_handler::~x11_host_error_handler() {
  XSetErrorHandler(previous_);
  g_host_dpy = nullptr;
}

bool x11_host_error_handler::installed() {
  int (*now)(Display *, XErrorEvent *) = XSetErrorHandler(count_host_error);
  XSetErrorHandler(now);
  return now == count_host_error;
}
