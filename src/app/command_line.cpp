// Reading the command line: only the first argument is looked at, for the "-update" switch.
#include "app/startup.h"

#include <shellapi.h>
#include <wchar.h>

int ReadCommandLine(const wchar_t* commandLine) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
  int updateMode = 0;
  if (argv && argc > 1) {
    // The switch is compared over eight characters, its terminator included; an argument that
    // does not fit the 64-character buffer cannot be it and is left alone.
    wchar_t argument[64] = {};
    size_t length = wcslen(argv[1]);
    if (length < ARRAYSIZE(argument)) {
      for (size_t i = 0; i < length; ++i) {
        wchar_t c = argv[1][i];
        argument[i] = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
      }
      updateMode = wmemcmp(argument, L"-update", 8) == 0;
    }
  }
  LocalFree(argv);
  return updateMode;
}
