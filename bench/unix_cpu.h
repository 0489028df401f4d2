// CPU time of a Wine process as Linux counts it, for all of its threads. Under Wine 8.0,
// GetProcessTimes on another process reports almost nothing (20 ms for a download that took
// 2 s of CPU by its own reading), so the benchmarks read /proc/<pid>/stat through drive Z:
// instead, for the updater and the baseline alike. Header-only; any thread.
#pragma once
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

// Linux counts process times in clock ticks of 10 ms (USER_HZ 100 on every Linux port).
const double kMsPerClockTick = 10.0;

// utime + stime of /proc/<which>/stat in milliseconds (a Unix process ID); -1 if unreadable. Not
// "self": Wine's server opens files for its clients, so /proc/self would be wineserver's.
inline double UnixCpuMs(const wchar_t* which) {
  wchar_t path[64];
  _snwprintf(path, ARRAYSIZE(path) - 1, L"Z:\\proc\\%ls\\stat", which);
  path[ARRAYSIZE(path) - 1] = L'\0';
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  char text[1024] = {};
  DWORD length = 0;
  BOOL read = ReadFile(file, text, sizeof text - 1, &length, nullptr);
  CloseHandle(file);
  if (!read) return -1;
  text[length] = '\0';
  // Fields after the command name, which is in brackets and may hold blanks: state is field 3,
  // utime field 14 and stime field 15.
  const char* field = strrchr(text, ')');
  if (!field) return -1;
  unsigned long long values[15] = {};
  int number = 2;
  for (const char* p = field + 1; *p && number < 15;) {
    while (*p == ' ') ++p;
    ++number;
    char* end = nullptr;
    values[number - 1] = strtoull(p, &end, 10);
    if (end == p) {  // the state letter
      while (*p && *p != ' ') ++p;
    } else {
      p = end;
    }
  }
  if (number < 15) return -1;
  return static_cast<double>(values[13] + values[14]) * kMsPerClockTick;
}

// The Unix process ID of the Wine process whose program is `exeName`, or 0. Of several (one that
// was just ended may linger a moment), the newest, which has the highest ID until the IDs wrap.
inline DWORD FindUnixProcess(const char* exeName) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  DWORD found = 0;
  do {
    if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9') continue;
    wchar_t path[64];
    _snwprintf(path, ARRAYSIZE(path) - 1, L"Z:\\proc\\%ls\\cmdline", entry.cFileName);
    path[ARRAYSIZE(path) - 1] = L'\0';
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    char text[1024] = {};
    DWORD length = 0;
    ReadFile(file, text, sizeof text - 1, &length, nullptr);
    CloseHandle(file);
    // The arguments are separated by NULs, so this looks at the program, the first, only.
    DWORD pid = static_cast<DWORD>(wcstoul(entry.cFileName, nullptr, 10));
    if (strstr(text, exeName) && pid > found) found = pid;
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}
