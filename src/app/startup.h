// Process start: reading the command line, the hidden main window and the start-up sequence.
// Everything here runs on the user-interface thread, before and around the one message loop.
#pragma once
#include <windows.h>

#include "base/shell_state.h" // g_instance, g_mainWindow, g_dialog: set by StartInstance

extern wchar_t g_windowTitle[100]; // string 103, the main window's title
extern wchar_t g_className[100];   // string 109, the main window's class name

// Update mode for a whole command line: on exactly when its first argument is "-update" in any
// mix of case. An argument of 64 characters or more never is, and is not copied.
int ReadCommandLine(const wchar_t* commandLine);

ATOM RegisterMainClass(HINSTANCE instance);

// The platform first (an unsupported one ends it before anything is made), then the one updater
// of the user (a second start ends here, see ClaimSingleInstance), then the auto-launch task
// removal on its own thread: once it has set the COM security (or after kTaskSecurityBoundMs),
// the main window, the Language file and the dialog alongside the rest of it; the dialog shows
// (or Update mode presses Download Now) once the removal has ended, or after kTaskRemovalBoundMs. Returns 1 when the program is running, 0 when start-up failed (no window,
// an unsupported platform or a second start: then nothing is shown and no shutdown runs).
int StartInstance(HINSTANCE instance);

// The message loop with the main accelerator table; returns 0, the exit code in every case.
int RunMessageLoop(HINSTANCE instance);
