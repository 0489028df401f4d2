// A DLL an attacker would plant beside the updater: when loaded it leaves "<its name>.loaded" in
// the folder PLINTHWARE_PLANT_MARKERS names, then refuses to load. Built once, copied as
// urlmon.dll, version.dll and wininet.dll.
// It has no C runtime and imports only kernel32: Wine loads a planted version.dll while it
// resolves the imports of its own system DLLs, and a MinGW C runtime starting up there deadlocked
// the loader.
#include <windows.h>

extern "C" BOOL WINAPI PlantedDllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[2 * MAX_PATH] = {};
  wchar_t module[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_PLANT_MARKERS", marker, MAX_PATH);
  DWORD moduleLength = GetModuleFileNameW(instance, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || moduleLength == 0 || moduleLength >= MAX_PATH) return FALSE;
  const wchar_t* name = module;
  for (const wchar_t* c = module; *c != L'\0'; ++c) {
    if (*c == L'\\') name = c + 1;
  }
  // Folder and name are each shorter than MAX_PATH, so the marker's path fits its 2 * MAX_PATH.
  lstrcatW(marker, L"\\");
  lstrcatW(marker, name);
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return FALSE;
}
