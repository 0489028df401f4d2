// A fresh process for what a test cannot redo inside its own: DetectPlatform under the Windows
// version that Wine reports to this program's file name, and RestartWindows once the shutdown
// privilege is gone from the token. Writes what it found to the file named by its second argument.
//   update_probe platform FILE              -> "<code> <section>"
//   update_probe restart-unprivileged FILE  -> "<result> <restart requests>"
#include <windows.h>

#include <string>

#include "info/platform.h"
#include "update/restart.h"

namespace {

LONG g_restartRequests = 0;

// Stands in for ExitWindowsEx: this probe must never restart anything.
BOOL WINAPI CountRestartRequest(UINT, DWORD) {
  ++g_restartRequests;
  return TRUE;
}

bool WriteText(const wchar_t* path, const std::string& text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

std::string Ascii(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

bool RemoveShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
  BOOL ok = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok != FALSE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring mode = argv[1];
  if (mode == L"platform") {
    int code = DetectPlatform();
    return WriteText(argv[2], std::to_string(code) + " " + Ascii(g_platformSection)) ? 0 : 1;
  }
  if (mode == L"restart-unprivileged") {
    g_exitWindows = CountRestartRequest;
    if (!RemoveShutdownPrivilege()) return 3;
    int result = RestartWindows();
    return WriteText(argv[2], std::to_string(result) + " " + std::to_string(g_restartRequests)) ? 0 : 1;
  }
  return 2;
}
