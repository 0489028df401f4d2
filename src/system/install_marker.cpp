// WriteInstallMarker: records under the Autolaunch key that the user has answered the updater
// dialog. User-interface thread, from the dialog's ending buttons.
#include "system/install_marker.h"

#include <windows.h>

#include "base/shell_state.h"

const wchar_t kAutolaunchKey[] = L"SOFTWARE\\Orvane\\autolaunch";

int WriteInstallMarker() {
  // First, before any registry access: a download still running aborts at its next report.
  InterlockedExchange(&g_cancelFlag, 1);

  // A 64-bit process: KEY_WRITE alone opens the native 64-bit view. Without the right to create
  // or open the key (no administrative rights), nothing is written and nothing is said.
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  const DWORD installed = 1;
  RegSetValueExW(key, L"installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed), sizeof installed);
  RegCloseKey(key);
  return 1;
}
