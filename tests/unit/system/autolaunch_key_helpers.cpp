// Test helpers for the Autolaunch key; see autolaunch_key_helpers.h.
#include "autolaunch_key_helpers.h"

#include <sddl.h>

namespace autolaunch_key {

namespace {

const wchar_t kOrvane[] = L"SOFTWARE\\Orvane";
const wchar_t kKey[] = L"SOFTWARE\\Orvane\\autolaunch";

bool SetDacl(const wchar_t* subkey, const wchar_t* sddl) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  if (descriptor) LocalFree(descriptor);
  RegCloseKey(key);
  return ok;
}

} // namespace

void Remove() {
  SetDacl(kKey, L"D:(A;;KA;;;WD)");
  SetDacl(kOrvane, L"D:(A;;KA;;;WD)");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOrvane);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kOrvane);
}

bool Create() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool Exists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, READ_CONTROL, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool SetString(const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(const wchar_t* name, DWORD value) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_DWORD, &value, sizeof value) == ERROR_SUCCESS;
}

bool SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, type, data, bytes) == ERROR_SUCCESS;
}

bool Read(const wchar_t* name, DWORD* type, std::string* bytes) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, type, nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  bytes->assign(size, '\0');
  return RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, type, size ? &(*bytes)[0] : nullptr,
                      &size) == ERROR_SUCCESS;
}

bool Deny(DWORD access) {
  wchar_t sddl[64];
  wsprintfW(sddl, L"D:(D;;0x%x;;;WD)(A;;KA;;;WD)", access);
  return SetDacl(kKey, sddl);
}

bool MakeUncreatable() {
  Remove();
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOrvane, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return !Exists();
}

} // namespace autolaunch_key
