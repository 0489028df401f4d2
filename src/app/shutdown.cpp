// The Shutdown sequence, the single exit of the running program, and the two commands that stop
// and unregister the companion service "qentraSvc". UI thread, from WM_DESTROY of the main window.
#include "app/shutdown.h"

#include <windows.h>
#include <objbase.h>
#include <strsafe.h>

#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "text/language_file.h"
#include "ui/updater_dialog.h"

void RunShutdownSequence() {
  // A transfer still running (Exit, or WM_CLOSE to the main window) must never report to a window
  // that is going: its report is superseded and it aborts at its next progress report.
  AbandonDownloads();
  WatchdogStop();
  // A Download thread still inside its transfer is not waited for: it can no longer report
  // (its download's report is claimed or abandoned), and the process exit ends it.
  if (g_downloadThread) {
    CloseHandle(g_downloadThread);
    g_downloadThread = nullptr;
  }
  CoUninitialize();
  ReleaseOverrideTable();
  if (g_smallIcon) {
    DestroyIcon(g_smallIcon);
    g_smallIcon = nullptr;
  }
  if (!StopCompanionService()) OutputDebugStringW(L"stop service fail\n");
  if (!UnregisterCompanionService()) OutputDebugStringW(L"unreg service fail\n");
  PostQuitMessage(0);
}

// Starts one detached command from the system directory: either the whole command line, or the
// application whose command line is " -d".
static int LaunchServiceCommand(const wchar_t* tail, bool tailIsApplication, const wchar_t* successMessage,
                                const wchar_t* failureMessage) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);

  wchar_t systemDirectory[256] = {};
  GetSystemDirectoryW(systemDirectory, ARRAYSIZE(systemDirectory));
  wchar_t command[512] = {};
  StringCchCopyW(command, ARRAYSIZE(command), systemDirectory);
  StringCchCatW(command, ARRAYSIZE(command), tail);

  wchar_t arguments[] = L" -d"; // CreateProcessW may write into its command line
  PROCESS_INFORMATION process = {};
  BOOL created = tailIsApplication
      ? CreateProcessW(command, arguments, nullptr, nullptr, FALSE, DETACHED_PROCESS | NORMAL_PRIORITY_CLASS,
                       nullptr, systemDirectory, &startup, &process)
      : CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, DETACHED_PROCESS | NORMAL_PRIORITY_CLASS,
                       nullptr, systemDirectory, &startup, &process);
  OutputDebugStringW(systemDirectory);
  OutputDebugStringW(command);
  if (!created) {
    OutputDebugStringW(failureMessage);
    return 0;
  }
  OutputDebugStringW(successMessage);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}

int StopCompanionService() {
  return LaunchServiceCommand(L"\\sc.exe stop qentraSvc", false, L"launch stop service success\n",
                              L"launch stop service fail\n");
}

int UnregisterCompanionService() {
  return LaunchServiceCommand(L"\\qentraSvc.exe", true, L"launch rureg service success\n",
                              L"launch unreg service fail\n");
}
