// The Installer thread's surroundings for tests; see installer_harness.h.
#include "installer_harness.h"

#include <commctrl.h>
#include <strsafe.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "download/download_jobs.h"
#include "res/resource.h"
#include "update/installer.h"
#include "info/platform.h"

namespace installer_harness {

namespace {

using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

Report g_report;
std::wstring g_recordPath;

LRESULT CALLBACK TestMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WORKFLOW && wParam == kWorkflowInstallerExited) {
    ++g_report.count;
    g_report.outcome = lParam;
    g_report.marqueeAtReport = HasMarqueeStyle();
    g_report.recordAtReport = ReadBytes(g_recordPath);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK TestDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

} // namespace

bool CreateWindows() {
  if (g_mainWindow && g_dialog) return true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LINK_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TestMainWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PlinthwareInstallerTestMain";
  RegisterClassW(&windowClass);
  g_mainWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
  g_dialog = CreateDialogParamW(windowClass.hInstance, MAKEINTRESOURCEW(IDD_UPDATER), g_mainWindow, TestDialogProc, 0);
  return g_mainWindow && g_dialog;
}

HeldAtStart g_heldAtStart;

static void ProbeHeld(const wchar_t* package) {
  ++g_heldAtStart.starts;
  HANDLE writer = CreateFileW(package, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  g_heldAtStart.writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  HANDLE deleter = CreateFileW(package, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  g_heldAtStart.deleteError = deleter == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (deleter != INVALID_HANDLE_VALUE) CloseHandle(deleter);
}

BOOL WINAPI ProbingCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                 LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                 LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process) {
  ProbeHeld(application);
  return CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags, environment,
                        directory, startup, process);
}

BOOL WINAPI ElevationRequired(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                              LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  SetLastError(740); // ERROR_ELEVATION_REQUIRED
  return FALSE;
}

BOOL WINAPI ProbingShellExecute(SHELLEXECUTEINFOW* info) {
  ProbeHeld(info->lpFile);
  return ShellExecuteExW(info);
}

HWND ProgressBar() { return GetDlgItem(g_dialog, IDC_UPDATER_PROGRESS); }

bool HasMarqueeStyle() { return (GetWindowLongW(ProgressBar(), GWL_STYLE) & PBS_MARQUEE) != 0; }

bool PercentVisible() { return (GetWindowLongW(GetDlgItem(g_dialog, IDC_UPDATER_PERCENT), GWL_STYLE) & WS_VISIBLE) != 0; }

InstallerRun::InstallerRun(const std::string& infoFile, const std::wstring& folderName, const wchar_t* packageName) {
  folder_ = temp_.file(folderName);
  CreateDirectoryW(folder_.c_str(), nullptr);
  record_ = temp_.file(L"record.txt");
  g_recordPath = record_;
  g_report = Report();
  CopyFileW((testing_support::ProgramFolder() + L"\\" + packageName).c_str(), package().c_str(), FALSE);
  WriteBytes(folder_ + L"\\vrel_info", infoFile);
  StringCchCopyW(g_platformSection, kPlatformSectionChars, L"platform_win7");
  StringCchCopyW(g_infoFilePath, kPathChars, (folder_ + L"\\vrel_info").c_str());
  LoadPlatformValues();
  StringCchCopyW(g_tempFolderBuffer, kPathChars, (folder_ + L"\\").c_str());
  StringCchCopyW(g_destinationBuffer, kPathChars, package().c_str());
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_RECORD", record_.c_str());
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_EXIT", nullptr);
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_HOLD", nullptr);
  // The dialog as the download left it: percentage shown, bar in plain mode.
  ShowWindow(GetDlgItem(g_dialog, IDC_UPDATER_PERCENT), SW_SHOW);
  SetWindowLongW(ProgressBar(), GWL_STYLE, GetWindowLongW(ProgressBar(), GWL_STYLE) & ~PBS_MARQUEE);
}

InstallerRun::~InstallerRun() {
  Release();
  if (thread_) {
    // Never leave the thread behind with our windows: serve them until it ends.
    testing_support::PumpUntil([this] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, 40000);
    CloseHandle(thread_);
  }
  if (hold_) CloseHandle(hold_);
  if (started_) CloseHandle(started_);
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_RECORD", nullptr);
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_EXIT", nullptr);
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_HOLD", nullptr);
}

void InstallerRun::SetExitCode(DWORD code) {
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_EXIT", std::to_wstring(code).c_str());
}

void InstallerRun::Hold() {
  std::wstring name = L"PlinthwarePackageHold-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(GetTickCount());
  hold_ = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  started_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-started").c_str());
  SetEnvironmentVariableW(L"PLINTHWARE_PACKAGE_HOLD", name.c_str());
}

bool InstallerRun::WaitStarted(DWORD timeoutMs) {
  return started_ &&
         testing_support::PumpUntil([this] { return WaitForSingleObject(started_, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

void InstallerRun::Release() {
  if (hold_) SetEvent(hold_);
}

bool InstallerRun::Start() {
  thread_ = CreateThread(nullptr, 0, RunInstaller, nullptr, 0, nullptr);
  return thread_ != nullptr;
}

bool InstallerRun::Complete(DWORD timeoutMs) {
  if (!thread_ && !Start()) return false;
  return testing_support::PumpUntil(
      [this] { return g_report.count > 0 && WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

const Report& InstallerRun::report() const { return g_report; }

DWORD InstallerRun::ThreadExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (thread_) GetExitCodeThread(thread_, &code);
  return code;
}

std::string InstallerRun::Record() const { return ReadBytes(record_); }

bool InstallerRun::PackageRan() const { return FileExists(record_); }

} // namespace installer_harness
