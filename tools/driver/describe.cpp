// What the updater shows, written out for failure messages: every top-level window of the
// process with each control's ID, class, visibility and text, then its debugger output.
// Driver's thread.
#include "driver/driver.h"

#include <stdio.h>

namespace driver {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

static std::string DescribeWindow(HWND window, const char* indent, bool visible, HWND focus) {
  char head[160];
  snprintf(head, sizeof head, "%s[%s] id %d ", indent, visible ? "visible" : "hidden ", GetDlgCtrlID(window));
  return head + Utf8(ReadClassName(window)) + " \"" + Printable(Utf8(ReadWindowText(window))) + "\"" +
         (window == focus ? " (focus)" : "") + "\n";
}

std::string UpdaterProcess::Describe() {
  std::string out = "--- windows of process " + std::to_string(processId_) +
                    (HasExited() ? " (ended)" : " (running)") + "\n";
  HWND focus = FocusedWindow();
  for (HWND window : TopLevelWindows(processId_)) {
    out += DescribeWindow(window, "", IsWindowVisible(window) != FALSE, focus);
    // A control's own WS_VISIBLE, as ShowWindow left it, whatever its dialog shows.
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      out += DescribeWindow(child, "    ", (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0, focus);
  }
  out += "--- debugger output\n";
  for (const std::string& message : DebugMessages()) out += "  \"" + Printable(message) + "\"\n";
  return out;
}

} // namespace driver
