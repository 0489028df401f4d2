// The Info file's Version, InstConfig and Sha256 as the updater reads them: one place for the
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
}

bool ReadInfoSha256(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kSha256TextChars + 2]) {
  // A default no value can take: GetPrivateProfileStringW gives no other sign of a missing key.
  static const wchar_t kAbsent[] = L"\x01";
  GetPrivateProfileStringW(section, L"Sha256", kAbsent, text, kSha256TextChars + 2, infoPath);
  return lstrcmpW(text, kAbsent) != 0;
}
