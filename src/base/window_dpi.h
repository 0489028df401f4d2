// The DPI a window is shown at and system metrics for that DPI. GetDpiForWindow and
// GetSystemMetricsForDpi exist from Windows 10 1607 on and are looked up at run time; before that
// the screen's DPI and the system's metrics stand in. UI thread.
#pragma once
#include <windows.h>

// The DPI of the monitor `window` is on (per-monitor awareness), else the screen's (96 and up).
UINT WindowDpi(HWND window);

// GetSystemMetrics(`index`) as it is at `dpi`.
int SystemMetricForDpi(int index, UINT dpi);
