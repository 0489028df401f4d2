// Expires and Serial: their forms, the reading of the [info] section, and the judgement against
// the clock and the highest serial kept. Any thread; see info_freshness.h.
#include "info/info_freshness.h"

#include <strsafe.h>

const wchar_t kInfoFreshnessSection[] = L"info";

namespace {

const ULONGLONG kTicksPerSecond = 10000000;
// Days from 1601-01-01, where FILETIME counts from, to 1970-01-01, where DaysFromCivil does.
const LONGLONG kDaysFrom1601To1970 = 134774;

// Reads `count` decimal digits at `text`; false at anything else.
bool Digits(const wchar_t* text, int count, int* value) {
  *value = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    *value = *value * 10 + (text[i] - L'0');
  }
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (the civil-from-days inverse).
LONGLONG DaysFromCivil(int year, int month, int day) {
  LONGLONG y = year - (month <= 2 ? 1 : 0);
  LONGLONG era = (y >= 0 ? y : y - 399) / 400;
  LONGLONG yearOfEra = y - era * 400;
  LONGLONG dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  LONGLONG dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A key of the [info] section into `text` (`chars`), one character beyond the longest usable
// value so that a longer one is seen. False when the key is absent.
bool ReadKey(const wchar_t* infoPath, const wchar_t* key, wchar_t* text, DWORD chars) {
  // A default no value can take: GetPrivateProfileStringW gives no other sign of a missing key.
  static const wchar_t kAbsent[] = L"\x01";
  GetPrivateProfileStringW(kInfoFreshnessSection, key, kAbsent, text, chars, infoPath);
  if (lstrcmpW(text, kAbsent) != 0) return true;
  text[0] = L'\0';
  return false;
}

} // namespace

bool ParseInfoTime(const wchar_t* text, ULONGLONG* time) {
  *time = 0;
  if (!text || lstrlenW(text) != kInfoTimeChars - 1) return false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 4, &year) || text[4] != L'-' || !Digits(text + 5, 2, &month) || text[7] != L'-' ||
      !Digits(text + 8, 2, &day) || text[10] != L'T' || !Digits(text + 11, 2, &hour) || text[13] != L':' ||
      !Digits(text + 14, 2, &minute) || text[16] != L':' || !Digits(text + 17, 2, &second) || text[19] != L'Z') {
    return false;
  }
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  LONGLONG days = DaysFromCivil(year, month, day) + kDaysFrom1601To1970;
  ULONGLONG seconds = static_cast<ULONGLONG>(days) * 86400 + static_cast<ULONGLONG>(hour * 3600 + minute * 60 + second);
  *time = seconds * kTicksPerSecond;
  return true;
}

bool FormatInfoTime(ULONGLONG time, wchar_t text[kInfoTimeChars]) {
  text[0] = L'\0';
  FILETIME file = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  SYSTEMTIME utc = {};
  if (!FileTimeToSystemTime(&file, &utc) || utc.wYear > 9999) return false;
  return SUCCEEDED(StringCchPrintfW(text, kInfoTimeChars, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth,
                                    utc.wDay, utc.wHour, utc.wMinute, utc.wSecond));
}

bool ParseInfoSerial(const wchar_t* text, ULONGLONG* serial) {
  *serial = 0;
  if (!text || text[0] == L'\0' || lstrlenW(text) > kInfoSerialChars - 1) return false;
  ULONGLONG value = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9') return false;
    ULONGLONG digit = static_cast<ULONGLONG>(*p - L'0');
    if (value > (~0ull - digit) / 10) return false; // beyond 64 bits
    value = value * 10 + digit;
  }
  *serial = value;
  return true;
}

void ReadInfoFreshness(const wchar_t* infoPath, InfoFreshness* fresh) {
  ZeroMemory(fresh, sizeof *fresh);
  fresh->hasExpires = ReadKey(infoPath, L"Expires", fresh->expiresText, ARRAYSIZE(fresh->expiresText));
  fresh->expiresValid = fresh->hasExpires && ParseInfoTime(fresh->expiresText, &fresh->expires);
  fresh->hasSerial = ReadKey(infoPath, L"Serial", fresh->serialText, ARRAYSIZE(fresh->serialText));
  fresh->serialValid = fresh->hasSerial && ParseInfoSerial(fresh->serialText, &fresh->serial);
}

bool JudgeInfoFreshness(const InfoFreshness& fresh, ULONGLONG now, const ULONGLONG* highest, wchar_t* refusal,
                        size_t chars) {
  refusal[0] = L'\0';
  if (fresh.hasExpires && !fresh.expiresValid) {
    StringCchCopyW(refusal, chars, L"Info file refused: Expires is not a UTC time YYYY-MM-DDTHH:MM:SSZ\n");
    return false;
  }
  if (fresh.hasExpires && now > fresh.expires) {
    wchar_t clock[kInfoTimeChars] = {};
    if (!FormatInfoTime(now, clock)) StringCchCopyW(clock, ARRAYSIZE(clock), L"beyond 9999");
    StringCchPrintfW(refusal, chars, L"Info file refused: expired at %s, the clock says %s\n", fresh.expiresText,
                     clock);
    return false;
  }
  if (fresh.hasSerial && !fresh.serialValid) {
    StringCchCopyW(refusal, chars,
                   L"Info file refused: Serial is not a decimal number from 0 to 18446744073709551615\n");
    return false;
  }
  if (fresh.hasSerial && highest && fresh.serial < *highest) {
    StringCchPrintfW(refusal, chars, L"Info file refused: Serial %llu is below %llu, the highest accepted (a replay)\n",
                     fresh.serial, *highest);
    return false;
  }
  return true;
}

const wchar_t* AcceptInfoFreshness(const wchar_t* infoPath, const wchar_t* publicKey, const InfoSerialStore& store,
                                   wchar_t* line, size_t chars) {
  // Only a signature makes these keys the maker's: without a key they are never read.
  if (!publicKey || !publicKey[0]) return nullptr;
  InfoFreshness fresh;
  ReadInfoFreshness(infoPath, &fresh);
  if (!fresh.hasExpires && !fresh.hasSerial) return nullptr;
  ULONGLONG kept = 0;
  LONG read = fresh.hasSerial ? store.read(&kept) : ERROR_FILE_NOT_FOUND;
  if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) {
    // Nothing on the network can make the store unreadable, only a program of this user, which
    // could as well delete it: refusing would lock out every update and protect nothing.
    wchar_t note[128] = {};
    StringCchPrintfW(note, ARRAYSIZE(note),
                     L"Info file serial: the highest accepted cannot be read (error %ld); taken as none\n", read);
    OutputDebugStringW(note);
  }
  FILETIME clock = {};
  GetSystemTimeAsFileTime(&clock);
  ULONGLONG now = (static_cast<ULONGLONG>(clock.dwHighDateTime) << 32) | clock.dwLowDateTime;
  if (!JudgeInfoFreshness(fresh, now, read == ERROR_SUCCESS ? &kept : nullptr, line, chars)) return line;
  if (fresh.hasSerial && (read != ERROR_SUCCESS || fresh.serial > kept)) {
    LONG written = store.write(fresh.serial);
    if (written != ERROR_SUCCESS) {
      // The file is the maker's and fresh: it stays accepted; the next one is judged against the
      // serial kept before.
      wchar_t note[128] = {};
      StringCchPrintfW(note, ARRAYSIZE(note), L"Info file serial: %llu cannot be kept (error %ld)\n", fresh.serial,
                       written);
      OutputDebugStringW(note);
    }
  }
  return nullptr;
}
