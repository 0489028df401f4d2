// The unpacked release package run under Wine as a German user: the updater finds its Language
// file beside it, shows the Offer screen in German, and ends on Download Later.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "driver/driver.h"
#include "res/resource.h"
#include "support/test_support.h"

namespace {

const DWORD kShowMs = 20000; // Wine takes a second or more to start a program
const DWORD kEndMs = 15000;

std::wstring PackageFolder() {
  wchar_t value[2048] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_DIST_DIR", value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? driver::WindowsPathOf(value) : std::wstring();
}

TEST(ReleasePackage, TheUnpackedUpdaterShowsItsOfferInTheUsersLanguageAndEnds) {
  ASSERT_EQ(0x0407, GetUserDefaultLangID()) << "this program must run with LC_ALL=de_DE.UTF-8";
  const std::wstring folder = PackageFolder();
  ASSERT_TRUE(testing_support::FileExists(folder + L"\\PlinthwareUpdater.exe")) << driver::Utf8(folder);

  driver::LaunchOptions options;
  options.program = folder + L"\\PlinthwareUpdater.exe";
  // Port 9 on the loopback: nothing the test does may reach the network.
  options.environment.push_back({L"http_proxy", L"http://127.0.0.1:9", false});
  driver::UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
  HWND dialog = updater.WaitForVisibleDialog(kShowMs);
  ASSERT_NE(nullptr, dialog) << updater.Describe();

  EXPECT_EQ(L"Plinthware-Aktualisierung", driver::ReadWindowText(dialog)) << updater.Describe();
  EXPECT_EQ(L"Jetzt herunterladen", driver::ReadControl(dialog, IDC_UPDATER_DOWNLOAD_NOW).text);
  EXPECT_EQ(L"Sp\u00e4ter herunterladen", driver::ReadControl(dialog, IDC_UPDATER_DOWNLOAD_LATER).text);
  EXPECT_EQ(L"http://www.orvane.com/support/plinthware/", updater.ReadLink(IDC_UPDATER_OFFER, 0).url);
  bool namedGermanFile = false;
  for (const std::string& message : updater.DebugMessages())
    namedGermanFile = namedGermanFile || message.find("qentra.0407") != std::string::npos;
  EXPECT_TRUE(namedGermanFile) << updater.Describe();

  ASSERT_TRUE(updater.CloseDialog(false));
  DWORD exitCode = 1;
  EXPECT_TRUE(updater.WaitForExit(kEndMs, &exitCode)) << updater.Describe();
  EXPECT_EQ(0u, exitCode);
}

} // namespace
