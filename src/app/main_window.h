// The hidden main window's procedure: Workflow message, menu commands, painting and shutdown.
// User-interface thread.
#pragma once
#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
