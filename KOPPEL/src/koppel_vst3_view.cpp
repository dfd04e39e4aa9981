// The VST 3 editor view.
#include "koppel_vst3_view.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "koppel_gui.h"
#include "part_counts.h"
#include "pw_window.h"

using namespace vst3;

namespace {
#if defined(_WIN32)
constexpr const char *kPlatformType = "HWND";
#else
constexpr const char *kPlatformType = "X11EmbedWindowID";
#endif

template <class Vtbl>
struct part {
  const Vtbl *lpVtbl;
  std::atomic<int32_t> refcounter;
};

struct VST3View {  // standard layout: each part finds the view by offset
  part<IPlugViewVtbl> view;
  part<IPlugViewContentScaleSupportVtbl> scale;
  part<ITimerHandlerVtbl> timer;
  part<IEventHandlerVtbl> events;
  // One count over all parts, so the view is freed exactly once, by the
  // release that takes the last reference of any part.
  std::atomic<int32_t> lifetime;
  void *userGUI;
  KoppelHostContext *host;
  TarvelonKoppelPlugin *plugin;
  FUnknown *controller;
  void **slot;
  FUnknown *frame;    // not counted
  FUnknown *runloop;  // counted while attached
  bool timer_registered, events_registered;
  int32_t desired_width, desired_height;
  // Calls into the editor under way on the GUI thread. A host may close or
  // release the view inside one (from an edit report, a resize or its own
  // event pump); the editor is then hidden at once and freed when the
  // outermost call has unwound, never under a caller still using it.
  int32_t busy;
  void *doomed_gui;
  bool closed;  // the host's last reference went: the editor has been torn down
  bool dying;   // destroy_view is running: no more keep-alive references
};
static_assert(std::is_standard_layout_v<VST3View>);

VST3View *from_view(void *s) { return reinterpret_cast<VST3View *>(static_cast<char *>(s) - offsetof(VST3View, view)); }
VST3View *from_scale(void *s) {
  return reinterpret_cast<VST3View *>(static_cast<char *>(s) - offsetof(VST3View, scale));
}
VST3View *from_timer(void *s) {
  return reinterpret_cast<VST3View *>(static_cast<char *>(s) - offsetof(VST3View, timer));
}
VST3View *from_events(void *s) {
  return reinterpret_cast<VST3View *>(static_cast<char *>(s) - offsetof(VST3View, events));
}

const IRunLoopVtbl *loop_vtbl(FUnknown *l) { return reinterpret_cast<const IRunLoopVtbl *>(l->lpVtbl); }

void destroy_view(VST3View *v);

// A reference on the whole view for the length of a call that may hand the
// host its last one (unregistering our handlers, calling into the editor):
// the view is freed, if at all, when the call is done with it.
struct keep_alive {
  VST3View *v;
  explicit keep_alive(VST3View *view) : v(view->dying ? nullptr : view) {
    if (v) v->lifetime.fetch_add(1, std::memory_order_relaxed);
  }
  ~keep_alive() {
    if (v && v->lifetime.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy_view(v);
  }
  keep_alive(const keep_alive &) = delete;
  keep_alive &operator=(const keep_alive &) = delete;
};

// Stops the host's timer and descriptor callbacks for this view. The fields
// are cleared before the host is called: unregistering may drop the host's
// last reference and re-enter the teardown.
void leave_run_loop(VST3View *v) {
  FUnknown *loop = v->runloop;
  if (!loop) return;
  keep_alive hold(v);
  const bool timer = v->timer_registered, events = v->events_registered;
  v->runloop = nullptr;
  v->timer_registered = v->events_registered = false;
  if (timer) loop_vtbl(loop)->unregisterTimer(loop, reinterpret_cast<FUnknown *>(&v->timer));
  if (events) loop_vtbl(loop)->unregisterEventHandler(loop, reinterpret_cast<FUnknown *>(&v->events));
  loop->lpVtbl->release(loop);
}

// Destroying the editor hides and detaches it as well; the window may already
// be gone with the host's container, so nothing else is asked of it first.
void close_editor(VST3View *v) {
  leave_run_loop(v);
  void *gui = v->userGUI;
  if (!gui) return;
  v->userGUI = nullptr;
  if (v->busy > 0) {  // a call into this editor is still on the stack
    koppel_setVisible(gui, false);
    koppel_setParent(gui, 0);
    v->doomed_gui = gui;
    return;
  }
  koppel_destroyGUI(gui);
}

// Wraps every call that runs the editor (ticks, input, resizing).
struct editor_call {
  keep_alive hold;
  VST3View *v;
  explicit editor_call(VST3View *view) : hold(view), v(view) { v->busy++; }
  ~editor_call() {
    if (--v->busy == 0 && v->doomed_gui) {
      void *gui = v->doomed_gui;
      v->doomed_gui = nullptr;
      koppel_destroyGUI(gui);
    }
  }
  editor_call(const editor_call &) = delete;
  editor_call &operator=(const editor_call &) = delete;
};

void destroy_view(VST3View *v) {
  v->dying = true;
  close_editor(v);
  if (v->slot && *v->slot == v) *v->slot = nullptr;
  FUnknown *controller = v->controller;
  v->~VST3View();
  ::operator delete(v);
  if (controller) controller->lpVtbl->release(controller);
}

// The host let go of the view (and its content-scale part): the editor stops
// now, even if the host never called removed(); the run loop's references
// then keep only an empty shell until it drops them.
void host_released(VST3View *v) {
  if (v->closed || v->view.refcounter.load() > 0 || v->scale.refcounter.load() > 0) return;
  v->closed = true;
  close_editor(v);
  if (v->slot && *v->slot == v) *v->slot = nullptr;  // a new view may be made
  v->slot = nullptr;
}

template <class Vtbl>
uint32_t add_ref(VST3View *v, part<Vtbl> &p) {
  return part_add_ref(p.refcounter, v->lifetime);
}
template <class Vtbl>
uint32_t release(VST3View *v, part<Vtbl> &p) {
  return part_release(p.refcounter, v->lifetime, [v] { destroy_view(v); });
}
// The parts the host holds: their last release closes the editor first.
template <class Vtbl>
uint32_t host_release(VST3View *v, part<Vtbl> &p) {
  keep_alive hold(v);
  const uint32_t n = release(v, p);
  if (n == 0) host_released(v);
  return n;
}

tresult query(VST3View *v, const TUID iid, void **obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (uid_equal(iid, IID_FUnknown) || uid_equal(iid, IID_IPlugView)) {
    add_ref(v, v->view);
    *obj = &v->view;
  } else if (uid_equal(iid, IID_IPlugViewContentScaleSupport)) {
    add_ref(v, v->scale);
    *obj = &v->scale;
  } else {
    return kNoInterface;
  }
  return kResultOk;
}

// IPlugView.
tresult VST3_CALL view_query(void *s, const TUID iid, void **obj) { return query(from_view(s), iid, obj); }
uint32_t VST3_CALL view_add_ref(void *s) { return add_ref(from_view(s), from_view(s)->view); }
uint32_t VST3_CALL view_release(void *s) { return host_release(from_view(s), from_view(s)->view); }

tresult VST3_CALL view_platform(void *, const char *type) {
  return (type && !std::strcmp(type, kPlatformType)) ? kResultOk : kResultFalse;
}

bool join_run_loop(VST3View *v) {
#if defined(_WIN32)
  (void)v;
  return true;  // the window has a timer of its own
#else
  void *loop = nullptr;
  if (!v->frame || v->frame->lpVtbl->queryInterface(v->frame, IID_IRunLoop.data(), &loop) != kResultOk || !loop)
    return false;
  v->runloop = static_cast<FUnknown *>(loop);
  const int fd = koppel_guiFileDescriptor(v->userGUI);
  v->events_registered =
      fd >= 0 && loop_vtbl(v->runloop)->registerEventHandler(v->runloop, reinterpret_cast<FUnknown *>(&v->events), fd) ==
                     kResultOk;
  v->timer_registered = loop_vtbl(v->runloop)->registerTimer(v->runloop, reinterpret_cast<FUnknown *>(&v->timer),
                                                             kKoppelGuiTickMs) == kResultOk;
  if (!v->events_registered || !v->timer_registered) {
    leave_run_loop(v);
    return false;
  }
  return true;
#endif
}

tresult VST3_CALL view_attached(void *s, void *parent, const char *type) {
  VST3View *v = from_view(s);
  if (!parent || view_platform(s, type) != kResultOk) return kResultFalse;
  if (!v->userGUI && v->plugin && !v->closed) {
    v->userGUI = koppel_createGUI(v->host, v->plugin);
    uint32_t w = 0, h = 0;
    koppel_getSize(v->userGUI, &w, &h);
    if (v->userGUI && (int32_t(w) != v->desired_width || int32_t(h) != v->desired_height))
      koppel_setSize(v->userGUI, uint32_t(v->desired_width), uint32_t(v->desired_height));
  }
  if (!v->userGUI) return kResultFalse;  // no window can be made here
  leave_run_loop(v);
  if (!join_run_loop(v)) return kResultFalse;  // nothing would draw: no editor rather than a dead one
  koppel_setParent(v->userGUI, reinterpret_cast<uintptr_t>(parent));
  koppel_setVisible(v->userGUI, true);
  return kResultOk;
}

tresult VST3_CALL view_removed(void *s) {
  VST3View *v = from_view(s);
  leave_run_loop(v);
  if (v->userGUI) {
    koppel_setVisible(v->userGUI, false);
    koppel_setParent(v->userGUI, 0);
  }
  return kResultOk;
}

tresult VST3_CALL view_on_wheel(void *, float) { return kResultFalse; }

// The SDK's virtual key codes for the keys the editor uses, as Windows virtual keys.
int32_t virtual_key(char16_t key, int16_t code) {
  static const int32_t table[23] = {0,  PW_KEY_BACKSPACE, PW_KEY_TAB, PW_KEY_CLEAR, PW_KEY_ENTER, 0, PW_KEY_ESCAPE,
                                    PW_KEY_SPACEBAR, PW_KEY_PAGE_DOWN, PW_KEY_END, PW_KEY_HOME, PW_KEY_ARROW_LEFT,
                                    PW_KEY_ARROW_UP, PW_KEY_ARROW_RIGHT, PW_KEY_ARROW_DOWN, PW_KEY_PAGE_UP,
                                    PW_KEY_PAGE_DOWN, 0, 0, PW_KEY_ENTER, 0, PW_KEY_INSERT, PW_KEY_DELETE};
  if (code > 0 && code < 23) return table[code];
  if (key >= u'a' && key <= u'z') return PW_KEY_A + (key - u'a');
  if (key >= u'A' && key <= u'Z') return PW_KEY_A + (key - u'A');
  if (key >= u'0' && key <= u'9') return PW_KEY_0 + (key - u'0');
  return PW_KEY_NONE;
}
uint32_t modifiers(int16_t m) {
  uint32_t r = 0;
  if (m & 1) r |= PW_MOD_KEY_SHIFT;
  if (m & 2) r |= PW_MOD_KEY_ALT;
  if (m & (4 | 8)) r |= PW_MOD_KEY_CTRL;  // the command key is Ctrl here
  return r;
}

tresult host_key(void *s, bool down, char16_t key, int16_t code, int16_t mods) {
  VST3View *v = from_view(s);
  if (!v->userGUI) return kResultFalse;
  editor_call call(v);
  const bool used = koppel_guiOnHostKey(v->userGUI, down, uint32_t(key), virtual_key(key, code), modifiers(mods));
  return used ? kResultTrue : kResultFalse;
}
tresult VST3_CALL view_key_down(void *s, char16_t key, int16_t code, int16_t mods) {
  return host_key(s, true, key, code, mods);
}
tresult VST3_CALL view_key_up(void *s, char16_t key, int16_t code, int16_t mods) {
  return host_key(s, false, key, code, mods);
}

tresult VST3_CALL view_get_size(void *s, ViewRect *r) {
  VST3View *v = from_view(s);
  if (!r) return kInvalidArgument;
  uint32_t w = uint32_t(v->desired_width), h = uint32_t(v->desired_height);
  koppel_getSize(v->userGUI, &w, &h);
  r->right = r->left + int32_t(w);
  r->bottom = r->top + int32_t(h);
  return kResultOk;
}

tresult VST3_CALL view_on_size(void *s, ViewRect *r) {
  VST3View *v = from_view(s);
  if (!r) return kInvalidArgument;
  const int32_t w = r->right - r->left, h = r->bottom - r->top;
  if (w < 0 || h < 0) return kInvalidArgument;
  if (!v->frame && (w != v->desired_width || h != v->desired_height)) return kResultFalse;
  if (!v->userGUI) return kResultFalse;
  editor_call call(v);
  if (!koppel_setSize(v->userGUI, uint32_t(w), uint32_t(h)) || !v->userGUI) return kResultFalse;
  uint32_t aw = uint32_t(w), ah = uint32_t(h);
  koppel_getSize(v->userGUI, &aw, &ah);
  v->desired_width = int32_t(aw), v->desired_height = int32_t(ah);
  return kResultOk;
}

tresult VST3_CALL view_on_focus(void *, TBool) { return kResultFalse; }
tresult VST3_CALL view_set_frame(void *s, FUnknown *frame) {
  from_view(s)->frame = frame;
  return kResultOk;
}
tresult VST3_CALL view_can_resize(void *) { return kResultOk; }

tresult VST3_CALL view_check_size(void *s, ViewRect *r) {
  VST3View *v = from_view(s);
  if (!r) return kInvalidArgument;
  if (r->bottom - r->top < 50) {
    r->right = r->left + v->desired_width;
    r->bottom = r->top + v->desired_height;
    return kInvalidArgument;
  }
  uint32_t w = uint32_t(r->right - r->left > 0 ? r->right - r->left : 0), h = uint32_t(r->bottom - r->top);
  if (v->userGUI) {
    koppel_checkSize(v->userGUI, &w, &h);
  } else {  // no window yet: the editor's limits still hold
    PWGetInfo info{};
    info.type = PW_INFO_CONSTRAIN_SIZE;
    info.constrain_size.width = w, info.constrain_size.height = h;
    pw_get_info(&info);
    w = info.constrain_size.width, h = info.constrain_size.height;
  }
  r->right = r->left + int32_t(w);
  r->bottom = r->top + int32_t(h);
  v->desired_width = int32_t(w), v->desired_height = int32_t(h);
  return kResultOk;
}

const IPlugViewVtbl kViewVtbl = {{view_query, view_add_ref, view_release}, view_platform,   view_attached,
                                 view_removed, view_on_wheel, view_key_down, view_key_up, view_get_size,
                                 view_on_size, view_on_focus, view_set_frame, view_can_resize, view_check_size};

// IPlugViewContentScaleSupport.
tresult VST3_CALL scale_query(void *s, const TUID iid, void **obj) { return query(from_scale(s), iid, obj); }
uint32_t VST3_CALL scale_add_ref(void *s) { return add_ref(from_scale(s), from_scale(s)->scale); }
uint32_t VST3_CALL scale_release(void *s) { return host_release(from_scale(s), from_scale(s)->scale); }
tresult VST3_CALL scale_set(void *s, float factor) {
  VST3View *v = from_scale(s);
  editor_call call(v);
  koppel_setScaleFactor(v->userGUI, factor);
  uint32_t w = uint32_t(v->desired_width), h = uint32_t(v->desired_height);
  koppel_getSize(v->userGUI, &w, &h);
  v->desired_width = int32_t(w), v->desired_height = int32_t(h);
  if (v->frame) {
    ViewRect r{0, 0, v->desired_width, v->desired_height};
    reinterpret_cast<const IPlugFrameVtbl *>(v->frame->lpVtbl)->resizeView(v->frame, reinterpret_cast<FUnknown *>(&v->view), &r);
  }
  return kResultOk;
}
const IPlugViewContentScaleSupportVtbl kScaleVtbl = {{scale_query, scale_add_ref, scale_release}, scale_set};

// The run loop's handlers: they count towards the view's life like any part.
template <class Vtbl, VST3View *(*From)(void *), part<Vtbl> VST3View::*Member>
struct handler_glue {
  static tresult VST3_CALL query(void *s, const TUID iid, void **obj) {
    if (!obj) return kInvalidArgument;
    *obj = nullptr;
    if (!uid_equal(iid, IID_FUnknown) && !uid_equal(iid, std::is_same_v<Vtbl, ITimerHandlerVtbl> ? IID_ITimerHandler
                                                                                                 : IID_IEventHandler))
      return kNoInterface;
    add_ref(From(s), From(s)->*Member);
    *obj = s;
    return kResultOk;
  }
  static uint32_t VST3_CALL ref(void *s) { return add_ref(From(s), From(s)->*Member); }
  static uint32_t VST3_CALL unref(void *s) { return release(From(s), From(s)->*Member); }
};
using timer_glue = handler_glue<ITimerHandlerVtbl, from_timer, &VST3View::timer>;
using events_glue = handler_glue<IEventHandlerVtbl, from_events, &VST3View::events>;

void VST3_CALL on_timer(void *s) {
  VST3View *v = from_timer(s);
  if (!v->userGUI || !v->timer_registered) return;
  editor_call call(v);
  koppel_guiOnTimer(v->userGUI);
}
void VST3_CALL on_fd(void *s, int) {
  VST3View *v = from_events(s);
  if (!v->userGUI || !v->events_registered) return;
  editor_call call(v);
  koppel_guiOnFileDescriptor(v->userGUI);
}
const ITimerHandlerVtbl kTimerVtbl = {{timer_glue::query, timer_glue::ref, timer_glue::unref}, on_timer};
const IEventHandlerVtbl kEventsVtbl = {{events_glue::query, events_glue::ref, events_glue::unref}, on_fd};
}  // namespace

FUnknown *vst3_view_create(KoppelHostContext *host, TarvelonKoppelPlugin *plugin, FUnknown *controller,
                           void **slot) noexcept {
  if (!plugin) return nullptr;
  auto *v = new (std::nothrow) VST3View();
  if (!v) return nullptr;
  v->view.lpVtbl = &kViewVtbl;
  v->scale.lpVtbl = &kScaleVtbl;
  v->timer.lpVtbl = &kTimerVtbl;
  v->events.lpVtbl = &kEventsVtbl;
  v->view.refcounter = 1;
  v->lifetime = 1;
  v->host = host;
  v->plugin = plugin;
  v->slot = slot;
  // Without a display (a host loading a session on a headless machine) the
  // view still exists: attached() makes the window, or fails cleanly.
  v->userGUI = koppel_createGUI(host, plugin);
  PWGetInfo info{};
  info.type = PW_INFO_INIT_SIZE;
  info.init_size.plugin = plugin;
  pw_get_info(&info);
  uint32_t w = info.init_size.width, h = info.init_size.height;
  koppel_getSize(v->userGUI, &w, &h);
  v->desired_width = int32_t(w), v->desired_height = int32_t(h);
  v->controller = controller;
  if (controller) controller->lpVtbl->addRef(controller);
  if (slot) *slot = v;
  return reinterpret_cast<FUnknown *>(&v->view);
}

void vst3_view_detach_plugin(void *view) noexcept {
  if (!view) return;
  auto *v = static_cast<VST3View *>(view);
  close_editor(v);
  v->plugin = nullptr;
}

bool vst3_view_request_resize(void *view, uint32_t width, uint32_t height) noexcept {
  auto *v = static_cast<VST3View *>(view);
  if (!v || !v->frame) return false;
  ViewRect r{0, 0, int32_t(width), int32_t(height)};
  return reinterpret_cast<const IPlugFrameVtbl *>(v->frame->lpVtbl)
             ->resizeView(v->frame, reinterpret_cast<FUnknown *>(&v->view), &r) == kResultOk;
}
