// Process entry: reads the command line, starts the updater and runs its one message loop.
#include <windows.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "res/resource.h"

// The GNU build must carry the checked copies; a build that lost the flag stops here.
#if defined(__GNUC__) && (!defined(_FORTIFY_SOURCE) || _FORTIFY_SOURCE < 2)
#error "the updater is built with _FORTIFY_SOURCE=2"
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The DLL search was restricted by the entry point (process_start.cpp), before the C runtime.
  g_updateMode = ReadCommandLine(GetCommandLineW());
  LoadStringW(instance, IDS_APP_TITLE, g_windowTitle, ARRAYSIZE(g_windowTitle));
  LoadStringW(instance, IDS_MAIN_CLASS, g_className, ARRAYSIZE(g_className));
  RegisterMainClass(instance);
  if (!StartInstance(instance)) return 0;
  return RunMessageLoop(instance);
}
