// Reading the registry values the updater writes, in the native 64-bit view. Driver's thread.
#include "driver/driver.h"

namespace driver {

RegistryValue ReadRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  RegistryValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return value;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
      value.exists = true;
      value.type = type;
      if (type == REG_DWORD && size == sizeof(DWORD)) value.dword = *reinterpret_cast<const DWORD*>(data.data());
      if (type == REG_SZ || type == REG_EXPAND_SZ) value.text = reinterpret_cast<const wchar_t*>(data.data());
    }
  }
  RegCloseKey(key);
  return value;
}

} // namespace driver
