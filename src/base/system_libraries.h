// The libraries that are not among Windows' KnownDLLs (urlmon, wininet, psapi, bcrypt), loaded
// from the system directory only and only after the DLL search has been restricted, so that a DLL
// planted beside the executable (a Downloads folder) is never loaded in their place. Any thread.
#pragma once
#include <windows.h>
#include <urlmon.h>

// Restricts the DLL search of this process to the system directory (and what is loaded by full
// path). The first thing wWinMain does. SetDefaultDllDirectories is looked up at run time: Vista
// and Windows 7 without KB2533623 lack it, and then at least the current folder is taken out of
// the search. Returns true when the restriction is in force.
bool RestrictDllSearch();

// `name` (e.g. L"urlmon.dll") from the system directory; null when it cannot be loaded there.
// The module stays loaded for the life of the process.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The procedure `procedure` of system library `library`, or null.
FARPROC SystemProcedure(const wchar_t* library, const char* procedure);

// A procedure address as its real type; the detour through void (*)() tells the compiler the
// cast between function types is meant.
template <typename Function>
Function ProcedureAs(FARPROC procedure) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(procedure));
}

// URLDownloadToFileW and DeleteUrlCacheEntryW through the libraries loaded from the system
// directory. Without the library or the procedure the download fails (E_NOTIMPL) and the cache
// entry stays.
HRESULT SystemUrlDownloadToFile(IUnknown* caller, const wchar_t* url, const wchar_t* file, DWORD reserved,
                                IBindStatusCallback* callback);
BOOL SystemDeleteUrlCacheEntry(const wchar_t* url);

// GetModuleFileNameExW and GetModuleBaseNameW for `module` (null: the executable) of this
// process, taken from kernel32 or the system directory's psapi.dll. Same results as those: the
// characters written, 0 on failure (last error ERROR_PROC_NOT_FOUND when neither has them).
DWORD ModuleFullPath(HMODULE module, wchar_t* path, DWORD capacity);
DWORD ModuleBaseName(HMODULE module, wchar_t* name, DWORD capacity);
