// The highest Info-file serial this user has accepted, kept in the user's own registry hive so
// that a replayed older signed Info file is refused. Download thread (through InfoSerialStore).
#pragma once
#include <windows.h>

// "Software\Orvane\Plinthware Updater" under HKEY_CURRENT_USER. Constant.
extern const wchar_t kUpdaterUserKey[];
// "InfoSerial": REG_QWORD, the whole range of a serial (0 to 18446744073709551615).
extern const wchar_t kInfoSerialValue[];

// Reads the value into *serial: ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when the key or the value is
// missing (none accepted yet); ERROR_INVALID_DATA when it is not a REG_QWORD of 8 bytes; or the
// registry's error (*serial is then 0).
LONG ReadHighestInfoSerial(ULONGLONG* serial);

// Writes `serial` as the value, creating the key when needed: ERROR_SUCCESS or the registry's error.
LONG WriteHighestInfoSerial(ULONGLONG serial);
