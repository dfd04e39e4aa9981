// The Win32 layer's services beside the editor itself: the clipboard, the
// file dialog's types and cancel, and files dragged in and out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

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
    parent = CreateWindowExW(0, L"STATIC", L"Test host", WS_OVERLAPPEDWINDOW, 0, 0, 1200, 700, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (!host.create() || !host.gui->create(host.plugin, CLAP_WINDOW_API_WIN32, false)) return;
    clap_window_t w{};
    w.api = CLAP_WINDOW_API_WIN32;
    w.win32 = parent;
    ok = host.gui->set_parent(host.plugin, &w) && host.gui->show(host.plugin);
  }
  ~open_editor() {
    if (ok) host.gui->destroy(host.plugin);
    DestroyWindow(parent);
  }
  KoppelWindow *window() const { return koppel_clap_user_plugin(host.plugin)->gui->pw; }
};

std::wstring block_text(HGLOBAL block, size_t *bytes) {
  *bytes = GlobalSize(block);
  const auto *header = static_cast<const DROPFILES *>(GlobalLock(block));
  std::wstring all;
  if (header) {
    const auto *p = reinterpret_cast<const wchar_t *>(reinterpret_cast<const char *>(header) + header->pFiles);
    const size_t units = (*bytes - header->pFiles) / sizeof(wchar_t);
    all.assign(p, units);
    EXPECT_TRUE(header->fWide);
    GlobalUnlock(block);
  }
  return all;
}

void put_foreign_clipboard(HWND owner, const wchar_t *units, size_t n) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, n * sizeof(wchar_t));
  std::memcpy(GlobalLock(block), units, n * sizeof(wchar_t));
  GlobalUnlock(block);
  SetClipboardData(CF_UNICODETEXT, block);
  CloseClipboard();
}
}  // namespace

TEST(WinClipboard, TextRoundTripsInvalidTextIsEmptyAndForeignBlocksAreBounded) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  KoppelWindow *w = e.window();
  pw_set_clipboard_text(w, "440*2 Hz \xe2\x80\x93 ok");
  char *text = nullptr;
  size_t len = 0;
  ASSERT_TRUE(pw_get_clipboard_text(w, &text, &len));
  EXPECT_STREQ(text, "440*2 Hz \xe2\x80\x93 ok");
  EXPECT_EQ(len, std::strlen(text) + 1);
  pw_free_clipboard_text(text);

  pw_set_clipboard_text(w, "bad \xff\xfe text");
  ASSERT_TRUE(pw_get_clipboard_text(w, &text, &len));
  EXPECT_STREQ(text, "") << "invalid UTF-8 becomes an empty text";
  pw_free_clipboard_text(text);

  // Another program's block without a terminator: read within its size only.
  const wchar_t unterminated[4] = {L'1', L'2', L'3', L'4'};
  put_foreign_clipboard(e.parent, unterminated, 4);
  ASSERT_TRUE(pw_get_clipboard_text(w, &text, &len));
  // Windows hands the block over as it is, Wine terminates it in its last unit.
  EXPECT_EQ(std::string("1234").substr(0, std::strlen(text)), text);
  EXPECT_GE(std::strlen(text), 3u);
  EXPECT_LE(std::strlen(text), 4u) << "nothing past the block's end";
  pw_free_clipboard_text(text);

  EXPECT_FALSE(pw_get_clipboard_text(nullptr, &text, &len));
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(len, 0u);
  pw_set_clipboard_text(nullptr, "x");
}

TEST(WinFileDialog, TypesAreOneForOneExtensionAndASupportedEntryBeforeSeveral) {
  const char *names[] = {"Presets", "Curves", "Text"};
  const char *types[] = {"tvp", "..crv", ".txt"};
  PWChooseFileArgs args{};
  args.num_extensions = 1;
  args.extension_names = names;
  args.extension_types = types;
  auto one = win_file_types(&args);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].first, L"Presets");
  EXPECT_EQ(one[0].second, L"*.tvp");
  args.num_extensions = 3;
  auto four = win_file_types(&args);
  ASSERT_EQ(four.size(), 4u);
  EXPECT_EQ(four[0].first, L"Supported files");
  EXPECT_EQ(four[0].second, L"*.tvp;*.crv;*.txt");
  EXPECT_EQ(four[2].second, L"*.crv") << "leading dots are removed";
  const char *any_names[] = {"Presets", "All files"};
  const char *any_types[] = {"dat", "*"};
  args.num_extensions = 2;
  args.extension_names = any_names;
  args.extension_types = any_types;
  auto any = win_file_types(&args);
  ASSERT_EQ(any.size(), 2u) << "no \"Supported files\" when every file is supported";
  EXPECT_EQ(any[1].second, L"*.*");
}

TEST(WinFileDialog, BadRequestsStartNoThreadAndACancelledDialogStillCallsBack) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  struct result {
    int calls = 0;
    uint32_t paths = 99;
  } r;
  auto done = [](void *data, const char *const *, uint32_t n) {
    auto *res = static_cast<result *>(data);
    res->calls++;
    res->paths = n;
  };
  PWChooseFileArgs args{};
  args.pw = e.window();
  args.callback_data = &r;
  args.callback = done;
  args.folder = "C";  // shorter than any folder
  EXPECT_FALSE(pw_choose_file(&args));
  args.folder = nullptr;
  args.title = "\xff bad";
  EXPECT_FALSE(pw_choose_file(&args));
  EXPECT_FALSE(pw_choose_file(nullptr));

  args.title = "Tarvelon test dialog";
  ASSERT_TRUE(pw_choose_file(&args));
  EXPECT_FALSE(pw_choose_file(&args)) << "one dialog at a time";
  // The user closes it.
  HWND dialog = nullptr;
  for (int i = 0; i < 500 && !dialog; i++) {
    e.host.loop.run_for(10);
    dialog = FindWindowW(nullptr, L"Tarvelon test dialog");
  }
  ASSERT_NE(dialog, nullptr) << "the dialog appeared";
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  for (int i = 0; i < 500 && !r.calls; i++) e.host.loop.run_for(10);
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.paths, 0u);
  EXPECT_EQ(e.window()->ChooseFile, nullptr);
}

namespace {
// Answers the dialog titled `title` once it shows, as a user would, from a
// thread of its own: its Save or Open button, or Cancel.
BOOL CALLBACK find_accept_button(HWND child, LPARAM lp) {
  wchar_t text[32] = {};
  GetWindowTextW(child, text, 32);
  const std::wstring t = text;
  if (t == L"&Save" || t == L"Save" || t == L"&Open" || t == L"Open") {
    *reinterpret_cast<HWND *>(lp) = child;
    return FALSE;
  }
  return TRUE;
}

std::thread answer_dialog(const wchar_t *title, bool accept) {
  return std::thread([title, accept] {
    for (int i = 0; i < 1000; i++) {
      if (HWND d = FindWindowW(nullptr, title)) {
        Sleep(200);  // let it finish setting up
        HWND button = nullptr;
        if (accept) EnumChildWindows(d, find_accept_button, reinterpret_cast<LPARAM>(&button));
        if (button) PostMessageW(button, BM_CLICK, 0, 0);
        else PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
        return;
      }
      Sleep(10);
    }
  });
}
}  // namespace

TEST(WinFileDialog, APromptWaitsForTheAnswerAndThePresetCallbackUsesIt) {
  char out[4096] = "stale";
  PWChooseFileArgs args{};
  args.title = "Tarvelon prompt test";
  std::thread cancel = answer_dialog(L"Tarvelon prompt test", false);
  EXPECT_FALSE(pw_prompt_for_file(&args, out, sizeof out));
  cancel.join();
  EXPECT_STREQ(out, "");

  // A save under a full path typed in gives that path.
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  const std::string typed = win_narrow(tmp) + "chosen.dat";
  args.is_save = true;
  args.filename = typed.c_str();
  std::thread ok = answer_dialog(L"Tarvelon prompt test", true);
  const bool chosen = pw_prompt_for_file(&args, out, sizeof out);
  ok.join();
  ASSERT_TRUE(chosen);
  const std::string path = out;
  EXPECT_EQ(path.substr(path.size() - 10), "chosen.dat") << path;
  char small[8];
  std::thread again = answer_dialog(L"Tarvelon prompt test", true);
  EXPECT_FALSE(pw_prompt_for_file(&args, small, sizeof small)) << "a path that does not fit is no answer";
  again.join();
  EXPECT_STREQ(small, "");
}

TEST(WinFileDialog, AnEditorClosedWhileItsDialogIsOpenIsNotCalledBack) {
  int calls = 0;
  std::thread cancel = answer_dialog(L"Tarvelon orphan dialog", false);
  {
    open_editor e;
    ASSERT_TRUE(e.ok);
    PWChooseFileArgs args{};
    args.pw = e.window();
    args.callback_data = &calls;
    args.callback = [](void *data, const char *const *, uint32_t) { ++*static_cast<int *>(data); };
    args.title = "Tarvelon orphan dialog";
    ASSERT_TRUE(pw_choose_file(&args));
  }  // closed with the dialog still up
  cancel.join();
  gui_loop loop;
  loop.run_for(300);  // the dialog's thread ends on its own
  EXPECT_EQ(calls, 0);
}

TEST(WinDragAndDrop, BlocksOfDraggedFilesAndTheirCopies) {
  size_t bytes = 0;
  HGLOBAL empty = win_make_drop_files(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  block_text(empty, &bytes);
  EXPECT_EQ(bytes, 24u);
  GlobalFree(empty);

  const char *paths[] = {"C:\\Presets\\B\xc3\xa4sse.tvp", "Z:\\tmp\\two.tvp"};
  HGLOBAL two = win_make_drop_files(paths, 2);
  const std::wstring all = block_text(two, &bytes);
  EXPECT_EQ(all, std::wstring(L"C:\\Presets\\B\u00e4sse.tvp") + L'\0' + L"Z:\\tmp\\two.tvp" + L'\0' + L'\0');
  GlobalFree(two);

  IDataObject *obj = win_make_dragged_files(paths, 2);
  ASSERT_NE(obj, nullptr);
  FORMATETC fmt{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(obj->QueryGetData(&fmt), S_OK);
  FORMATETC text{CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_NE(obj->QueryGetData(&text), S_OK);
  STGMEDIUM m{};
  ASSERT_EQ(obj->GetData(&fmt, &m), S_OK);
  EXPECT_EQ(block_text(m.hGlobal, &bytes), all) << "a copy for the receiver";
  ReleaseStgMedium(&m);
  IEnumFORMATETC *en = nullptr;
  ASSERT_EQ(obj->EnumFormatEtc(DATADIR_GET, &en), S_OK);
  FORMATETC got[2];
  ULONG n = 0;
  EXPECT_EQ(en->Next(1, got, &n), S_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(got[0].cfFormat, CF_HDROP);
  EXPECT_EQ(en->Next(1, got, &n), S_FALSE);
  en->Release();
  EXPECT_EQ(obj->EnumFormatEtc(DATADIR_SET, &en), E_NOTIMPL);
  EXPECT_EQ(obj->Release(), 0u);
}

TEST(WinDragAndDrop, FilesDraggedOntoTheEditorAreRefusedAndNothingIsKept) {
  open_editor e;
  ASSERT_TRUE(e.ok);
  PWDropTarget &target = e.window()->DropTarget;
  const char *paths[] = {"C:\\Presets\\one.tvp"};
  IDataObject *obj = win_make_dragged_files(paths, 1);
  ASSERT_NE(obj, nullptr);
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_NE(target.DragEnter(obj, 0, POINTL{10, 10}, &effect), S_OK) << "the editor takes no files";
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
  EXPECT_EQ(target.files.count, 0u);
  EXPECT_EQ(target.files.paths, nullptr);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(target.DragOver(0, POINTL{12, 12}, &effect), S_OK);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
  EXPECT_NE(target.Drop(obj, 0, POINTL{12, 12}, &effect), S_OK);
  obj->Release();

  // A drag that carries no file names at all.
  IDataObject *none = nullptr;
  ASSERT_EQ(CreateDataCache(nullptr, CLSID_NULL, IID_IDataObject, reinterpret_cast<void **>(&none)), S_OK);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(target.DragEnter(none, 0, POINTL{10, 10}, &effect), E_UNEXPECTED);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
  none->Release();
  EXPECT_EQ(target.DragLeave(), S_OK);
}
