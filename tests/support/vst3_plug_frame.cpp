#include "support/vst3_plug_frame.h"

using namespace vst3;

namespace vst3_host {
namespace {
uint32_t VST3_CALL frame_ref(void *s) { return uint32_t(++static_cast<plug_frame *>(s)->refs); }
uint32_t VST3_CALL frame_unref(void *s) { return uint32_t(--static_cast<plug_frame *>(s)->refs); }
tresult VST3_CALL frame_query(void *s, const TUID iid, void **obj) {
  auto *f = static_cast<plug_frame *>(s);
  *obj = nullptr;
  if (uid_equal(iid, IID_FUnknown) || uid_equal(iid, IID_IPlugFrame)) {
    frame_ref(s);
    *obj = s;
    return kResultOk;
  }
  if (f->offer_run_loop && uid_equal(iid, IID_IRunLoop)) {
    ++f->loop_object.refs;
    *obj = &f->loop_object;
    return kResultOk;
  }
  return kNoInterface;
}
tresult VST3_CALL frame_resize(void *s, FUnknown *view, ViewRect *r) {
  auto *f = static_cast<plug_frame *>(s);
  f->resizes.push_back(*r);
  // A host resizes its window and then tells the view.
  return reinterpret_cast<const IPlugViewVtbl *>(view->lpVtbl)->onSize(view, r);
}
const IPlugFrameVtbl kFrameVtbl = {{frame_query, frame_ref, frame_unref}, frame_resize};

run_loop *L(void *s) { return static_cast<run_loop *>(s); }
uint32_t VST3_CALL loop_ref(void *s) { return uint32_t(++L(s)->refs); }
uint32_t VST3_CALL loop_unref(void *s) { return uint32_t(--L(s)->refs); }
tresult VST3_CALL loop_query(void *, const TUID, void **obj) {
  *obj = nullptr;
  return kNoInterface;
}
tresult VST3_CALL loop_register_events(void *s, FUnknown *h, int fd) {
  plug_frame *f = L(s)->owner;
  h->lpVtbl->addRef(h);
  f->loop.add_fd(fd, [h, fd] { reinterpret_cast<const IEventHandlerVtbl *>(h->lpVtbl)->onFDIsSet(h, fd); });
  f->handlers++;
  return kResultOk;
}
tresult VST3_CALL loop_unregister_events(void *s, FUnknown *h) {
  plug_frame *f = L(s)->owner;
  if (f->loop.watches.empty()) return kResultFalse;
  f->loop.watches.clear();
  f->handlers--;
  h->lpVtbl->release(h);
  return kResultOk;
}
tresult VST3_CALL loop_register_timer(void *s, FUnknown *h, uint64_t ms) {
  plug_frame *f = L(s)->owner;
  h->lpVtbl->addRef(h);
  f->loop.add_timer(uint32_t(ms), [h] { reinterpret_cast<const ITimerHandlerVtbl *>(h->lpVtbl)->onTimer(h); });
  f->timers++;
  return kResultOk;
}
tresult VST3_CALL loop_unregister_timer(void *s, FUnknown *h) {
  plug_frame *f = L(s)->owner;
  if (f->loop.timers.empty()) return kResultFalse;
  f->loop.timers.clear();
  f->timers--;
  h->lpVtbl->release(h);
  return kResultOk;
}
const IRunLoopVtbl kLoopVtbl = {{loop_query, loop_ref, loop_unref}, loop_register_events, loop_unregister_events,
                                loop_register_timer, loop_unregister_timer};
}  // namespace

run_loop::run_loop(plug_frame *f) : lpVtbl(&kLoopVtbl), owner(f) {}
plug_frame::plug_frame() : lpVtbl(&kFrameVtbl) {}

}  // namespace vst3_host
