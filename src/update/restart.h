// Restarting Windows after the installation, when the user asks for it. User-interface thread.
#pragma once
#include <windows.h>

typedef BOOL(WINAPI* ExitWindowsFunction)(UINT flags, DWORD reason);

// What RestartWindows calls to request the restart: ExitWindowsEx. Only tests replace it, so
// that they never restart the machine they run on. Read by RestartWindows.
extern ExitWindowsFunction g_exitWindows;

// Enables the shutdown privilege and requests a restart for an installation; returns 1 when the
// restart was requested, 0 otherwise.
int RestartWindows();
