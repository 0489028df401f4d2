// Process entry: reads the command line, starts the updater and runs its one message loop.
#include <windows.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "res/resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  g_updateMode = ReadCommandLine(GetCommandLineW());
  LoadStringW(instance, IDS_APP_TITLE, g_windowTitle, ARRAYSIZE(g_windowTitle));
  LoadStringW(instance, IDS_MAIN_CLASS, g_className, ARRAYSIZE(g_className));
  RegisterMainClass(instance);
  if (!StartInstance(instance)) return 0;
  return RunMessageLoop(instance);
}
