// Baseline for start-up and footprint: creates one modeless dialog from its template, shows it and
// runs a message loop until it is closed. Nothing else. One thread.
#include <windows.h>

static INT_PTR CALLBACK BaselineDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    DestroyWindow(dialog);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(100), nullptr, BaselineDialogProc, 0);
  if (!dialog) return 1;
  ShowWindow(dialog, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return 0;
}
