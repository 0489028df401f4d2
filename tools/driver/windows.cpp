// Finding the updater's windows and reading and pressing their controls from another process.
// Runs on the driver's thread; every call into the child's windows has a time limit.
#include "driver/driver.h"

namespace driver {

namespace {

const UINT kAnswerTimeoutMs = 1000;

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId) search->windows.push_back(window);
  return TRUE;
}

bool IsDialogWindow(HWND window) { return ReadClassName(window) == L"#32770"; }

} // namespace

std::wstring ReadClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, ARRAYSIZE(name));
  return name;
}

std::wstring ReadWindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!window || !SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length))
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                           kAnswerTimeoutMs, &copied))
    return std::wstring();
  text.resize(copied < text.size() ? static_cast<size_t>(copied) : text.size() - 1);
  return text;
}

ControlState ReadControl(HWND dialog, int controlId) {
  ControlState state;
  HWND control = dialog ? GetDlgItem(dialog, controlId) : nullptr;
  if (!control) return state;
  state.exists = true;
  state.visible = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
  state.text = ReadWindowText(control);
  return state;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

bool PressButton(HWND dialog, int controlId) {
  HWND button = dialog ? GetDlgItem(dialog, controlId) : nullptr;
  return button && PostMessageW(button, BM_CLICK, 0, 0);
}

HWND UpdaterProcess::UpdaterDialog() const {
  for (HWND window : TopLevelWindows(processId_))
    if (IsDialogWindow(window) && GetDlgItem(window, kStatusLink) && GetDlgItem(window, kOfferLink)) return window;
  return nullptr;
}

HWND UpdaterProcess::MainWindow() const {
  for (HWND window : TopLevelWindows(processId_))
    if (ReadClassName(window) == L"VELTRANA") return window;
  return nullptr;
}

HWND UpdaterProcess::AboutBox() const {
  for (HWND window : TopLevelWindows(processId_)) {
    if (!IsDialogWindow(window)) continue;
    wchar_t title[64] = {};
    GetWindowTextW(window, title, ARRAYSIZE(title));
    if (wcscmp(title, L"About veltrana") == 0) return window;
  }
  return nullptr;
}

HWND UpdaterProcess::VisibleMessageBox() const {
  HWND dialog = UpdaterDialog();
  HWND about = AboutBox();
  for (HWND window : TopLevelWindows(processId_))
    if (window != dialog && window != about && IsDialogWindow(window) && IsWindowVisible(window) &&
        GetDlgItem(window, kMessageBoxTextId))
      return window;
  return nullptr;
}

MessageBoxState UpdaterProcess::ReadMessageBox(HWND box) const {
  MessageBoxState state;
  if (!box) return state;
  state.window = box;
  state.caption = ReadWindowText(box);
  state.text = ReadControl(box, kMessageBoxTextId).text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (!(style & WS_VISIBLE)) continue;
    std::wstring windowClass = ReadClassName(child);
    // An icon static may stay visible with no icon in it; what counts is the icon it holds.
    DWORD_PTR icon = 0;
    if (_wcsicmp(windowClass.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &icon) && icon)
      state.hasIcon = true;
    if (_wcsicmp(windowClass.c_str(), L"Button") == 0) state.buttons.push_back(GetDlgCtrlID(child));
  }
  return state;
}

bool UpdaterProcess::AnswerMessageBox(int button) {
  HWND box = VisibleMessageBox();
  return box && PressButton(box, button);
}

// The keyboard state of the thread that runs the updater dialog; false when there is no dialog.
static bool DialogThreadInfo(HWND dialog, GUITHREADINFO* info) {
  *info = {};
  info->cbSize = sizeof *info;
  return dialog && GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), info);
}

HWND UpdaterProcess::FocusedWindow() const {
  GUITHREADINFO info;
  return DialogThreadInfo(UpdaterDialog(), &info) ? info.hwndFocus : nullptr;
}

bool UpdaterProcess::PressKey(WORD virtualKey) {
  GUITHREADINFO info;
  if (!DialogThreadInfo(UpdaterDialog(), &info)) return false;
  HWND target = info.hwndFocus ? info.hwndFocus : info.hwndActive;
  // lParam: repeat count 1 and the scan code; a release also has the previous-state and
  // transition bits.
  LPARAM down = 1 | (static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16);
  return target && PostMessageW(target, WM_KEYDOWN, virtualKey, down) &&
         PostMessageW(target, WM_KEYUP, virtualKey, down | 0xC0000000);
}

bool UpdaterProcess::WaitForFocus(int controlId, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        HWND focus = FocusedWindow();
        return focus && focus == GetDlgItem(UpdaterDialog(), controlId);
      },
      timeoutMs);
}

bool UpdaterProcess::PostMainCommand(int command) {
  HWND main = MainWindow();
  return main && PostMessageW(main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

bool UpdaterProcess::CloseDialog(bool closeMessage) {
  HWND dialog = UpdaterDialog();
  if (!dialog) return false;
  return closeMessage ? PostMessageW(dialog, WM_CLOSE, 0, 0) : PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

} // namespace driver
