// Starting the updater with its own environment, listening to its debugger output, waiting for
// conditions with deadlines, and ending it. Runs on the driver's thread.
#include "driver/driver.h"

#include <strsafe.h>

#include <algorithm>

#include "support/test_support.h"

namespace driver {

namespace {

std::wstring NameOf(const std::wstring& entry) {
  // Entries such as "=C:=C:\\dir" start with '=': their name runs to the second '='.
  size_t equals = entry.find(L'=', 1);
  return equals == std::wstring::npos ? entry : entry.substr(0, equals);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

// The driver's environment with the settings applied, sorted by name without regard to case as
// CreateProcessW expects, as a block of NUL-terminated entries ending in an empty one.
std::vector<wchar_t> BuildEnvironment(const std::vector<EnvironmentSetting>& settings) {
  std::vector<std::wstring> entries;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* p = strings; p && *p; p += wcslen(p) + 1) entries.push_back(p);
  if (strings) FreeEnvironmentStringsW(strings);

  for (const EnvironmentSetting& setting : settings) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::wstring& e) { return SameName(NameOf(e), setting.name); }),
                  entries.end());
    if (!setting.remove) entries.push_back(setting.name + L"=" + setting.value);
  }
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    std::wstring na = NameOf(a), nb = NameOf(b);
    return CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(), static_cast<int>(nb.size()),
                                TRUE) == CSTR_LESS_THAN;
  });

  std::vector<wchar_t> block;
  for (const std::wstring& e : entries) {
    block.insert(block.end(), e.begin(), e.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  if (block.size() == 1) block.push_back(L'\0');
  return block;
}

std::wstring LastErrorText(const wchar_t* what) {
  wchar_t text[128] = {};
  StringCchPrintfW(text, ARRAYSIZE(text), L"%s failed with error %lu", what, GetLastError());
  return text;
}

// The processes whose windows a hook watches, by hook: the callback carries only the hook.
std::vector<std::pair<HWINEVENTHOOK, UpdaterProcess*>> g_watched;

} // namespace

std::wstring WindowsPathOf(const std::wstring& path) {
  if (path.empty() || path[0] != L'/') return path;
  std::wstring windows = L"Z:" + path;
  std::replace(windows.begin(), windows.end(), L'/', L'\\');
  return windows;
}

UpdaterProcess::UpdaterProcess() = default;

UpdaterProcess::~UpdaterProcess() {
  Kill();
  if (createHook_) {
    UnhookWinEvent(createHook_);
    g_watched.erase(std::remove(g_watched.begin(), g_watched.end(), std::make_pair(createHook_, this)),
                    g_watched.end());
  }
  output_.reset();
  if (process_) CloseHandle(process_);
}

bool UpdaterProcess::Start(const LaunchOptions& options) {
  if (process_) {
    startError_ = L"this driver already started a process";
    return false;
  }
  std::wstring commandLine = L"\"" + options.program + L"\"";
  if (!options.arguments.empty()) commandLine += L" " + options.arguments;
  std::vector<wchar_t> writableCommandLine(commandLine.begin(), commandLine.end());
  writableCommandLine.push_back(L'\0');
  std::vector<wchar_t> environment = BuildEnvironment(options.environment);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // Suspended until the listener knows the process ID: the first outputs come at once.
  // Wine 8.0 now and then refuses a start under load with ERROR_INTERNAL_ERROR (1359) and takes
  // the same start a moment later; nothing signals when, so the driver tries a few times.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) {
      if (GetLastError() != ERROR_INTERNAL_ERROR) break;
      Sleep(200);
    }
    started = CreateProcessW(options.program.c_str(), writableCommandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                             options.currentDirectory.empty() ? nullptr : options.currentDirectory.c_str(),
                             &startup, &info);
  }
  if (!started) {
    startError_ = LastErrorText(L"CreateProcessW") + L" for " + options.program;
    return false;
  }
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
  output_.reset(new testing_support::DebugOutputCapture(processId_));
  createHook_ = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, OnCreate, processId_, 0,
                                WINEVENT_OUTOFCONTEXT);
  if (!createHook_) {
    // Without it a program that made no window could not be told from one not watched.
    startError_ = LastErrorText(L"SetWinEventHook");
    TerminateProcess(process_, 1);
    CloseHandle(info.hThread);
    return false;
  }
  g_watched.push_back(std::make_pair(createHook_, this));
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return true;
}

bool UpdaterProcess::HasExited() const {
  return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
}

bool UpdaterProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_) return false;
  bool ended = WaitUntil([this] { return HasExited(); }, timeoutMs);
  if (!ended) return false;
  if (exitCode) GetExitCodeProcess(process_, exitCode);
  DrainDebugOutput();
  return true;
}

void UpdaterProcess::DrainDebugOutput() {
  // OutputDebugString hands its text over and returns before the listener has stored it, so the
  // last texts of an ended process may still be on their way. The listener signals the
  // auto-reset DBWIN_BUFFER_READY once it has stored the latest text; the signal is put back
  // for whoever writes next.
  HANDLE ready = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"DBWIN_BUFFER_READY");
  if (!ready) return;
  if (WaitForSingleObject(ready, 2000) == WAIT_OBJECT_0) SetEvent(ready);
  CloseHandle(ready);
}

void UpdaterProcess::Kill() {
  if (process_ && !HasExited()) {
    TerminateProcess(process_, 0xDEAD);
    WaitForSingleObject(process_, 5000);
  }
}

void UpdaterProcess::WatchWindows() {
  for (HWND window : TopLevelWindows(processId_)) {
    if (!IsWindowVisible(window)) continue;
    anyWindowSeenVisible_ = true;
    if (ReadClassName(window) == L"VELTRANA") mainWindowSeenVisible_ = true;
    if (window == UpdaterDialog()) dialogSeenVisible_ = true;
  }
}

void CALLBACK UpdaterProcess::OnCreate(HWINEVENTHOOK hook, DWORD, HWND window, LONG object, LONG child, DWORD,
                                       DWORD) {
  if (object != OBJID_WINDOW || child != CHILDID_SELF || !window) return;
  for (const auto& watched : g_watched) {
    if (watched.first == hook) watched.second->anyWindowMade_ = true;
  }
}

bool UpdaterProcess::AnyWindowEverMade() {
  testing_support::PumpUntil([] { return true; }, 0); // serves the events that wait
  return anyWindowMade_;
}

bool UpdaterProcess::DialogEverVisible() {
  WatchWindows();
  return dialogSeenVisible_;
}

bool UpdaterProcess::MainWindowEverVisible() {
  WatchWindows();
  return mainWindowSeenVisible_;
}

bool UpdaterProcess::AnyWindowEverVisible() {
  WatchWindows();
  return anyWindowSeenVisible_;
}

bool UpdaterProcess::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  // Windows of another process announce nothing to us, so the look is repeated at short
  // intervals, each interval ending early for any message to this thread.
  return testing_support::PumpUntil(
      [&] {
        WatchWindows();
        return condition();
      },
      timeoutMs);
}

HWND UpdaterProcess::WaitForVisibleDialog(DWORD timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        dialog = UpdaterDialog();
        return (dialog && IsWindowVisible(dialog)) || HasExited();
      },
      timeoutMs);
  return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND UpdaterProcess::WaitForMessageBox(DWORD timeoutMs) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = VisibleMessageBox();
        return box || HasExited();
      },
      timeoutMs);
  return box;
}

HWND UpdaterProcess::WaitForAboutBox(DWORD timeoutMs) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        box = AboutBox();
        return (box && IsWindowVisible(box)) || HasExited();
      },
      timeoutMs);
  return box && IsWindowVisible(box) ? box : nullptr;
}

bool UpdaterProcess::WaitForControlText(int controlId, const std::wstring& text, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        HWND dialog = UpdaterDialog();
        return (dialog && ReadControl(dialog, controlId).text == text) || HasExited();
      },
      timeoutMs) &&
         ReadControl(UpdaterDialog(), controlId).text == text;
}

bool UpdaterProcess::WaitForDebugText(const std::string& text, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        for (const std::string& message : DebugMessages())
          if (message.find(text) != std::string::npos) return true;
        return false;
      },
      timeoutMs);
}

std::vector<std::string> UpdaterProcess::DebugMessages() const {
  return output_ ? output_->messages() : std::vector<std::string>();
}

} // namespace driver
