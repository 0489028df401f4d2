// IsNewerPackageAvailable against real Info files and the real Autolaunch key: the version rule,
// the unusable-Version rule, every state of the key, and what reaches the debugger output.
#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>

#include <string>

#include "../system/autolaunch_key_helpers.h"
#include "download/download_jobs.h"
#include "support/test_support.h"
#include "info/platform.h"
#include "update/version_check.h"

namespace {

using testing_support::DebugOutputCapture;
using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::WriteBytes;

const char kEndMark[] = "<end of check>";

enum KeyState {
  kKeyWithValue,    // the key holds installed_version
  kKeyWithoutValue, // the key exists without installed_version
  kKeyMissing,      // no key: the check creates it
  kKeyUncreatable,  // no key, and Windows refuses to create it
  kKeyUnreadable,   // the key denies KEY_QUERY_VALUE
};

struct CheckCase {
  const char* what;
  std::string infoFile;  // the whole Info file; the section read is [platform_win7]
  KeyState key;
  std::wstring installed; // installed_version, for kKeyWithValue
  bool newer;
  std::wstring remoteText; // what the caller's buffer holds afterwards
  std::string debugOutput; // the installed text and its line feed; nothing when the key is closed
};

std::string Section(const std::string& version) { return "[platform_win7]\r\nVersion=" + version + "\r\n"; }

const std::wstring k63 = L"1.0.0.7" + std::wstring(56, L'x');
const std::wstring k64 = L"1.0.0.7" + std::wstring(57, L'x');
const std::string k63Narrow = "1.0.0.7" + std::string(56, 'x');
const std::string k64Narrow = "1.0.0.7" + std::string(57, 'x');

const CheckCase kCases[] = {
    {"newer by one", Section("1.0.0.6"), kKeyWithValue, L"1.0.0.5", true, L"1.0.0.6", "1.0.0.5\n"},
    {"equal texts", Section("1.0.0.5"), kKeyWithValue, L"1.0.0.5", false, L"1.0.0.5", "1.0.0.5\n"},
    {"older", Section("1.0.0.4"), kKeyWithValue, L"1.0.0.5", false, L"1.0.0.4", "1.0.0.5\n"},
    {"carried fields compare equal", Section("1.0.0.10"), kKeyWithValue, L"1.0.1.0", false, L"1.0.0.10", "1.0.1.0\n"},
    {"negative major wraps above all", Section("-1.0.0.0"), kKeyWithValue, L"9.9.9.9", true, L"-1.0.0.0", "9.9.9.9\n"},
    {"trailing text ignored", Section("1.0.0.6beta"), kKeyWithValue, L"1.0.0.5 (old)", true, L"1.0.0.6beta",
     "1.0.0.5 (old)\n"},
    {"blanks around the value", Section("   1.0.0.6   "), kKeyWithValue, L"1.0.0.5", true, L"1.0.0.6", "1.0.0.5\n"},
    {"section and key in another case", "[PLATFORM_WIN7]\r\nVERSION=1.0.0.6\r\n", kKeyWithValue, L"1.0.0.5", true,
     L"1.0.0.6", "1.0.0.5\n"},
    {"malformed installed version", Section("0.0.0.1"), kKeyWithValue, L"abc", true, L"0.0.0.1", "abc\n"},
    {"installed version of 63 characters", Section("1.0.0.8"), kKeyWithValue, k63, true, L"1.0.0.8",
     k63Narrow + "\n"},
    {"installed version of 64 characters is not read", Section("0.0.0.1"), kKeyWithValue, k64, true, L"0.0.0.1",
     "\n"},
    {"Version of 63 characters", Section(k63Narrow), kKeyWithValue, L"1.0.0.6", true, k63, "1.0.0.6\n"},
    {"Version of 64 characters is refused", Section(k64Narrow), kKeyWithValue, L"1.0.0.6", false, L"", "1.0.0.6\n"},
    {"Version of 300 characters is refused", Section("9.0.0.0" + std::string(293, '9')), kKeyWithValue, L"1.0.0.6",
     false, L"", "1.0.0.6\n"},
    {"no installed version", Section("0.0.0.1"), kKeyWithoutValue, L"", true, L"0.0.0.1", "\n"},
    {"Version 0.0.0.0 against nothing", Section("0.0.0.0"), kKeyWithoutValue, L"", false, L"0.0.0.0", "\n"},
    {"no Version key", "[platform_win7]\r\nLocation=http://x/\r\n", kKeyWithoutValue, L"", false, L"", "\n"},
    {"three numbers", Section("1.2.3"), kKeyWithoutValue, L"", false, L"", "\n"},
    {"Version only for another platform", "[platform_win8]\r\nVersion=1.0.0.6\r\n", kKeyWithoutValue, L"", false, L"",
     "\n"},
    {"key missing is created", Section("1.0.0.6"), kKeyMissing, L"", true, L"1.0.0.6", "\n"},
    {"key uncreatable, usable Version", Section("1.0.0.6"), kKeyUncreatable, L"", true, L"1.0.0.6", ""},
    {"key uncreatable, Version 0.0.0.0", Section("0.0.0.0"), kKeyUncreatable, L"", true, L"0.0.0.0", ""},
    {"key uncreatable, no Version", "[platform_win7]\r\n", kKeyUncreatable, L"", false, L"", ""},
    {"key uncreatable, three numbers", Section("1.2.3"), kKeyUncreatable, L"", false, L"", ""},
    {"key unreadable, usable Version", Section("1.0.0.6"), kKeyUnreadable, L"99.0.0.0", true, L"1.0.0.6", ""},
    {"key unreadable, Version too long", Section(k64Narrow), kKeyUnreadable, L"", false, L"", ""},
};

class VersionCheck : public ::testing::Test {
protected:
  void SetUp() override {
    autolaunch_key::Remove();
    StringCchCopyW(g_platformSection, kPlatformSectionChars, L"platform_win7");
    StringCchCopyW(g_infoFilePath, kPathChars, temp_.file(L"vrel_info").c_str());
  }
  void TearDown() override { autolaunch_key::Remove(); }

  bool Arrange(const CheckCase& c) {
    if (!WriteBytes(g_infoFilePath, c.infoFile)) return false;
    LoadPlatformValues();
    switch (c.key) {
    case kKeyWithValue:
      return autolaunch_key::Create() && autolaunch_key::SetString(L"installed_version", c.installed);
    case kKeyWithoutValue:
      return autolaunch_key::Create();
    case kKeyMissing:
      return !autolaunch_key::Exists();
    case kKeyUncreatable:
      return autolaunch_key::MakeUncreatable();
    case kKeyUnreadable:
      return autolaunch_key::Create() && autolaunch_key::SetString(L"installed_version", c.installed) &&
             autolaunch_key::Deny(KEY_QUERY_VALUE);
    }
    return false;
  }

  TempDir temp_;
};

// The caller's buffer with guard characters behind it, to see that nothing is written past it.
struct GuardedVersion {
  wchar_t text[kVersionChars];
  wchar_t guard[8];
};

TEST_F(VersionCheck, DecidesFromInfoFileAndRegistry) {
  for (const CheckCase& c : kCases) {
    SCOPED_TRACE(c.what);
    autolaunch_key::Remove();
    ASSERT_TRUE(Arrange(c));
    GuardedVersion remote;
    wmemset(remote.text, L'#', kVersionChars);
    wmemset(remote.guard, L'@', ARRAYSIZE(remote.guard));

    DebugOutputCapture capture;
    bool newer = IsNewerPackageAvailable(remote.text);
    OutputDebugStringA(kEndMark);
    ASSERT_TRUE(capture.WaitFor(kEndMark, 5000));

    EXPECT_EQ(c.newer, newer);
    EXPECT_EQ(Narrow(c.remoteText), Narrow(std::wstring(remote.text, wcsnlen(remote.text, kVersionChars))));
    EXPECT_EQ(std::wstring(8, L'@'), std::wstring(remote.guard, 8)) << "written past the caller's buffer";
    EXPECT_EQ(c.debugOutput + kEndMark, capture.joined());
    if (c.key == kKeyMissing) {
      EXPECT_TRUE(autolaunch_key::Exists()) << "the check creates the missing key";
    }
    if (c.key == kKeyUncreatable) {
      EXPECT_FALSE(autolaunch_key::Exists());
    }
  }
}

TEST_F(VersionCheck, NoInfoFileIsNeverNewer) {
  ASSERT_TRUE(autolaunch_key::Create());
  wchar_t remote[kVersionChars] = L"stale";
  LoadPlatformValues();
  EXPECT_FALSE(IsNewerPackageAvailable(remote));
  EXPECT_STREQ(L"", remote);
  ASSERT_TRUE(autolaunch_key::MakeUncreatable());
  EXPECT_FALSE(IsNewerPackageAvailable(remote)) << "an absent Version is never newer, key or no key";
}

TEST_F(VersionCheck, ReadsTheInstalledVersionWhateverItsType) {
  // The type the registry reports is not examined: UTF-16 bytes stored as REG_BINARY read as text.
  ASSERT_TRUE(WriteBytes(g_infoFilePath, Section("0.0.0.1")));
  LoadPlatformValues();
  ASSERT_TRUE(autolaunch_key::Create());
  const wchar_t installed[] = L"9.9.9.9";
  ASSERT_TRUE(autolaunch_key::SetRaw(L"installed_version", REG_BINARY, installed, 7 * sizeof(wchar_t)));
  wchar_t remote[kVersionChars] = {};
  EXPECT_FALSE(IsNewerPackageAvailable(remote)) << "installed 9.9.9.9 read from a REG_BINARY value";
}

TEST_F(VersionCheck, LeavesTheRegistryValuesAlone) {
  ASSERT_TRUE(WriteBytes(g_infoFilePath, Section("1.0.0.6")));
  LoadPlatformValues();
  ASSERT_TRUE(autolaunch_key::Create());
  ASSERT_TRUE(autolaunch_key::SetString(L"installed_version", L"1.0.0.5"));
  wchar_t remote[kVersionChars] = {};
  EXPECT_TRUE(IsNewerPackageAvailable(remote));
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(autolaunch_key::Read(L"installed_version", &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(L"1.0.0.5"), 16), bytes);
  EXPECT_FALSE(autolaunch_key::Read(L"installed", &type, &bytes)) << "the check never writes the marker";
}

} // namespace
