// The single-instance mutex, and bringing the running updater's dialog to the front.
//
// Both instances would share %TEMP%\vrel_info and %TEMP%\vrel_setup.exe. The temporary folder is
// the user's, and two sessions of one user (a console and a remote session) share it, so the
// mutex is per user rather than per session: in the Global\ namespace (seen from every session),
// named with the user's SID. Other users cannot open it (the token's default DACL), but one may
// take the name first; such a user has no hold over our files, so a name we cannot open leaves
// the updater running rather than lets another user stop it.
#include "app/single_instance.h"

#include <strsafe.h>

#include "app/startup.h"
#include "base/owners.h"

namespace {

const wchar_t kMutexPrefix[] = L"Global\\PlinthwareUpdater-";

// The mutex this process holds once it claimed it; never closed. UI thread only.
HANDLE g_instanceMutex = nullptr;

// The SID as text in the "S-R-I-S-S..." form (the authority always in decimal), built from the
// SID's documented layout rather than through the SDDL functions: no further import is needed.
bool AppendSidText(const SID* sid, wchar_t* name, size_t chars) {
  const BYTE* authority = sid->IdentifierAuthority.Value;
  ULONGLONG value = 0;
  for (int i = 0; i < 6; ++i) value = (value << 8) | authority[i];
  if (FAILED(StringCchPrintfW(name + lstrlenW(name), chars - lstrlenW(name), L"S-%u-%llu",
                              static_cast<unsigned>(sid->Revision), value)))
    return false;
  const DWORD* subAuthorities = sid->SubAuthority; // SubAuthorityCount of them
  for (BYTE i = 0; i < sid->SubAuthorityCount; ++i) {
    if (FAILED(StringCchPrintfW(name + lstrlenW(name), chars - lstrlenW(name), L"-%lu", subAuthorities[i])))
      return false;
  }
  return true;
}

// The running updater's visible window (its dialog, or a message box it shows), owned by its
// hidden main window, found by that window's class and title.
BOOL CALLBACK FindOwnedVisibleWindow(HWND window, LPARAM parameter) {
  HWND* found = reinterpret_cast<HWND*>(parameter);
  if (GetWindow(window, GW_OWNER) != found[0] || !IsWindowVisible(window)) return TRUE;
  found[1] = window;
  return FALSE; // the first in z order: the one on top
}

void BringRunningUpdaterToFront() {
  HWND found[2] = {FindWindowW(g_className, g_windowTitle), nullptr};
  if (!found[0]) return; // in another session, or not yet made
  EnumWindows(FindOwnedVisibleWindow, reinterpret_cast<LPARAM>(found));
  if (!found[1]) return; // Update mode still checking: nothing shows yet
  if (IsIconic(found[1])) ShowWindow(found[1], SW_RESTORE);
  SetForegroundWindow(found[1]);
}

} // namespace

bool SingleInstanceName(HANDLE token, wchar_t* name, size_t chars) {
  union { // aligned for TOKEN_USER, which the call checks
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } buffer = {};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size)) return false;
  const SID* sid = static_cast<const SID*>(buffer.user.User.Sid);
  return SUCCEEDED(StringCchCopyW(name, chars, kMutexPrefix)) && AppendSidText(sid, name, chars);
}

bool ClaimSingleInstance() {
  if (g_instanceMutex) return true; // claimed by an earlier start-up of this process
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  ScopedHandle tokenOwner(token);
  wchar_t name[256] = {};
  if (!SingleInstanceName(token, name, ARRAYSIZE(name))) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) {
    g_instanceMutex = mutex; // held until the process ends
    return true;
  }
  CloseHandle(mutex);
  BringRunningUpdaterToFront();
  OutputDebugStringW(L"another updater is running\n");
  return false;
}
