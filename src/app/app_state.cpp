// The application shell's own process-wide state, in one place; the headers say who writes what.
// The state every layer reads lives in base/shell_state.cpp.
#include "app/startup.h"
#include "app/workflow.h"

wchar_t g_windowTitle[100] = {};
wchar_t g_className[100] = {};
HANDLE g_installerThread = nullptr;
