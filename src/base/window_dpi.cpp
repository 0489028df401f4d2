// Window DPI and metrics for a DPI; see window_dpi.h. user32 is imported and so always loaded:
// its procedures are taken from the loaded module, nothing is searched for.
#include "base/window_dpi.h"

#include "base/system_libraries.h"

namespace {

typedef UINT(WINAPI* GetDpiForWindowFunction)(HWND);
typedef int(WINAPI* GetSystemMetricsForDpiFunction)(int, UINT);

FARPROC User32Procedure(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? GetProcAddress(user32, name) : nullptr;
}

UINT ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

UINT WindowDpi(HWND window) {
  GetDpiForWindowFunction dpiForWindow = ProcedureAs<GetDpiForWindowFunction>(User32Procedure("GetDpiForWindow"));
  UINT dpi = dpiForWindow ? dpiForWindow(window) : 0;
  return dpi != 0 ? dpi : ScreenDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
  GetSystemMetricsForDpiFunction metricForDpi =
      ProcedureAs<GetSystemMetricsForDpiFunction>(User32Procedure("GetSystemMetricsForDpi"));
  if (metricForDpi) return metricForDpi(index, dpi);
  // The system's metrics are at the screen's DPI.
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(ScreenDpi()));
}
