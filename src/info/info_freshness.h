// Expires and Serial of a signed Info file: the time after which it is refused, and a number the
// maker raises with every signing, of which the highest a user has accepted is kept. Parsed and
// judged here; the keeping is the caller's store. Any thread: the Download thread, InfoCheck.
#pragma once
#include <windows.h>

// "info": both keys speak of the whole file, not of one platform, so they stand in a section of
// their own rather than once per platform section; no updater reads any section but its
// platform's, so builds without a key (and older updaters) never see them. The signature covers
// every byte before its line, this section included.
extern const wchar_t kInfoFreshnessSection[];

const int kInfoTimeChars = 21;   // YYYY-MM-DDTHH:MM:SSZ and the terminator
const int kInfoSerialChars = 21; // 20 digits (18446744073709551615) and the terminator

// Parses exactly YYYY-MM-DDTHH:MM:SSZ, a UTC time of a real day in the years 1601 to 9999 with
// seconds 0 to 59, into FILETIME units (100 ns since 1601). False for anything else.
bool ParseInfoTime(const wchar_t* text, ULONGLONG* time);
// The same form for FILETIME units; false (and an empty text) outside those years.
bool FormatInfoTime(ULONGLONG time, wchar_t text[kInfoTimeChars]);
// Plain decimal digits, 1 to 20 of them, from 0 to 18446744073709551615 (REG_QWORD's range);
// anything else (a sign, blanks inside, a larger number) is false, never part of a number.
bool ParseInfoSerial(const wchar_t* text, ULONGLONG* serial);

// The [info] section's keys as read, each absent, usable or not.
struct InfoFreshness {
  bool hasExpires;
  bool expiresValid;
  ULONGLONG expires;                       // FILETIME units, when valid
  wchar_t expiresText[kInfoTimeChars + 1]; // as read; a longer value is cut here (shown only)
  bool hasSerial;
  bool serialValid;
  ULONGLONG serial;                        // when valid
  wchar_t serialText[kInfoSerialChars + 1];
};

// Reads Expires and Serial from the [info] section of the Info file at `infoPath`.
void ReadInfoFreshness(const wchar_t* infoPath, InfoFreshness* fresh);

// The judgement, without side effects: refused when Expires is malformed or `now` (FILETIME
// units) is past it (the same instant is not), when Serial is malformed, or when it is below
// *highest (the highest serial this user accepted; null: none yet). An equal serial is the same
// file fetched again. Returns true when accepted; otherwise `refusal` (`chars`) holds one
// debugger line, the times of an expired file both named.
bool JudgeInfoFreshness(const InfoFreshness& fresh, ULONGLONG now, const ULONGLONG* highest, wchar_t* refusal,
                        size_t chars);

// Where the highest accepted serial is kept (system/info_serial.h for the updater). Each returns
// ERROR_SUCCESS, or a Windows error; read gives ERROR_FILE_NOT_FOUND when none has been kept yet.
struct InfoSerialStore {
  LONG (*read)(ULONGLONG* serial);
  LONG (*write)(ULONGLONG serial);
};

// In a build with `publicKey` (null or empty: nothing is read, nothing kept), judges the Info file
// at `infoPath`, already judged and read under a hold the caller still keeps, against the clock
// and store.read; when it is accepted with a serial above the one kept, keeps that serial. A store
// that cannot be read or written is named in the debugger output and otherwise passed over.
// Returns null when accepted, else `line` (`chars`) holding the refusal.
const wchar_t* AcceptInfoFreshness(const wchar_t* infoPath, const wchar_t* publicKey, const InfoSerialStore& store,
                                   wchar_t* line, size_t chars);
