// Debugger output of one locate step, as text_tests and text_locale_tests check it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace text_testing {

const char kLocateEndMarker[] = "--end of locate--";

// What this process wrote since `capture` began, up to a marker written now: the marker is
// awaited, so every message before it has arrived.
inline std::vector<std::string> OutputUntilMarker(const testing_support::DebugOutputCapture& capture, bool* arrived) {
  OutputDebugStringA(kLocateEndMarker);
  *arrived = capture.WaitFor(kLocateEndMarker, 10000);
  std::vector<std::string> messages = capture.messages();
  if (!messages.empty() && messages.back() == kLocateEndMarker) messages.pop_back();
  return messages;
}

// The messages a locate step writes for `folder`, followed by the paths it formats.
inline std::vector<std::string> LocateOutput(const std::wstring& folder, const std::vector<std::wstring>& paths) {
  std::vector<std::string> output = {"this execute file is in folder : ", testing_support::Narrow(folder), "\n"};
  for (const std::wstring& path : paths) output.push_back(testing_support::Narrow(path));
  return output;
}

inline std::string Show(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& m : messages) text += "\n  [" + m + "]";
  return text.empty() ? " (nothing)" : text;
}

} // namespace text_testing
