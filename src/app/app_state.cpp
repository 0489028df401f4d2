// The application shell's process-wide state, in one place; the headers say who writes what.
#include "app/startup.h"
#include "app/workflow.h"

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;
HWND g_dialog = nullptr;
wchar_t g_windowTitle[100] = {};
wchar_t g_className[100] = {};

volatile LONG g_updateMode = 0;
volatile LONG g_workflowStage = kStageIdle;
volatile LONG g_cancelFlag = 0;
HANDLE g_installerThread = nullptr;
