// InfoCheck's report writer: bounded formatting, then the console or UTF-8 on a redirected
// standard output. Single-threaded.
#include "output.h"

#include <stdarg.h>
#include <strsafe.h>

void Print(const Output& out, const wchar_t* format, ...) {
  wchar_t text[2048] = {};
  va_list arguments;
  va_start(arguments, format);
  // A cut text is still terminated; the report loses its tail rather than anything worse.
  StringCchVPrintfW(text, ARRAYSIZE(text), format, arguments);
  va_end(arguments);
  out.write(out.context, text);
}

static void WriteStandardOutput(void*, const wchar_t* text) {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD length = lstrlenW(text), written = 0, mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteConsoleW(handle, text, length, &written, nullptr);
    return;
  }
  char bytes[3 * 2048 + 1] = {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), bytes, sizeof bytes - 1, nullptr, nullptr);
  if (size > 0) WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr);
}

Output StandardOutput() {
  Output out = {WriteStandardOutput, nullptr};
  return out;
}
