// The InfoSerial value under HKCU\Software\Orvane\Plinthware Updater: read before an Info file's
// Serial is judged, written once a file with a higher one was accepted. Download thread.
#include "system/info_serial.h"

const wchar_t kUpdaterUserKey[] = L"Software\\Orvane\\Plinthware Updater";
const wchar_t kInfoSerialValue[] = L"InfoSerial";

LONG ReadHighestInfoSerial(ULONGLONG* serial) {
  *serial = 0;
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, kUpdaterUserKey, 0, KEY_QUERY_VALUE, &key);
  if (result != ERROR_SUCCESS) return result;
  DWORD type = REG_NONE;
  ULONGLONG value = 0;
  DWORD size = sizeof value;
  result = RegQueryValueExW(key, kInfoSerialValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  // Anything else (a text, a DWORD, a longer value) is no serial of ours: not read as one.
  if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && (type != REG_QWORD || size != sizeof value))) {
    return ERROR_INVALID_DATA;
  }
  if (result == ERROR_SUCCESS) *serial = value;
  return result;
}

LONG WriteHighestInfoSerial(ULONGLONG serial) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kUpdaterUserKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExW(key, kInfoSerialValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&serial), sizeof serial);
  RegCloseKey(key);
  return result;
}
