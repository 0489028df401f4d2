// See updater_harness.h.
#include "updater_harness.h"

#include "app/startup.h"
#include "app/workflow.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace {
MessageBoxWatcher* g_watcher = nullptr; // the one watcher of the test thread
}

MessageBoxWatcher::MessageBoxWatcher() {
  g_watcher = this;
  hook_ = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher() {
  UnhookWindowsHookEx(hook_);
  g_watcher = nullptr;
}

LRESULT CALLBACK MessageBoxWatcher::Hook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && g_watcher) {
    HWND window = reinterpret_cast<HWND>(wParam);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (wcscmp(className, L"#32770") == 0 && window != g_dialog && GetDlgItem(window, 0xFFFF)) {
      ShownMessageBox box;
      wchar_t text[2048] = {};
      GetWindowTextW(window, text, 2048);
      box.caption = text;
      GetDlgItemTextW(window, 0xFFFF, text, 2048);
      box.text = text;
      box.owner = GetWindow(window, GW_OWNER);
      box.dialogVisible = IsWindowVisible(g_dialog) != FALSE;
      g_watcher->boxes_.push_back(box);
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

int StartTestUpdater(int updateMode) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  g_updateMode = updateMode;
  g_cancelFlag = 0;
  g_workflowStage = kStageIdle;
  LoadStringW(instance, IDS_APP_TITLE, g_windowTitle, ARRAYSIZE(g_windowTitle));
  LoadStringW(instance, IDS_MAIN_CLASS, g_className, ARRAYSIZE(g_className));
  RegisterMainClass(instance); // fails harmlessly after the first test: the class stays registered
  return StartInstance(instance);
}

bool UpdaterEnded() { return !IsWindow(g_mainWindow); }

void StopTestUpdater() {
  if (!UpdaterEnded()) SendMessageW(g_mainWindow, WM_COMMAND, IDM_EXIT, 0);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) DispatchMessageW(&msg);
  }
}

std::wstring ControlText(int controlId) {
  wchar_t text[2048] = {};
  GetWindowTextW(GetDlgItem(g_dialog, controlId), text, 2048);
  return text;
}

bool ControlVisible(int controlId) {
  return (GetWindowLongW(GetDlgItem(g_dialog, controlId), GWL_STYLE) & WS_VISIBLE) != 0;
}
