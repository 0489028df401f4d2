// The updater dialog (template 129): its initialisation, link clicks and six buttons.
// User-interface thread; worker threads change its controls only through window calls.
#pragma once
#include <windows.h>

#include "base/dialog_controls.h" // how its controls are changed

extern HICON g_smallIcon; // the dialog's small icon; loaded at initialisation, destroyed at shutdown

INT_PTR CALLBACK UpdaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
