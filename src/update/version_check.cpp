// IsNewerPackageAvailable: the Info file's Version for this platform against `installed_version`
// under the Autolaunch key. User-interface thread, after the Info file download has completed.
#include "update/version_check.h"

#include <windows.h>
#include <strsafe.h>

#include "info/update_files.h"
#include "system/install_marker.h"

namespace {

// The registry value is read into 128 bytes; one more character keeps the text terminated even
// when all 128 bytes are text.
const DWORD kInstalledVersionBytes = 128;
const int kInstalledVersionChars = kInstalledVersionBytes / sizeof(wchar_t) + 1;

// Reads the installed version text; empty when the value is missing, too long or unreadable.
void ReadInstalledVersion(HKEY key, wchar_t installed[kInstalledVersionChars]) {
  ZeroMemory(installed, kInstalledVersionChars * sizeof(wchar_t));
  DWORD type = REG_SZ;
  DWORD size = kInstalledVersionBytes;
  LSTATUS status = RegQueryValueExW(key, L"installed_version", nullptr, &type,
                                    reinterpret_cast<BYTE*>(installed), &size);
  // After a failed read the buffer's content is undefined.
  if (status != ERROR_SUCCESS) ZeroMemory(installed, kInstalledVersionChars * sizeof(wchar_t));
}

} // namespace

bool IsNewerPackageAvailable(wchar_t remoteVersion[kVersionChars]) {
  // The Version read when the Info file was judged (g_platformValues), never the file again.
  bool usable = g_platformValues.versionUsable;
  unsigned remote = usable ? g_platformValues.versionNumber : 0;
  ZeroMemory(remoteVersion, kVersionChars * sizeof(wchar_t));
  if (usable) StringCchCopyW(remoteVersion, kVersionChars, g_platformValues.version);

  // Creates the key when it is missing and we may; a 64-bit process reads the native view.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    // Without the key nothing is known about the installation: any usable offer is newer.
    return usable;
  }
  wchar_t installedText[kInstalledVersionChars];
  ReadInstalledVersion(key, installedText);
  unsigned installed = ParseVersionNumber(installedText);
  OutputDebugStringW(installedText);
  OutputDebugStringW(L"\n");
  RegCloseKey(key);

  // An unusable Version (say a server's error page stored as the Info file) never offers anything.
  return usable && remote > installed;
}
