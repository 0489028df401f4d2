// The updater dialog (template 129): its initialisation, link clicks and six buttons.
// User-interface thread; worker threads change its controls only through window calls.
#pragma once
#include <windows.h>

#include "base/dialog_controls.h" // how its controls are changed

extern HICON g_smallIcon; // the dialog's small icon; loaded at initialisation and on a DPI change
                          // (replacing the one before), destroyed at shutdown

// The screen just shown has `button` as its left button (Download Now, Install, Restart Now), or
// none (0): Enter presses it when the focus is not on a button, never a hidden one; it takes the
// focus now when the dialog is the active window, else when the dialog is next activated.
void SetScreenButton(HWND dialog, int button);

INT_PTR CALLBACK UpdaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
