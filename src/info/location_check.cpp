// The Location rule: only absolute http:// and https:// addresses that fit the URL buffer are
// fetched. Shared by Begin installer download (UI thread) and InfoCheck.
#include "info/location_check.h"

#include <wchar.h>

bool IsAllowedLocation(const wchar_t* location) {
  // Anything else (file:, ftp:, res:, mk:, UNC and relative paths) would let the Info file point
  // the platform's URL handlers at local or odd resources.
  if (!location) return false;
  size_t skip = 0;
  if (_wcsnicmp(location, L"http://", 7) == 0) {
    skip = 7;
  } else if (_wcsnicmp(location, L"https://", 8) == 0) {
    skip = 8;
  } else {
    return false;
  }
  wchar_t first = location[skip];
  return first != L'\0' && first != L'/' && first != L'\\' && first != L'?' && first != L'#';
}

const wchar_t* ReadLocation(const wchar_t* section, const wchar_t* infoPath, wchar_t location[kLocationChars]) {
  ZeroMemory(location, kLocationChars * sizeof(wchar_t));
  // One character more than the URL buffer holds tells a value that fits from one that was cut.
  wchar_t value[kLocationChars + 1] = {};
  DWORD length = GetPrivateProfileStringW(section, L"Location", L"", value, ARRAYSIZE(value), infoPath);
  if (length >= static_cast<DWORD>(kLocationChars)) return L"download refused: Location of 1024 characters or more\n";
  if (length == 0) return L"download refused: no Location\n";
  if (!IsAllowedLocation(value)) return L"download refused: Location is not an http:// or https:// address\n";
  CopyMemory(location, value, (length + 1) * sizeof(wchar_t));
  return nullptr;
}
