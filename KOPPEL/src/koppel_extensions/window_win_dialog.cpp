// The system's file dialog, run on a thread of its own so the host's window
// keeps drawing; the result comes back to the window's thread by a message.
#include "window_win.h"
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>
#include <new>


struct pw_choose_file_job {
  std::atomic<int> refs{2};  // the window and the dialog thread
  std::atomic<HWND> hwnd{nullptr};  // cleared when the window goes first
  HANDLE hThread = nullptr;
  // Our library, kept loaded by the dialog thread until its last instruction:
  // a host may unload the plug-in while the dialog is still open.
  HMODULE module = nullptr;
  void *callback_data = nullptr;
  pw_choose_file_callback callback = nullptr;
  bool IsSave = false, IsFolder = false, Multiselect = false;
  std::vector<std::pair<std::wstring, std::wstring>> types;
  std::wstring title, folder, name;
  std::vector<std::string> results;
};

namespace {
thread_local int t_prompt_depth = 0;  // nested prompts on this thread

void release(pw_choose_file_job *job) {
  if (job && job->refs.fetch_sub(1) == 1) delete job;
}

void add_result(pw_choose_file_job *job, IShellItem *item) {
  wchar_t *path = nullptr;
  if (item && SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
    std::string utf8 = win_narrow(path);
    if (!utf8.empty()) job->results.push_back(std::move(utf8));
    CoTaskMemFree(path);
  }
}

// Shows the dialog and collects what was chosen; any failing step leaves the
// result empty, which the callback reports as 0 paths.
void run_dialog(pw_choose_file_job *job) {
  IFileDialog *dialog = nullptr;
  const CLSID &cls = job->IsSave ? CLSID_FileSaveDialog : CLSID_FileOpenDialog;
  const IID &iid = job->IsSave ? IID_IFileSaveDialog : IID_IFileOpenDialog;
  if (FAILED(CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void **>(&dialog))) || !dialog)
    return;
  if (!job->folder.empty()) {
    IShellItem *start = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(job->folder.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void **>(&start)))) {
      dialog->SetFolder(start);
      start->Release();
    }
  }
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) {
    if (job->IsFolder) options |= FOS_PICKFOLDERS;
    if (job->Multiselect) options |= FOS_ALLOWMULTISELECT;
    dialog->SetOptions(options);
  }
  if (!job->types.empty()) {
    std::vector<COMDLG_FILTERSPEC> specs;
    for (const auto &t : job->types) specs.push_back({t.first.c_str(), t.second.c_str()});
    dialog->SetFileTypes(UINT(specs.size()), specs.data());
    dialog->SetFileTypeIndex(1);
    // The default extension: the first pattern after its "*." up to any ";".
    const std::wstring &p = job->types.front().second;
    size_t start = 0;
    while (start < p.size() && (p[start] == L'*' || p[start] == L'.')) start++;
    const std::wstring ext = p.substr(start, std::min<size_t>(p.find(L';', start) - start, 63));
    dialog->SetDefaultExtension(ext.c_str());
  }
  if (!job->name.empty()) dialog->SetFileName(job->name.c_str());
  if (!job->title.empty()) dialog->SetTitle(job->title.c_str());
  if (SUCCEEDED(dialog->Show(nullptr))) {
    if (job->Multiselect && !job->IsSave) {
      IShellItemArray *items = nullptr;
      if (SUCCEEDED(static_cast<IFileOpenDialog *>(dialog)->GetResults(&items)) && items) {
        DWORD n = 0;
        items->GetCount(&n);
        for (DWORD i = 0; i < n; i++) {
          IShellItem *item = nullptr;
          if (SUCCEEDED(items->GetItemAt(i, &item)) && item) {
            add_result(job, item);
            item->Release();
          }
        }
        items->Release();
      }
    } else {
      IShellItem *item = nullptr;
      if (SUCCEEDED(dialog->GetResult(&item)) && item) {
        add_result(job, item);
        item->Release();
      }
    }
  }
  dialog->Release();
}

DWORD WINAPI choose_file_thread(void *arg) {
  auto *job = static_cast<pw_choose_file_job *>(arg);
  HMODULE module = job->module;
  // The shell's dialogs are apartment-threaded objects that want a
  // single-threaded apartment with a message loop (Show runs one).
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  if (com) run_dialog(job);
  if (com) CoUninitialize();
  if (HWND hwnd = job->hwnd.load()) PostMessageW(hwnd, WM_PW_FILE_CHOSEN, 0, 0);
  release(job);
  // Drops our reference and ends the thread without returning into code the
  // release may have unmapped.
  if (module) FreeLibraryAndExitThread(module, 0);
  return 0;
}
}  // namespace

std::vector<std::pair<std::wstring, std::wstring>> win_file_types(const PWChooseFileArgs *args) noexcept {
  std::vector<std::pair<std::wstring, std::wstring>> types;
  if (!args || !args->num_extensions || !args->extension_names || !args->extension_types) return types;
  std::wstring all;
  for (uint32_t i = 0; i < args->num_extensions; i++) {
    const char *type = args->extension_types[i] ? args->extension_types[i] : "";
    while (*type == '.') type++;
    const std::wstring pattern = L"*." + win_widen(type);
    types.push_back({win_widen(args->extension_names[i]), pattern});
    all += (i ? L";" : L"") + pattern;
  }
  // "Supported files" says nothing when every file is among them.
  const bool any_file = all == L"*.*" || all.find(L"*.*;") != std::wstring::npos ||
                        (all.size() > 4 && all.compare(all.size() - 4, 4, L";*.*") == 0);
  if (types.size() > 1 && !any_file) types.insert(types.begin(), {L"Supported files", all});
  return types;
}

namespace {
// A job for the request with its dialog thread started; null when the request
// is refused (a given text that does not convert, a folder too short to be
// one) or the thread cannot start.
pw_choose_file_job *start_job(const PWChooseFileArgs *args, HWND hwnd) {
  auto *job = new (std::nothrow) pw_choose_file_job();
  if (!job) return nullptr;
  job->hwnd = hwnd;
  job->callback_data = args->callback_data;
  job->callback = args->callback;
  job->IsSave = args->is_save;
  job->IsFolder = args->is_folder;
  job->Multiselect = args->multiselect;
  job->types = win_file_types(args);
  job->folder = win_widen(args->folder);
  job->name = win_widen(args->filename);
  job->title = win_widen(args->title);
  const bool bad = (args->folder && (job->folder.size() + 1 < 3)) || (args->filename && job->name.empty()) ||
                   (args->title && job->title.empty());
  if (bad) {
    delete job;
    return nullptr;
  }
  // A reference on the module that holds this code, for the thread to release.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&choose_file_thread),
                          &job->module))
    job->module = nullptr;
  job->hThread = CreateThread(nullptr, 0, choose_file_thread, job, 0, nullptr);
  if (!job->hThread) {
    if (job->module) FreeLibrary(job->module);
    delete job;
    return nullptr;
  }
  return job;
}
}  // namespace

bool pw_choose_file(const PWChooseFileArgs *args) noexcept {
  if (!args || !args->pw || !args->pw->hwnd) return false;
  KoppelWindow *w = args->pw;
  if (w->ChooseFile) return false;  // one dialog per window at a time
  w->ChooseFile = start_job(args, w->hwnd);
  return w->ChooseFile != nullptr;
}

bool pw_prompt_for_file(const PWChooseFileArgs *args, char *out, size_t size) noexcept {
  if (out && size) out[0] = 0;
  if (!args || !out || !size) return false;
  PWChooseFileArgs one = *args;
  one.multiselect = false;
  pw_choose_file_job *job = start_job(&one, nullptr);
  if (!job) return false;
  // The caller's windows keep painting while the dialog is open. The host may
  // close or even destroy an editor from inside this loop: editors of this
  // thread are then ended and freed only after it, so our caller (an editor
  // in the middle of its frame) never continues on freed memory.
  t_prompt_depth++;
  while (MsgWaitForMultipleObjects(1, &job->hThread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  t_prompt_depth--;
  CloseHandle(job->hThread);
  bool ok = false;
  if (!job->results.empty() && job->results.front().size() < size) {
    std::memcpy(out, job->results.front().c_str(), job->results.front().size() + 1);
    ok = true;
  }
  release(job);
  if (t_prompt_depth == 0) win_run_deferred_teardown();
  return ok;
}

bool win_prompt_running() noexcept { return t_prompt_depth > 0; }

void win_finish_choose_file(KoppelWindow *w) noexcept {
  pw_choose_file_job *job = w ? w->ChooseFile : nullptr;
  if (!job) return;
  w->ChooseFile = nullptr;
  WaitForSingleObject(job->hThread, INFINITE);  // it posted as its last act
  CloseHandle(job->hThread);
  std::vector<const char *> paths;
  for (const std::string &p : job->results) paths.push_back(p.c_str());
  if (job->callback) job->callback(job->callback_data, paths.data(), uint32_t(paths.size()));
  release(job);
}

void win_abandon_choose_file(KoppelWindow *w) noexcept {
  pw_choose_file_job *job = w ? w->ChooseFile : nullptr;
  if (!job) return;
  w->ChooseFile = nullptr;
  job->hwnd = nullptr;  // the thread finishes on its own and frees the job
  CloseHandle(job->hThread);
  release(job);
}
