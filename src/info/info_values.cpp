// The Info file's Version, InstConfig, Sha256 and Size as the updater reads them: one place for the
// buffer limits and the rules, so that InfoCheck reports exactly what the updater does. Any thread.
#include "info/info_values.h"

#include <strsafe.h>

const wchar_t* const kInfoSections[kInfoSectionCount] = {L"platform_win8", L"platform_win7", L"platform_winvista",
                                                         L"platform_winxp"};

bool ReadInfoVersion(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kVersionChars], unsigned* value,
                     DWORD* length) {
  // One character beyond the caller's buffer, so that a Version of 64 characters or more is seen.
  wchar_t read[kVersionChars + 1] = {};
  *length = GetPrivateProfileStringW(section, L"Version", L"", read, ARRAYSIZE(read), infoPath);
  ZeroMemory(text, kVersionChars * sizeof(wchar_t));
  *value = 0;
  if (*length >= static_cast<DWORD>(kVersionChars)) return false;
  if (!ScanVersionNumber(read, value)) return false;
  StringCchCopyW(text, kVersionChars, read);
  return true;
}

bool ReadInfoInstConfig(const wchar_t* section, const wchar_t* infoPath, wchar_t commandLine[kInstConfigChars + 1],
                        DWORD* length) {
  *length = GetPrivateProfileStringW(section, L"InstConfig", L"", commandLine, kInstConfigChars + 1, infoPath);
  return *length < static_cast<DWORD>(kInstConfigChars);
}

bool InstConfigStartsWithSwitch(const wchar_t* commandLine) {
  if (!commandLine) return false;
  const wchar_t* p = commandLine;
  while (*p == L' ' || *p == L'\t') ++p;
  return *p == L'/' || *p == L'-';
}

void ReadPlatformValues(const wchar_t* section, const wchar_t* infoPath, PlatformValues* values) {
  ZeroMemory(values, sizeof *values);
  DWORD versionLength = 0;
  values->versionUsable = ReadInfoVersion(section, infoPath, values->version, &values->versionNumber, &versionLength);
  values->locationRefusal = ReadLocation(section, infoPath, values->location);
  values->instConfigFits = ReadInfoInstConfig(section, infoPath, values->instConfig, &values->instConfigLength);
  values->hasSha256 = ReadInfoSha256(section, infoPath, values->sha256);
  if (!values->hasSha256) values->sha256[0] = L'\0';
  wchar_t size[kSizeTextChars] = {};
  values->hasSize = ReadInfoSize(section, infoPath, size, &values->size);
}

bool ReadInfoSha256(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kSha256TextChars + 2]) {
  // A default no value can take: GetPrivateProfileStringW gives no other sign of a missing key.
  static const wchar_t kAbsent[] = L"\x01";
  GetPrivateProfileStringW(section, L"Sha256", kAbsent, text, kSha256TextChars + 2, infoPath);
  return lstrcmpW(text, kAbsent) != 0;
}

bool ReadInfoSize(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kSizeTextChars], ULONG* bytes) {
  static const wchar_t kAbsent[] = L"\x01"; // as for Sha256
  // One character beyond the buffer, so that a value that does not fit is seen.
  wchar_t read[kSizeTextChars + 1] = {};
  DWORD length = GetPrivateProfileStringW(section, L"Size", kAbsent, read, ARRAYSIZE(read), infoPath);
  StringCchCopyW(text, kSizeTextChars, read); // cut: only for showing
  *bytes = 0;
  if (lstrcmpW(read, kAbsent) == 0) {
    text[0] = L'\0';
    return false;
  }
  if (length == 0 || length >= static_cast<DWORD>(kSizeTextChars)) return true;
  ULONGLONG value = 0;
  for (const wchar_t* p = read; *p; ++p) {
    if (*p < L'0' || *p > L'9') return true;
    value = value * 10 + static_cast<ULONGLONG>(*p - L'0');
    if (value > 0xFFFFFFFFull) return true; // checked at every digit, so the 64 bits never overflow
  }
  *bytes = static_cast<ULONG>(value);
  return true;
}
