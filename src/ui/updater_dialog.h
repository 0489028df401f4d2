// The updater dialog (template 129): its initialisation, link clicks and six buttons.
// User-interface thread; worker threads change its controls only through window calls.
#pragma once
#include <windows.h>

extern HICON g_smallIcon; // the dialog's small icon; loaded at initialisation, destroyed at shutdown

INT_PTR CALLBACK UpdaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Control helpers that address a control of the updater dialog by ID at the moment of use.
void SetControlText(HWND dialog, int controlId, const wchar_t* text);
void ShowControl(HWND dialog, int controlId, int command); // SW_SHOW or SW_HIDE
