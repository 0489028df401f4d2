// The control for the planting test: loads urlmon, version and wininet by name as a program
// without the updater's restriction would, so that the test sees a planted DLL really load.
#include <windows.h>

int wmain() {
  const wchar_t* const names[] = {L"urlmon.dll", L"version.dll", L"wininet.dll"};
  for (const wchar_t* name : names) LoadLibraryW(name);
  return 0;
}
