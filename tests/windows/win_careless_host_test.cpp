// The Win32 layer against hosts and drag sources that do not play along: a
// host that unloads the library while the file dialog is open or closes the
// editor inside a prompt's message loop, COM callers that ask the drop
// target for its identity, drops with huge lists and over-long names,
// enumerators asked for several formats at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "koppel_clap.h"
#include "koppel_extensions/window_win.h"
#include <shlobj.h>
#include "koppel_gui_bridge.h"
#include "support/clap_test_host.h"
#include "tarvelon_koppel.h"

namespace {
struct open_editor {
  clap_test_host host{&clap_entry};
  HWND parent = nullptr;
  bool ok = false;
  open_editor() {
    parent = CreateWindowExW(0, L"STATIC", L"Careless host", WS_OVERLAPPEDWINDOW, 0, 0, 1200, 700, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (!host.create() || !host.gui->create(host.plugin, CLAP_WINDOW_API_WIN32, false)) return;
    clap_window_t w{};
    w.api = CLAP_WINDOW_API_WIN32;
    w.win32 = parent;
    ok = host.gui->set_parent(host.plugin, &w) && host.gui->show(host.plugin);
  }
  ~open_editor() {
    if (ok) host.gui->destroy(host.plugin);
    if (IsWindow(parent)) DestroyWindow(parent);
  }
  KoppelWindow *window() const { return koppel_clap_user_plugin(host.plugin)->gui->pw; }
  TarvelonKoppelPlugin *plugin() const { return koppel_clap_user_plugin(host.plugin); }
};

HWND wait_for_window(const wchar_t *title, gui_loop *loop = nullptr) {
  for (int i = 0; i < 1000; i++) {
    if (HWND d = FindWindowW(nullptr, title)) return d;
    if (loop) loop->run_for(10);
    else Sleep(10);
  }
  return nullptr;
}

// A CF_HDROP block (wide names) with exactly the names given, whatever their length.
HGLOBAL drop_block(const std::vector<std::wstring> &names) {
  size_t units = 1;
  for (const std::wstring &n : names) units += n.size() + 1;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + units * sizeof(wchar_t));
  auto *header = static_cast<DROPFILES *>(GlobalLock(block));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto *p = reinterpret_cast<wchar_t *>(header + 1);
  for (const std::wstring &n : names) {
    std::memcpy(p, n.c_str(), (n.size() + 1) * sizeof(wchar_t));
    p += n.size() + 1;
  }
  GlobalUnlock(block);
  return block;
}
}  // namespace

// The dialog runs on a thread of ours inside the host's process: a host that
// unloads the plug-in while the user still looks at the dialog must not pull
// the code from under that thread.
TEST(WinFileDialog, TheDialogThreadKeepsOurLibraryLoadedUntilItEnds) {
  const std::wstring path = win_widen(TARVELON_DIALOG_MODULE);
  const std::wstring name = path.substr(path.find_last_of(L"/\\") + 1);
  HMODULE lib = LoadLibraryW(path.c_str());
  ASSERT_NE(lib, nullptr);
  auto open = reinterpret_cast<bool (*)(const char *)>(
      reinterpret_cast<void *>(GetProcAddress(lib, "tarvelon_test_open_dialog")));
  auto close = reinterpret_cast<void (*)()>(reinterpret_cast<void *>(GetProcAddress(lib, "tarvelon_test_close_window")));
  ASSERT_TRUE(open && close);
  ASSERT_TRUE(open("Tarvelon unload test"));
  HWND dialog = wait_for_window(L"Tarvelon unload test");
  ASSERT_NE(dialog, nullptr);
  close();
  FreeLibrary(lib);  // the host lets go of the plug-in
  EXPECT_NE(GetModuleHandleW(name.c_str()), nullptr) << "the open dialog's thread still holds the library";
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  bool unloaded = false;
  for (int i = 0; i < 1000 && !unloaded; i++) {
    unloaded = GetModuleHandleW(name.c_str()) == nullptr;
    if (!unloaded) Sleep(10);
  }
  EXPECT_TRUE(unloaded) << "the thread's reference is given back as it ends";
}

namespace {
std::atomic<HRESULT> g_apartment_probe{E_PENDING};
LRESULT CALLBACK apartment_probe(int code, WPARAM wp, LPARAM lp) {
  // Runs on the dialog's thread: asking for a single-threaded apartment
  // answers S_FALSE there only when the thread already is one.
  if (code == HC_ACTION && g_apartment_probe.load() == E_PENDING) {
    const HRESULT r = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(r)) CoUninitialize();
    g_apartment_probe = r;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}
}  // namespace

// On Windows the dialog's window belongs to our dialog thread, so this sees
// that thread's apartment. Wine's dialog window reports a single-threaded
// apartment whatever our thread asked for, so under Wine this guards the
// behaviour without telling the two apart.
TEST(WinFileDialog, TheDialogThreadIsASingleThreadedApartment) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  int calls = 0;
  PWChooseFileArgs args{};
  args.pw = e.window();
  args.callback_data = &calls;
  args.callback = [](void *data, const char *const *, uint32_t) { ++*static_cast<int *>(data); };
  args.title = "Tarvelon apartment test";
  ASSERT_TRUE(pw_choose_file(&args));
  HWND dialog = wait_for_window(L"Tarvelon apartment test", &e.host.loop);
  ASSERT_NE(dialog, nullptr);
  const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  EXPECT_NE(thread, GetCurrentThreadId());
  g_apartment_probe = E_PENDING;
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, apartment_probe, nullptr, thread);
  ASSERT_NE(hook, nullptr);
  for (int i = 0; i < 300 && g_apartment_probe.load() == E_PENDING; i++) {
    PostMessageW(dialog, WM_NULL, 0, 0);
    e.host.loop.run_for(10);
  }
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(g_apartment_probe.load(), S_FALSE) << "RPC_E_CHANGED_MODE (0x80010106) means a multithreaded one";
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  for (int i = 0; i < 500 && !calls; i++) e.host.loop.run_for(10);
  EXPECT_EQ(calls, 1);
}

namespace {
// What a host does from inside the prompt's message loop (a timer of the
// host's own, dispatched by that loop), and what the test saw there.
struct careless_host {
  open_editor *editor = nullptr;
  bool destroy_parent = false;  // else: the host closes the editor through CLAP
  HWND ours = nullptr;
  HWND dialog = nullptr;
  bool acted = false, window_alive_after = false, editor_alive_after = false;
  int ticks_inside = 0;
};
careless_host *g_host = nullptr;

void CALLBACK careless_timer(HWND, UINT, UINT_PTR, DWORD) {
  careless_host *h = g_host;
  if (!h || h->acted) return;
  if (!h->dialog) h->dialog = FindWindowW(nullptr, L"Tarvelon careless prompt");
  if (!h->dialog) return;
  h->acted = true;
  if (h->destroy_parent) {
    DestroyWindow(h->editor->parent);  // takes our child window with it
  } else {
    h->editor->host.gui->destroy(h->editor->host.plugin);
    h->editor->ok = false;
  }
  h->window_alive_after = IsWindow(h->ours) != FALSE;
  h->editor_alive_after = h->editor->plugin()->gui != nullptr;
  PostMessageW(h->dialog, WM_COMMAND, IDCANCEL, 0);
}

void prompt_with_careless_host(careless_host *h) {
  g_host = h;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, careless_timer);
  PWChooseFileArgs args{};
  args.title = "Tarvelon careless prompt";
  char out[512];
  EXPECT_FALSE(pw_prompt_for_file(&args, out, sizeof out));
  KillTimer(nullptr, timer);
  g_host = nullptr;
}
}  // namespace

// An editor that asked for a file (the prompt's caller) is in the middle of
// its own code: a host that closes it from inside the prompt's loop must not
// free it under that caller.
TEST(WinFileDialog, AnEditorClosedInsideAPromptLivesUntilThePromptReturns) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  careless_host h;
  h.editor = &e;
  h.ours = e.window()->hwnd;
  TarvelonKoppelGui *gui = e.plugin()->gui;
  ASSERT_NE(gui, nullptr);
  prompt_with_careless_host(&h);
  ASSERT_TRUE(h.acted) << "the host's timer ran inside the prompt";
  EXPECT_TRUE(h.editor_alive_after) << "the editor was freed inside the prompt";
  EXPECT_TRUE(h.window_alive_after);
  // Once the prompt has returned the editor is gone, window and all.
  EXPECT_FALSE(IsWindow(h.ours));
  EXPECT_EQ(e.plugin()->gui, nullptr);
  e.host.loop.run_for(50);
}

TEST(WinFileDialog, AnEditorWhoseHostWindowIsDestroyedInsideAPromptEndsAfterIt) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  careless_host h;
  h.editor = &e;
  h.destroy_parent = true;
  h.ours = e.window()->hwnd;
  KoppelWindow *w = e.window();
  prompt_with_careless_host(&h);
  ASSERT_TRUE(h.acted);
  EXPECT_FALSE(h.window_alive_after) << "the system destroys the child with its parent";
  EXPECT_TRUE(h.editor_alive_after) << "the editor was ended inside the prompt";
  EXPECT_EQ(e.plugin()->gui, nullptr) << "and ended once the prompt returned";
  EXPECT_EQ(w->gui, nullptr);
  EXPECT_EQ(w->hwnd, nullptr);
  // The host still destroys its editor afterwards, as it would: nothing is left to end twice.
  e.host.gui->destroy(e.host.plugin);
  e.ok = false;
}

// COM hands objects around as IUnknown and asks them for their interfaces:
// the drop target must answer for itself.
TEST(WinDragAndDrop, TheDropTargetAnswersForIUnknownAndIDropTarget) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  IDropTarget *target = &e.window()->DropTarget;
  const LONG before = e.window()->DropTarget.RefCount.load();
  void *unk = nullptr, *drop = nullptr, *other = reinterpret_cast<void *>(1);
  ASSERT_EQ(target->QueryInterface(IID_IUnknown, &unk), S_OK);
  ASSERT_EQ(target->QueryInterface(IID_IDropTarget, &drop), S_OK);
  EXPECT_EQ(unk, static_cast<IUnknown *>(target)) << "one identity";
  EXPECT_EQ(drop, target);
  void *again = nullptr;
  ASSERT_EQ(static_cast<IUnknown *>(unk)->QueryInterface(IID_IUnknown, &again), S_OK);
  EXPECT_EQ(again, unk) << "IUnknown from IUnknown is the same object";
  EXPECT_EQ(target->QueryInterface(IID_IDataObject, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(target->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(e.window()->DropTarget.RefCount.load(), before + 3) << "each answer counts";
  static_cast<IUnknown *>(unk)->Release();
  static_cast<IUnknown *>(again)->Release();
  static_cast<IUnknown *>(drop)->Release();
  EXPECT_EQ(e.window()->DropTarget.RefCount.load(), before);
}

TEST(WinDragAndDrop, AHugeDropIsCutAtTheCapAndOverLongNamesAreSkipped) {
  std::vector<std::wstring> many;
  for (int i = 0; i < 3000; i++) many.push_back(L"C:\\drops\\file" + std::to_wstring(i) + L".tvp");
  HGLOBAL block = drop_block(many);
  pw_path_list list = win_dropped_paths(static_cast<HDROP>(block));
  ASSERT_EQ(list.count, kMaxDroppedFiles);
  EXPECT_STREQ(list.paths[0], "C:\\drops\\file0.tvp");
  EXPECT_EQ(std::string(list.paths[kMaxDroppedFiles - 1]),
            "C:\\drops\\file" + std::to_string(kMaxDroppedFiles - 1) + ".tvp");
  list.clear();
  GlobalFree(block);

  // A name longer than a path slot would come back cut short and name
  // another file: it is left out, and the names after it still count.
  const std::wstring long_name = L"C:\\" + std::wstring(300, L'x') + L".tvp";
  const std::wstring just_fits = L"C:\\" + std::wstring(259 - 7, L'y') + L".tvp";  // 259 units
  const std::wstring too_wide = L"C:\\" + std::wstring(200, L'\u20ac');  // fits in units, not in 519 bytes
  block = drop_block({L"C:\\a.tvp", long_name, just_fits, too_wide, L"C:\\b.tvp"});
  list = win_dropped_paths(static_cast<HDROP>(block));
  ASSERT_EQ(list.count, 3u);
  EXPECT_STREQ(list.paths[0], "C:\\a.tvp");
  EXPECT_EQ(std::string(list.paths[1]), win_narrow(just_fits.c_str()));
  EXPECT_STREQ(list.paths[2], "C:\\b.tvp");
  list.clear();
  GlobalFree(block);

  block = drop_block({long_name});
  list = win_dropped_paths(static_cast<HDROP>(block));
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.paths, nullptr) << "nothing usable: an empty list";
  GlobalFree(block);
}

TEST(WinDragAndDrop, TheFormatEnumeratorGivesWhatItHasWhenAskedForMore) {
  const char *paths[] = {"C:\\Presets\\one.tvp"};
  IDataObject *obj = win_make_dragged_files(paths, 1);
  ASSERT_NE(obj, nullptr);
  IEnumFORMATETC *en = nullptr;
  ASSERT_EQ(obj->EnumFormatEtc(DATADIR_GET, &en), S_OK);
  FORMATETC got[4] = {};
  ULONG n = 99;
  EXPECT_EQ(en->Next(4, got, &n), S_FALSE) << "fewer than asked for";
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(got[0].cfFormat, CF_HDROP);
  EXPECT_EQ(got[0].tymed, DWORD(TYMED_HGLOBAL));
  EXPECT_EQ(got[0].dwAspect, DWORD(DVASPECT_CONTENT));
  EXPECT_EQ(en->Next(4, got, &n), S_FALSE);
  EXPECT_EQ(n, 0u) << "the end stays the end";
  EXPECT_EQ(en->Next(2, got, nullptr), E_INVALIDARG) << "several asked for without a count to report";
  EXPECT_EQ(en->Reset(), S_OK);
  EXPECT_EQ(en->Next(1, got, nullptr), S_OK) << "one asked for: the count may be left out";
  en->Release();
  // What OLE's own helpers do with it: every format the object offers.
  ASSERT_EQ(obj->EnumFormatEtc(DATADIR_GET, &en), S_OK);
  ULONG total = 0;
  while (en->Next(8, got, &n) == S_OK || n > 0) total += n;
  EXPECT_EQ(total, 1u);
  en->Release();
  EXPECT_EQ(obj->Release(), 0u);
}
