// RestartWindows: enables SeShutdownPrivilege in the process token and asks Windows for a planned
// restart. User-interface thread, from the Restart Now button.
#include "update/restart.h"

#include "base/owners.h"

ExitWindowsFunction g_exitWindows = ExitWindowsEx;

int RestartWindows() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) return 0;
  ScopedHandle token(rawToken);

  TOKEN_PRIVILEGES privileges = {};
  LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  // AdjustTokenPrivileges succeeds also when the token lacks the privilege; only the last error
  // (ERROR_NOT_ALL_ASSIGNED) tells.
  if (GetLastError() != ERROR_SUCCESS) return 0;

  const UINT flags = EWX_REBOOT | EWX_FORCEIFHUNG;
  const DWORD reason = SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION;
  return g_exitWindows(flags, reason) ? 1 : 0;
}
