// Files dragged onto the editor window (OLE drop target) and out of it (a
// CF_HDROP data object with our drop source).
#include "window_win.h"
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr size_t kMaxPathUnits = 260;  // per file name, terminator included
constexpr size_t kMaxPathBytes = 520;  // per UTF-8 slot, terminator included

FORMATETC hdrop_format() { return FORMATETC{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

bool is_hdrop(const FORMATETC *f) {
  return f && f->cfFormat == CF_HDROP && f->dwAspect == DVASPECT_CONTENT && (f->tymed & TYMED_HGLOBAL);
}

// The file names of a drag as UTF-8 (see win_dropped_paths).
pw_path_list read_paths(IDataObject *data) {
  pw_path_list list;
  FORMATETC fmt = hdrop_format();
  STGMEDIUM medium{};
  if (!data || FAILED(data->GetData(&fmt, &medium))) return list;
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) list = win_dropped_paths(static_cast<HDROP>(medium.hGlobal));
  ReleaseStgMedium(&medium);
  return list;
}

PWEvent file_event(KoppelWindow *w, PWEventType type, POINTL pt, const pw_path_list &files) {
  POINT p{pt.x, pt.y};
  if (w && w->hwnd) ScreenToClient(w->hwnd, &p);
  PWEvent e{};
  e.type = type;
  e.file.x = float(p.x);
  e.file.y = float(p.y);
  e.file.paths = files.paths;
  e.file.num_paths = files.count;
  return e;
}

// A heap COM object answering IUnknown and its one interface, freed by the
// release that takes its last reference.
template <class I, const IID &kIid>
class com_object : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != kIid) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++RefCount); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = --RefCount;
    if (n == 0) delete this;
    return ULONG(n);
  }

 protected:
  virtual ~com_object() = default;

 private:
  std::atomic<LONG> RefCount{1};
};

class PWEnumFORMATETC final : public com_object<IEnumFORMATETC, IID_IEnumFORMATETC> {
 public:
  explicit PWEnumFORMATETC(ULONG index) : Index(index) {}
  // As many of the formats (there is one) as asked for from the position;
  // S_OK only when all of them came.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, FORMATETC *out, ULONG *fetched) override {
    if (fetched) *fetched = 0;
    if (!out || (count > 1 && !fetched)) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && Index < kFormats) {
      out[n++] = hdrop_format();
      Index++;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    Index = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC **out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PWEnumFORMATETC(Index);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  static constexpr ULONG kFormats = 1;
  ULONG Index;
};

class PWDraggedFiles final : public com_object<IDataObject, IID_IDataObject> {
 public:
  explicit PWDraggedFiles(HGLOBAL block) : hMem(block) {}
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC *f, STGMEDIUM *medium) override {
    if (!medium) return E_POINTER;
    if (!is_hdrop(f)) return DV_E_FORMATETC;
    // Each reader gets its own copy: the receiver frees what it is given.
    const SIZE_T size = GlobalSize(hMem);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    void *dst = copy ? GlobalLock(copy) : nullptr;
    const void *src = dst ? GlobalLock(hMem) : nullptr;
    if (!src) {
      if (dst) GlobalUnlock(copy);
      if (copy) GlobalFree(copy);
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst, src, size);
    GlobalUnlock(hMem);
    GlobalUnlock(copy);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = copy;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC *, STGMEDIUM *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC *f) override { return is_hdrop(f) ? S_OK : DV_E_FORMATETC; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC *, FORMATETC *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC *, STGMEDIUM *, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC **out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;
    *out = new (std::nothrow) PWEnumFORMATETC(0);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC *, DWORD, IAdviseSink *, DWORD *) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA **) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~PWDraggedFiles() override { GlobalFree(hMem); }
  HGLOBAL hMem;
};
}  // namespace

pw_path_list win_dropped_paths(HDROP drop) noexcept {
  pw_path_list list;
  if (!drop) return list;
  // A drop may name any number of files: only the first few are read.
  const UINT n = std::min<UINT>(DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0), kMaxDroppedFiles);
  list.paths = n ? static_cast<char **>(std::calloc(n, sizeof(char *))) : nullptr;
  for (UINT i = 0; list.paths && i < n; i++) {
    // The length first: a longer name would come back cut short, naming
    // another file, so it is skipped instead.
    const UINT len = DragQueryFileW(drop, i, nullptr, 0);
    if (!len) break;
    if (len >= kMaxPathUnits) continue;
    wchar_t name[kMaxPathUnits];
    if (DragQueryFileW(drop, i, name, UINT(kMaxPathUnits)) != len) break;
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, int(len), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) break;  // not text: nothing after it is trusted either
    if (size_t(bytes) >= kMaxPathBytes) continue;  // does not fit a slot
    char *slot = static_cast<char *>(std::malloc(kMaxPathBytes));
    if (!slot) break;
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, name, int(len), slot, bytes, nullptr, nullptr);
    slot[bytes] = 0;
    list.paths[list.count++] = slot;
  }
  if (!list.count) list.clear();
  return list;
}

// The drop target lives inside the window record: counting never frees it.
// It answers for its own interfaces, as COM's identity rules ask.
HRESULT STDMETHODCALLTYPE PWDropTarget::QueryInterface(REFIID riid, void **out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDropTarget) return E_NOINTERFACE;
  *out = static_cast<IDropTarget *>(this);
  AddRef();
  return S_OK;
}
ULONG STDMETHODCALLTYPE PWDropTarget::AddRef() { return ULONG(++RefCount); }
ULONG STDMETHODCALLTYPE PWDropTarget::Release() { return ULONG(--RefCount); }

HRESULT STDMETHODCALLTYPE PWDropTarget::DragEnter(IDataObject *data, DWORD, POINTL pt, DWORD *effect) {
  FORMATETC fmt = hdrop_format();
  if (effect) *effect = DROPEFFECT_NONE;
  files.clear();
  if (!data || data->QueryGetData(&fmt) != S_OK) return E_UNEXPECTED;
  files = read_paths(data);
  if (!files.count) return E_FAIL;  // names that cannot be read: refused without an event
  PWEvent e = file_event(pw, PW_EVENT_FILE_ENTER, pt, files);
  if (win_send(pw, &e)) {
    if (effect) *effect = DROPEFFECT_COPY;
    return S_OK;
  }
  files.clear();
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE PWDropTarget::DragOver(DWORD, POINTL pt, DWORD *effect) {
  bool used = false;
  if (files.count) {
    PWEvent e = file_event(pw, PW_EVENT_FILE_MOVE, pt, files);
    used = win_send(pw, &e);
  }
  if (effect) *effect = used ? DROPEFFECT_COPY : DROPEFFECT_NONE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PWDropTarget::DragLeave() {
  PWEvent e{};
  e.type = PW_EVENT_FILE_EXIT;
  win_send(pw, &e);
  files.clear();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PWDropTarget::Drop(IDataObject *, DWORD, POINTL pt, DWORD *effect) {
  bool used = false;
  if (files.count) {
    PWEvent e = file_event(pw, PW_EVENT_FILE_DROP, pt, files);
    used = win_send(pw, &e);
  }
  files.clear();
  if (effect) *effect = used ? DROPEFFECT_COPY : DROPEFFECT_NONE;
  return used ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE PWDropSource::QueryInterface(REFIID riid, void **out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDropSource) return E_NOINTERFACE;
  *out = this;
  AddRef();
  return S_OK;
}
ULONG STDMETHODCALLTYPE PWDropSource::AddRef() { return ULONG(++RefCount); }
ULONG STDMETHODCALLTYPE PWDropSource::Release() { return ULONG(--RefCount); }
HRESULT STDMETHODCALLTYPE PWDropSource::QueryContinueDrag(BOOL escape, DWORD keys) {
  if (escape) return DRAGDROP_S_CANCEL;
  if (!(keys & MK_LBUTTON)) return DRAGDROP_S_DROP;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE PWDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

HGLOBAL win_make_drop_files(const char *const *paths, uint32_t num_paths) noexcept {
  std::vector<std::wstring> names;
  for (uint32_t i = 0; paths && i < num_paths; i++) {
    std::wstring w = win_widen(paths[i]);
    // A name cut short would be another file's: such a path is left out.
    if (!w.empty() && w.size() + 1 <= kMaxPathUnits) names.push_back(std::move(w));
  }
  size_t units = 1;  // the closing zero
  for (const std::wstring &n : names) units += n.size() + 1;
  if (names.empty()) units = 2;  // an empty list is still two zeros
  const size_t size = sizeof(DROPFILES) + units * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, size);
  auto *header = block ? static_cast<DROPFILES *>(GlobalLock(block)) : nullptr;
  if (!header) {
    if (block) GlobalFree(block);
    return nullptr;
  }
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto *out = reinterpret_cast<wchar_t *>(reinterpret_cast<char *>(header) + sizeof(DROPFILES));
  for (const std::wstring &n : names) {
    std::memcpy(out, n.c_str(), (n.size() + 1) * sizeof(wchar_t));
    out += n.size() + 1;
  }
  GlobalUnlock(block);
  return block;
}

IDataObject *win_make_dragged_files(const char *const *paths, uint32_t num_paths) noexcept {
  HGLOBAL block = win_make_drop_files(paths, num_paths);
  if (!block) return nullptr;
  auto *obj = new (std::nothrow) PWDraggedFiles(block);
  if (!obj) GlobalFree(block);
  return obj;
}

void pw_drag_files(KoppelWindow *w, const char *const *paths, uint32_t num_paths) noexcept {
  if (!w || !w->hwnd || !w->ole_initialized) return;
  IDataObject *obj = win_make_dragged_files(paths, num_paths);
  if (!obj) return;
  DWORD effect = DROPEFFECT_NONE;
  DoDragDrop(obj, &w->DropSource, DROPEFFECT_COPY, &effect);
  obj->Release();
}
