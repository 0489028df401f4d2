// WriteInstallMarker on the real registry: the key missing, present in its various states,
// refused for writing or creation; the Cancel flag set in every case; only the native view used.
#include <gtest/gtest.h>

#include <string>

#include "app/workflow.h"
#include "autolaunch_key_helpers.h"
#include "system/install_marker.h"

namespace {

// `installed` as this program must leave it: a REG_DWORD of 1.
::testing::AssertionResult InstalledIsOne() {
  DWORD type = 0;
  std::string bytes;
  if (!autolaunch_key::Read(L"installed", &type, &bytes)) return ::testing::AssertionFailure() << "no installed value";
  if (type != REG_DWORD || bytes != std::string("\x01\x00\x00\x00", 4)) {
    return ::testing::AssertionFailure() << "installed has type " << type << " and " << bytes.size() << " bytes";
  }
  return ::testing::AssertionSuccess();
}

class InstallMarker : public ::testing::Test {
protected:
  void SetUp() override {
    autolaunch_key::Remove();
    g_cancelFlag = 0;
  }
  void TearDown() override {
    autolaunch_key::Remove();
    g_cancelFlag = 0;
  }
};

TEST_F(InstallMarker, CreatesTheMissingKey) {
  ASSERT_FALSE(autolaunch_key::Exists());
  EXPECT_EQ(1, WriteInstallMarker());
  EXPECT_EQ(1, g_cancelFlag);
  EXPECT_TRUE(autolaunch_key::Exists());
  EXPECT_TRUE(InstalledIsOne());
}

enum Before { kNoValues, kInstalledZero, kInstalledText, kInstalledOne };

TEST_F(InstallMarker, SetsInstalledAndLeavesTheVersionAlone) {
  for (Before before : {kNoValues, kInstalledZero, kInstalledText, kInstalledOne}) {
    SCOPED_TRACE("state " + std::to_string(before));
    autolaunch_key::Remove();
    ASSERT_TRUE(autolaunch_key::Create());
    ASSERT_TRUE(autolaunch_key::SetString(L"installed_version", L"1.0.0.5"));
    bool arranged = before == kInstalledZero   ? autolaunch_key::SetDword(L"installed", 0)
                    : before == kInstalledText ? autolaunch_key::SetString(L"installed", L"0")
                    : before == kInstalledOne  ? autolaunch_key::SetDword(L"installed", 1)
                                               : true;
    ASSERT_TRUE(arranged);
    g_cancelFlag = 0;
    EXPECT_EQ(1, WriteInstallMarker());
    EXPECT_EQ(1, g_cancelFlag);
    EXPECT_TRUE(InstalledIsOne());
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(autolaunch_key::Read(L"installed_version", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(L"1.0.0.5"), 16), bytes) << "installed_version changed";
  }
}

TEST_F(InstallMarker, WritesTheNativeViewOnly) {
  EXPECT_EQ(1, WriteInstallMarker());
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_READ | KEY_WOW64_64KEY, &key));
  if (key) RegCloseKey(key);
  key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_READ | KEY_WOW64_32KEY, &key))
      << "the marker went to the 32-bit view";
  if (key) RegCloseKey(key);
}

TEST_F(InstallMarker, RefusedWriteStillSetsTheCancelFlag) {
  ASSERT_TRUE(autolaunch_key::Create());
  ASSERT_TRUE(autolaunch_key::SetDword(L"installed", 0));
  ASSERT_TRUE(autolaunch_key::Deny(KEY_SET_VALUE));
  EXPECT_EQ(1, WriteInstallMarker());
  EXPECT_EQ(1, g_cancelFlag);
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(autolaunch_key::Read(L"installed", &type, &bytes));
  EXPECT_EQ(std::string(4, '\0'), bytes) << "installed was written through a key that refuses writing";
}

TEST_F(InstallMarker, RefusedCreationStillSetsTheCancelFlag) {
  ASSERT_TRUE(autolaunch_key::MakeUncreatable());
  EXPECT_EQ(1, WriteInstallMarker());
  EXPECT_EQ(1, g_cancelFlag);
  EXPECT_FALSE(autolaunch_key::Exists());
}

} // namespace
