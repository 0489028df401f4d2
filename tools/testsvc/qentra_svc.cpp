// qentraSvc.exe for tests: records that it ran and the exact command line it was given, then
// ends. One thread; no window, no console (the updater starts it as a detached process).
//
// The record goes to the file that QENTRASVC_RECORD names, else to "qentraSvc.log" beside this
// program: one line per run, the command line in UTF-8 between brackets, so that a leading or
// trailing blank stays visible. Afterwards the named event "qentraSvc.recorded" is set when a
// test has created it, so that the test can wait for the record instead of polling for it.
#include <windows.h>
#include <strsafe.h>

static void RecordPath(wchar_t* path, DWORD capacity) {
  DWORD length = GetEnvironmentVariableW(L"QENTRASVC_RECORD", path, capacity);
  if (length > 0 && length < capacity) return;
  length = GetModuleFileNameW(nullptr, path, capacity);
  if (length == 0 || length >= capacity) {
    path[0] = L'\0';
    return;
  }
  wchar_t* slash = wcsrchr(path, L'\\');
  if (slash) slash[1] = L'\0';
  StringCchCatW(path, capacity, L"qentraSvc.log");
}

static void AppendLine(const wchar_t* path, const wchar_t* commandLine) {
  // "[" + command line + "]\r\n" in UTF-8; a command line too long for the buffer is cut.
  wchar_t line[4096];
  StringCchPrintfW(line, ARRAYSIZE(line), L"[%s]\r\n", commandLine);
  char bytes[3 * ARRAYSIZE(line)];
  int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (size <= 1) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(size - 1), &written, nullptr);
  CloseHandle(file);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH * 4] = {};
  RecordPath(path, ARRAYSIZE(path));
  if (path[0]) AppendLine(path, GetCommandLineW());
  HANDLE recorded = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"qentraSvc.recorded");
  if (recorded) {
    SetEvent(recorded);
    CloseHandle(recorded);
  }
  return 0;
}
