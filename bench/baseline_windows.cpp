// Control for start-up: the windows the updater makes before its dialog shows, and nothing else.
// Its main window (class icons, cursor, menu) stays hidden, then its own dialog template is shown
// with none of the updater's start-up work. The resources are read from the updater's executable,
// so the template is the one it ships. One thread.
//   bench_windows UPDATER_EXE
#include <windows.h>

#include "res/resource.h"

static INT_PTR CALLBACK ShownDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  wchar_t path[MAX_PATH] = {};
  lstrcpynW(path, commandLine[0] == L'"' ? commandLine + 1 : commandLine, MAX_PATH);
  int length = lstrlenW(path);
  if (length > 0 && path[length - 1] == L'"') path[length - 1] = L'\0';
  HMODULE updater = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!updater) return 1;

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(updater, MAKEINTRESOURCEW(IDI_PLINTHWARE));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = L"BenchMainWindow";
  windowClass.hIconSm = LoadIconW(updater, MAKEINTRESOURCEW(IDI_PLINTHWARE));
  RegisterClassExW(&windowClass);
  HWND main = CreateWindowExW(0, L"BenchMainWindow", L"Bench", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                              nullptr, LoadMenuW(updater, MAKEINTRESOURCEW(IDM_MAIN)), instance, nullptr);
  HWND dialog = CreateDialogParamW(updater, MAKEINTRESOURCEW(IDD_UPDATER), main, ShownDialogProc, 0);
  if (!dialog) return 1;
  ShowWindow(dialog, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
