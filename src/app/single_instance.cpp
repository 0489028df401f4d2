// The single-instance lock, and bringing the running updater's dialog to the front.
//
// Both instances would share %TEMP%\vrel_info and %TEMP%\vrel_setup.exe, so the claim is a file
// in that very folder, opened without write or delete sharing and deleted when it is closed. The
// folder is the user's own: other users can neither create nor open anything in it, and a process
// of lower integrity cannot create files there, so no one else can take the claim first. A named
// object cannot give that: anyone may create a name in Global\ first, with a DACL that lets us
// open it and take it for ours. Sessions of one user that share the folder share the claim; a
// session with a temporary folder of its own shares no files either.
//
// The holder writes its process ID and creation time into the lock, which others may read. A
// second start brings forward only a window of that very process, never another program's window
// with our class and title; a lock that cannot be read, or that names no such running process
// (a leftover held open by another program), is not an updater's, and the updater runs without it.
#include "app/single_instance.h"

#include <strsafe.h>

#include "app/startup.h"
#include "base/owners.h"

namespace {

const wchar_t kLockName[] = L"PlinthwareUpdater.lock";

// What the holder writes into the lock: the creation time tells it from a later process that got
// the same ID.
struct LockRecord {
  DWORD processId;
  FILETIME created;
};

// The lock this process holds once it claimed it; never closed. UI thread only.
HANDLE g_instanceLock = nullptr;

enum Holder { kNotAnUpdater, kUpdaterStarting, kUpdaterRunning };

bool CreationTime(HANDLE process, FILETIME* created) {
  FILETIME exited, kernel, user;
  return GetProcessTimes(process, created, &exited, &kernel, &user) != FALSE;
}

void WriteRecord(HANDLE lock) {
  LockRecord record = {GetCurrentProcessId(), {}};
  DWORD written = 0;
  // Without a record a second start still ends; it only cannot bring this one forward.
  if (CreationTime(GetCurrentProcess(), &record.created)) WriteFile(lock, &record, sizeof record, &written, nullptr);
  SetEndOfFile(lock); // a leftover's longer content goes
}

// Who holds the lock at `path`, read through an open that shares everything (the holder lets
// others read); *processId is set for a running updater.
Holder ReadHolder(const wchar_t* path, DWORD* processId) {
  ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return kNotAnUpdater;
  LockRecord record = {};
  DWORD got = 0;
  if (!ReadFile(file.get(), &record, sizeof record, &got, nullptr)) return kNotAnUpdater;
  if (got < sizeof record) return kUpdaterStarting; // claimed, the record not yet written
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, record.processId));
  FILETIME created = {};
  if (!process.get() || !CreationTime(process.get(), &created) || CompareFileTime(&created, &record.created) != 0)
    return kNotAnUpdater;
  *processId = record.processId;
  return kUpdaterRunning;
}

struct WindowSearch {
  DWORD processId;
  HWND found;
};

// A visible window of the holder owned by its hidden main window: its dialog, or a message box.
BOOL CALLBACK FindHolderWindow(HWND window, LPARAM parameter) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HWND owner = GetWindow(window, GW_OWNER);
  if (processId != search->processId || !owner || !IsWindowVisible(window)) return TRUE;
  wchar_t ownerClass[100] = {};
  if (!GetClassNameW(owner, ownerClass, ARRAYSIZE(ownerClass)) || lstrcmpW(ownerClass, g_className) != 0) return TRUE;
  search->found = window;
  return FALSE; // the first in z order: the one on top
}

void BringHolderToFront(DWORD processId) {
  WindowSearch search = {processId, nullptr};
  EnumWindows(FindHolderWindow, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return; // Update mode still checking, or in another session: nothing shows here
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
}

} // namespace

bool ClaimSingleInstance() {
  if (g_instanceLock) return true; // claimed by an earlier start-up of this process
  wchar_t path[MAX_PATH + 64] = {};
  DWORD length = GetTempPathW(MAX_PATH + 1, path);
  if (length == 0 || length > MAX_PATH || FAILED(StringCchCatW(path, ARRAYSIZE(path), kLockName)))
    return true; // no temporary folder to share
  HANDLE lock = CreateFileW(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (lock != INVALID_HANDLE_VALUE) {
    g_instanceLock = lock; // held until the process ends
    WriteRecord(lock);
    return true;
  }
  // Any other failure (a folder that cannot be written, a lock still being deleted while a reader
  // keeps it open) means no one holds the claim from us.
  if (GetLastError() != ERROR_SHARING_VIOLATION) return true;
  DWORD holder = 0;
  Holder kind = ReadHolder(path, &holder);
  if (kind == kNotAnUpdater) {
    OutputDebugStringW(L"the updater lock is held by another program: running without it\n");
    return true;
  }
  if (kind == kUpdaterRunning) BringHolderToFront(holder);
  OutputDebugStringW(L"another updater is running\n");
  return false;
}
