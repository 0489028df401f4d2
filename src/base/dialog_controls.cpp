// Dialog-control helpers; see dialog_controls.h. Any thread.
#include "base/dialog_controls.h"

#include <commctrl.h>

void SetControlText(HWND dialog, int controlId, const wchar_t* text) {
  SendMessageW(GetDlgItem(dialog, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void ShowControl(HWND dialog, int controlId, int command) { ShowWindow(GetDlgItem(dialog, controlId), command); }

LRESULT SendControlMessage(HWND dialog, int controlId, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(GetDlgItem(dialog, controlId), message, wParam, lParam);
}

void SetProgressMarquee(HWND dialog, int controlId, bool on) {
  HWND bar = GetDlgItem(dialog, controlId);
  LONG style = GetWindowLongW(bar, GWL_STYLE);
  if (on) {
    // The marquee only runs once the style has taken.
    if (SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE) != 0) SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
  } else {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongW(bar, GWL_STYLE, GetWindowLongW(bar, GWL_STYLE) & ~PBS_MARQUEE);
  }
}
