// The one way to change a control of a dialog: addressed by its ID through GetDlgItem at the
// moment of use, never through a stored handle. The UI thread calls these directly; the progress
// sink and the Installer thread call them too, and the window calls are then carried out on the
// UI thread (a cross-thread send waits for it).
#pragma once
#include <windows.h>

void SetControlText(HWND dialog, int controlId, const wchar_t* text);
void ShowControl(HWND dialog, int controlId, int command); // SW_SHOW or SW_HIDE

// Sends `message` to the control and returns its answer (progress-bar ranges and positions).
LRESULT SendControlMessage(HWND dialog, int controlId, UINT message, WPARAM wParam, LPARAM lParam);

// Switches a progress bar into marquee mode (moving on its own) or back to a bar of positions.
void SetProgressMarquee(HWND dialog, int controlId, bool on);
