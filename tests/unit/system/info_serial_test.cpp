// The highest accepted Info-file serial on the real registry (HKCU\Software\Orvane\Plinthware
// Updater, InfoSerial): each state of the key and value the reader meets, and the writer, also
// where the key refuses it.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "system/info_serial.h"

namespace {

const wchar_t kOrvane[] = L"Software\\Orvane";

bool SetDacl(const wchar_t* sddl) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kUpdaterUserKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  if (descriptor) LocalFree(descriptor);
  RegCloseKey(key);
  return ok;
}

void RemoveKey() {
  SetDacl(L"D:(A;;KA;;;WD)");
  testing_support::DeleteRegistryTree(HKEY_CURRENT_USER, kOrvane);
}

bool SetValue(DWORD type, const void* data, DWORD bytes) {
  return RegSetKeyValueW(HKEY_CURRENT_USER, kUpdaterUserKey, kInfoSerialValue, type, data, bytes) == ERROR_SUCCESS;
}

class InfoSerial : public ::testing::Test {
protected:
  void SetUp() override { RemoveKey(); }
  void TearDown() override { RemoveKey(); }
};

enum State { kNoKey, kNoValue, kQword, kDword, kText, kLonger, kReadDenied };

TEST_F(InfoSerial, ReadsOnlyAQwordOfItsOwn) {
  const struct {
    const char* name;
    State state;
    LONG result;
    ULONGLONG serial;
  } rows[] = {
      {"no key", kNoKey, ERROR_FILE_NOT_FOUND, 0},
      {"no value", kNoValue, ERROR_FILE_NOT_FOUND, 0},
      {"a REG_QWORD", kQword, ERROR_SUCCESS, 18446744073709551615ull},
      {"a REG_DWORD", kDword, ERROR_INVALID_DATA, 0},
      {"a text", kText, ERROR_INVALID_DATA, 0},
      {"16 bytes", kLonger, ERROR_INVALID_DATA, 0},
      {"reading denied", kReadDenied, ERROR_ACCESS_DENIED, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RemoveKey();
    const ULONGLONG big = 18446744073709551615ull, pair[2] = {7, 7};
    const DWORD small = 7;
    bool arranged = row.state == kNoKey    ? true
                    : row.state == kQword  ? SetValue(REG_QWORD, &big, sizeof big)
                    : row.state == kDword  ? SetValue(REG_DWORD, &small, sizeof small)
                    : row.state == kText   ? SetValue(REG_SZ, L"7", 4)
                    : row.state == kLonger ? SetValue(REG_QWORD, pair, sizeof pair)
                                           : SetValue(REG_QWORD, &big, sizeof big);
    if (row.state == kNoValue) {
      arranged = SetValue(REG_QWORD, &big, sizeof big) &&
                 RegDeleteKeyValueW(HKEY_CURRENT_USER, kUpdaterUserKey, kInfoSerialValue) == ERROR_SUCCESS;
    }
    if (row.state == kReadDenied) arranged = arranged && SetDacl(L"D:(D;;0x1;;;WD)(A;;KA;;;WD)");
    ASSERT_TRUE(arranged);
    ULONGLONG serial = 1;
    EXPECT_EQ(row.result, ReadHighestInfoSerial(&serial));
    EXPECT_EQ(row.serial, serial);
  }
}

TEST_F(InfoSerial, WritesAQwordCreatingTheKey) {
  ASSERT_EQ(ERROR_SUCCESS, WriteHighestInfoSerial(5));
  ULONGLONG serial = 0;
  ASSERT_EQ(ERROR_SUCCESS, ReadHighestInfoSerial(&serial));
  EXPECT_EQ(5u, serial);
  DWORD type = REG_NONE, size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, kUpdaterUserKey, kInfoSerialValue, RRF_RT_ANY, &type,
                                        nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_QWORD), type);
  EXPECT_EQ(8u, size);
  // A value of another type is replaced by the next write.
  const DWORD small = 9;
  ASSERT_TRUE(SetValue(REG_DWORD, &small, sizeof small));
  ASSERT_EQ(ERROR_SUCCESS, WriteHighestInfoSerial(18446744073709551615ull));
  ASSERT_EQ(ERROR_SUCCESS, ReadHighestInfoSerial(&serial));
  EXPECT_EQ(18446744073709551615ull, serial);
}

TEST_F(InfoSerial, AWriteTheKeyRefusesLeavesTheValue) {
  ASSERT_EQ(ERROR_SUCCESS, WriteHighestInfoSerial(5));
  ASSERT_TRUE(SetDacl(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)")); // KEY_SET_VALUE denied
  EXPECT_EQ(ERROR_ACCESS_DENIED, WriteHighestInfoSerial(6));
  ULONGLONG serial = 0;
  ASSERT_EQ(ERROR_SUCCESS, ReadHighestInfoSerial(&serial));
  EXPECT_EQ(5u, serial);
}

} // namespace
