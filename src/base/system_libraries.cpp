// Loading of the libraries outside the KnownDLLs from the system directory, and the few
// procedures the updater takes from them. Called from the UI thread (start-up, Language file),
// the Download thread and the Installer thread; loading and lookups are thread-safe.
#include "base/system_libraries.h"

#include <strsafe.h>

// MinGW and older SDKs may lack these (Windows 8, or Windows 7 with KB2533623).
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
typedef HRESULT(WINAPI* UrlDownloadToFileFunction)(IUnknown*, LPCWSTR, LPCWSTR, DWORD, IBindStatusCallback*);
typedef BOOL(WINAPI* DeleteUrlCacheEntryFunction)(LPCWSTR);
typedef DWORD(WINAPI* ModuleNameFunction)(HANDLE, HMODULE, LPWSTR, DWORD);

// The system directory's path of `name`, for a load by full path; false when it does not fit.
bool SystemPath(const wchar_t* name, wchar_t* path, size_t capacity) {
  UINT length = GetSystemDirectoryW(path, static_cast<UINT>(capacity));
  return length != 0 && length < capacity && SUCCEEDED(StringCchCatW(path, capacity, L"\\")) &&
         SUCCEEDED(StringCchCatW(path, capacity, name));
}

} // namespace

bool RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  SetDefaultDllDirectoriesFunction restrict =
      kernel ? ProcedureAs<SetDefaultDllDirectoriesFunction>(GetProcAddress(kernel, "SetDefaultDllDirectories"))
             : nullptr;
  // Without it: the current folder leaves the search at least (the executable's folder cannot).
  SetDllDirectoryW(L"");
  return restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A system without the search flags: the full path names the system directory's copy, and the
  // library's own imports are searched from there.
  wchar_t path[MAX_PATH] = {};
  if (!SystemPath(name, path, ARRAYSIZE(path))) return nullptr;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC SystemProcedure(const wchar_t* library, const char* procedure) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? GetProcAddress(module, procedure) : nullptr;
}

HRESULT SystemUrlDownloadToFile(IUnknown* caller, const wchar_t* url, const wchar_t* file, DWORD reserved,
                                IBindStatusCallback* callback) {
  UrlDownloadToFileFunction download =
      ProcedureAs<UrlDownloadToFileFunction>(SystemProcedure(L"urlmon.dll", "URLDownloadToFileW"));
  return download ? download(caller, url, file, reserved, callback) : E_NOTIMPL;
}

BOOL SystemDeleteUrlCacheEntry(const wchar_t* url) {
  DeleteUrlCacheEntryFunction remove =
      ProcedureAs<DeleteUrlCacheEntryFunction>(SystemProcedure(L"wininet.dll", "DeleteUrlCacheEntryW"));
  return remove ? remove(url) : FALSE;
}

// The two psapi procedures, resolved here rather than imported (psapi.dll is not a KnownDLL):
// from kernel32 (K32 forms, Windows 7 on), else from psapi.dll in the system directory (Vista).
static DWORD ModuleName(const char* kernelName, const char* psapiName, HMODULE module, wchar_t* name,
                        DWORD capacity) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  ModuleNameFunction function =
      kernel ? ProcedureAs<ModuleNameFunction>(GetProcAddress(kernel, kernelName)) : nullptr;
  if (!function) function = ProcedureAs<ModuleNameFunction>(SystemProcedure(L"psapi.dll", psapiName));
  if (!function) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return function(GetCurrentProcess(), module, name, capacity);
}

DWORD ModuleFullPath(HMODULE module, wchar_t* path, DWORD capacity) {
  return ModuleName("K32GetModuleFileNameExW", "GetModuleFileNameExW", module, path, capacity);
}

DWORD ModuleBaseName(HMODULE module, wchar_t* name, DWORD capacity) {
  return ModuleName("K32GetModuleBaseNameW", "GetModuleBaseNameW", module, name, capacity);
}
