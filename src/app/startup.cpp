// Start-up: the command line, the main window class and window, and the start-up sequence that
// ends with the dialog shown (or, in Update mode, the silent check begun). UI thread, with the
// auto-launch task removal running alongside on a thread of its own until the dialog shows.
#include "app/startup.h"

#include <objbase.h>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/workflow.h"
#include "base/dialog_controls.h"
#include "res/resource.h"
#include "system/autolaunch_task.h"
#include "text/language_file.h"
#include "ui/updater_dialog.h"
#include "info/platform.h"

ATOM RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PLINTHWARE));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEW(IDM_MAIN);
  windowClass.lpszClassName = g_className;
  windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PLINTHWARE));
  return RegisterClassExW(&windowClass);
}

int StartInstance(HINSTANCE instance) {
  g_instance = instance;
  // Nothing is made, and the task is kept, on a platform the updater does not serve.
  if (DetectPlatform() == 0) return 0;
  // A second updater of the user ends here, before it removes, fetches or deletes anything.
  if (!ClaimSingleInstance()) return 0;

  // This thread's apartment comes first and lasts the program's life, so that the removal thread
  // leaving its own never ends COM in the process (nor the COM security that thread sets).
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // CoInitializeSecurity, the removal's first step, holds for the whole process and only until
  // COM first needs security; later it fails with RPC_E_TOO_LATE and the task stays. On Windows
  // a thread's first window can bring in the input method and text services, which use COM, so
  // no window is made until the removal has returned from that call (it takes microseconds; the
  // bound keeps a removal thread that never gets there from holding start-up). The scheduler's
  // slow steps after it still run alongside the windows.
  StartAutoLaunchTaskRemoval();
  WaitForTaskRemovalSecurity(kTaskSecurityBoundMs);

  HWND window = CreateWindowExW(0, g_className, g_windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (window) {
    g_mainWindow = window;
    // The dialog's initialisation fetches its texts, so the overrides come first.
    LocateLanguageFile();
    g_overrideTable = BuildOverrideTable();
    g_dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_UPDATER), g_mainWindow, UpdaterDialogProc, 0);
  }
  // The task is gone before anything shows; a removal that hangs delays the dialog by the two
  // bounds at most and finishes on its own.
  WaitForAutoLaunchTaskRemoval(kTaskRemovalBoundMs);
  if (!window) return 0;
  if (!g_dialog) {
    // Nothing could ever be shown: end through the Shutdown sequence rather than leave a process
    // with only the hidden window (at logon, in Update mode, nobody would ever see it).
    OutputDebugStringW(L"the updater dialog could not be created\n");
    DestroyWindow(g_mainWindow);
    return 0;
  }

  if (g_updateMode) {
    SendControlMessage(g_dialog, IDC_UPDATER_DOWNLOAD_NOW, BM_CLICK, 0, 0);
  } else {
    ShowWindow(g_dialog, SW_SHOW);
  }
  return 1;
}

int RunMessageLoop(HINSTANCE instance) {
  HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
  MSG msg = {};
  // GetMessageW's -1 (an error) ends the loop as WM_QUIT does.
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // The accelerators first, as ever (in the dialog they command nothing); then the dialog manager
    // gives Tab, Enter and Esc their meaning in the updater dialog.
    if (!TranslateAcceleratorW(msg.hwnd, accelerators, &msg) && !IsDialogMessageW(g_dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // The exit code is 0 however the loop ended, whatever a WM_QUIT from elsewhere carried.
  return 0;
}
