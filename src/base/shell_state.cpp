// The shell's process-wide state, in one place; shell_state.h says who writes what.
#include "base/shell_state.h"

HINSTANCE g_instance = nullptr;
HWND g_mainWindow = nullptr;
HWND g_dialog = nullptr;

volatile LONG g_updateMode = 0;
volatile LONG g_workflowStage = kStageIdle;
volatile LONG g_cancelFlag = 0;

void EndUpdater(INT_PTR dialogResult) {
  EndDialog(g_dialog, dialogResult);
  DestroyWindow(g_mainWindow);
}
