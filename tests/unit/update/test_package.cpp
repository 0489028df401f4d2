// Stands in for the downloaded installer package. Records its command line and current folder
// (UTF-8, one per line) in the file that PLINTHWARE_PACKAGE_RECORD names; when
// PLINTHWARE_PACKAGE_HOLD names an event, sets "<name>-started" and waits for that event before
// appending "released"; then exits with the code in PLINTHWARE_PACKAGE_EXIT (decimal, default 0).
#include <windows.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? std::wstring(value, length) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

void Append(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring record = Variable(L"PLINTHWARE_PACKAGE_RECORD");
  wchar_t folder[1024] = {};
  GetCurrentDirectoryW(ARRAYSIZE(folder), folder);
  if (!record.empty()) Append(record, Utf8(GetCommandLineW()) + "\n" + Utf8(folder) + "\n");

  std::wstring hold = Variable(L"PLINTHWARE_PACKAGE_HOLD");
  if (!hold.empty()) {
    HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, (hold + L"-started").c_str());
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, hold.c_str());
    if (started) SetEvent(started);
    // Bounded, so that a failing test never leaves a package behind.
    if (release) WaitForSingleObject(release, 30000);
    if (!record.empty()) Append(record, "released\n");
    if (started) CloseHandle(started);
    if (release) CloseHandle(release);
  }
  std::wstring exitCode = Variable(L"PLINTHWARE_PACKAGE_EXIT");
  return exitCode.empty() ? 0 : _wtoi(exitCode.c_str());
}
