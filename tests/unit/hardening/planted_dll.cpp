// A DLL an attacker would plant beside the updater: when loaded it leaves "<its name>.loaded" in
// the folder PLINTHWARE_PLANT_MARKERS names, then refuses to load. Built once, copied as
// urlmon.dll, version.dll and wininet.dll.
#include <windows.h>
#include <strsafe.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t folder[MAX_PATH] = {}, module[MAX_PATH] = {}, marker[2 * MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_PLANT_MARKERS", folder, ARRAYSIZE(folder));
  GetModuleFileNameW(instance, module, ARRAYSIZE(module));
  const wchar_t* name = wcsrchr(module, L'\\');
  if (length && length < ARRAYSIZE(folder) &&
      SUCCEEDED(StringCchPrintfW(marker, ARRAYSIZE(marker), L"%s\\%s.loaded", folder, name ? name + 1 : module))) {
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  return FALSE;
}
