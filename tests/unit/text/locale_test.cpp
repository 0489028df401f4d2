// Run with LC_ALL=de_DE.UTF-8 (CTest sets it): Wine then reports German (0x0407) as the user's
// default language, and the real locate step picks "qentra.0407" beside this program, falling back
// to "qentra.0409". The program lives in a folder of its own, so no other test's files interfere.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "debug_output.h"
#include "text/language_file.h"
#include "text/text_table.h"

using testing_support::DebugOutputCapture;
using testing_support::Narrow;
using testing_support::ProgramFolder;
using testing_support::WriteUtf16File;
using text_testing::LocateOutput;
using text_testing::Show;

namespace {

std::vector<std::string> LocateAndCollectOutput() {
  DebugOutputCapture capture;
  LocateLanguageFile();
  bool arrived = false;
  std::vector<std::string> messages = text_testing::OutputUntilMarker(capture, &arrived);
  EXPECT_TRUE(arrived) << "the end marker never arrived";
  return messages;
}

class GermanUserTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = ProgramFolder();
    german_ = folder_ + L"\\qentra.0407";
    english_ = folder_ + L"\\qentra.0409";
    RemoveFiles();
  }
  void TearDown() override {
    ReleaseOverrideTable();
    g_languageFilePath[0] = L'\0';
    RemoveFiles();
  }
  void RemoveFiles() {
    DeleteFileW(german_.c_str());
    DeleteFileW(english_.c_str());
  }
  std::vector<std::string> Output(const std::vector<std::wstring>& paths) { return LocateOutput(folder_, paths); }
  std::wstring folder_, german_, english_;
};

TEST_F(GermanUserTest, UserDefaultLanguageFollowsLcAll) {
  char lcAll[64] = "(unset)";
  GetEnvironmentVariableA("LC_ALL", lcAll, sizeof lcAll);
  EXPECT_EQ(0x0407, GetUserDefaultLangID()) << "LC_ALL=" << lcAll;
}

TEST_F(GermanUserTest, GermanFileBesideTheProgramIsUsed) {
  ASSERT_EQ(0x0407, GetUserDefaultLangID());
  ASSERT_TRUE(WriteUtf16File(german_, L"[strings]\r\n4=Später herunterladen\r\n"));
  ASSERT_TRUE(WriteUtf16File(english_, L"[strings]\r\n4=Later, in English\r\n"));
  std::vector<std::string> output = LocateAndCollectOutput();
  EXPECT_EQ(german_, g_languageFilePath) << Narrow(g_languageFilePath);
  EXPECT_EQ(Output({german_}), output) << "output:" << Show(output);

  g_overrideTable = BuildOverrideTable();
  EXPECT_STREQ(L"Später herunterladen", LookupText(kTextDownloadLater));
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
}

TEST_F(GermanUserTest, EnglishFileIsTheFallback) {
  ASSERT_EQ(0x0407, GetUserDefaultLangID());
  ASSERT_TRUE(WriteUtf16File(english_, L"[strings]\r\n4=Later, in English\r\n"));
  std::vector<std::string> output = LocateAndCollectOutput();
  EXPECT_EQ(english_, g_languageFilePath) << Narrow(g_languageFilePath);
  EXPECT_EQ(Output({german_, english_}), output) << "output:" << Show(output);

  g_overrideTable = BuildOverrideTable();
  EXPECT_STREQ(L"Later, in English", LookupText(kTextDownloadLater));
}

TEST_F(GermanUserTest, NeitherFileGivesTheBuiltInTexts) {
  ASSERT_EQ(0x0407, GetUserDefaultLangID());
  std::vector<std::string> output = LocateAndCollectOutput();
  EXPECT_EQ(english_, g_languageFilePath) << Narrow(g_languageFilePath);
  EXPECT_EQ(Output({german_, english_}), output) << "output:" << Show(output);

  g_overrideTable = BuildOverrideTable();
  ASSERT_NE(nullptr, g_overrideTable);
  EXPECT_EQ(0, g_overrideTable->count);
  EXPECT_STREQ(L"Download Later", LookupText(kTextDownloadLater));
}

} // namespace
