// The hidden main window: it owns the dialog and the message boxes, receives the Workflow
// message, carries the (never visible) menu, and its destruction is the program's one exit.
#include "app/main_window.h"

#include "app/about.h"
#include "app/shutdown.h"
#include "app/startup.h"
#include "app/workflow.h"
#include "res/resource.h"

static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
  case IDM_ABOUT:
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_ABOUT), window, AboutDialogProc, 0);
    return 0;
  case IDM_EXIT:
    DestroyWindow(window);
    return 0;
  }
  return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

static void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_WORKFLOW:
    OnWorkflowMessage(wParam, lParam);
    return 0;
  case WM_COMMAND:
    return OnCommand(window, wParam, lParam);
  case WM_PAINT:
    OnPaint(window);
    return 0;
  case WM_DESTROY:
    RunShutdownSequence();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
