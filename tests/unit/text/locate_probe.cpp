// A stand-in executable for the locate step: run from a folder and under a name chosen by a test,
// it locates and loads its Language file as start-up does and writes what it found, as UTF-16
// lines, to the file named by its first argument: the language identifier, the Language file
// path, the entry count, then the 16 texts.
#include <windows.h>
#include <shellapi.h>
#include <strsafe.h>

#include "text/language_file.h"
#include "text/text_table.h"

static void WriteLine(HANDLE file, const wchar_t* text) {
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(wcslen(text) * sizeof(wchar_t)), &written, nullptr);
  WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
}

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 2) return 2;
  HANDLE file = CreateFileW(arguments[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;

  LocateLanguageFile();
  g_overrideTable = BuildOverrideTable();

  wchar_t number[16] = {};
  StringCchPrintfW(number, ARRAYSIZE(number), L"%04x", static_cast<unsigned>(GetUserDefaultLangID()));
  WriteLine(file, number);
  WriteLine(file, g_languageFilePath);
  StringCchPrintfW(number, ARRAYSIZE(number), L"%d", g_overrideTable ? g_overrideTable->count : -1);
  WriteLine(file, number);
  for (int index = 0; index < kTextCount; ++index) WriteLine(file, LookupText(index));

  CloseHandle(file);
  ReleaseOverrideTable();
  LocalFree(arguments);
  return 0;
}
