// The VST 3 editor view: IPlugView with content scaling, embedding the
// window layer's editor and, on Linux, running it from the host's run loop.
#pragma once
#include <cstdint>

#include "vst3_abi.h"

struct KoppelHostContext;
struct TarvelonKoppelPlugin;

// A new view (count 1) holding a reference on `controller`; `slot` is the
// plug-in's pointer to its view, cleared when the view goes. Null without a plug-in.
vst3::FUnknown *vst3_view_create(KoppelHostContext *host, TarvelonKoppelPlugin *plugin, vst3::FUnknown *controller,
                                 void **slot) noexcept;
// The plug-in goes away under an open view: the editor is torn down now, and
// the view stays an empty shell until the host releases it.
void vst3_view_detach_plugin(void *view) noexcept;
// Asks the host's frame for a new view size; false without a frame.
bool vst3_view_request_resize(void *view, uint32_t width, uint32_t height) noexcept;
