// A whole first run against nginx (fixture `nginx_server`) with the real NSIS package, ending in
// Restart Now. Wine's ExitWindowsEx ends the Wine session of its prefix, so this program runs in
// a prefix of its own (fixture `restart_wine`, its own wineserver), and the updater with it: the
// debugger output channel only reaches listeners of the same wineserver.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "package/package_record.h"

namespace {

using e2e::kInstalledText;

using e2e::FromEnvironment;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/plinthware/vrel_setup.exe";

// Wine reports Windows 7 (6.1 workstation) when no version is set for the program.
const char kInfoFile[] =
    "[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/vrel_setup.exe\r\n"
    "InstConfig=vrel_setup.exe /S\r\n";

TEST(Restart, RestartNowAfterAFirstRunRequestsTheRestartAndEndsInOrder) {
  ASSERT_FALSE(e2e::Docroot().empty()) << "no nginx docroot (PLINTHWARE_TEST_DOCROOT)";
  std::wstring proxy = testing_support::Widen(testing_support::ReadBytes(FromEnvironment(L"PLINTHWARE_NGINX_PROXY_FILE")));
  ASSERT_EQ(0u, proxy.find(L"http://127.0.0.1:")) << "no nginx address: \"" << driver::Utf8(proxy) << "\"";
  std::wstring package = FromEnvironment(L"PLINTHWARE_PACKAGES_DIR") + L"\\vrel_setup_1.0.0.6.exe";

  e2e::ServedFiles served;
  ASSERT_TRUE(served.Serve(kInfoPath, kInfoFile));
  ASSERT_TRUE(served.ServeFile(kPackagePath, package)) << driver::Utf8(package);
  e2e::ScopedInstalledVersion installed(L"1.0.0.0");
  ASSERT_TRUE(installed.set());
  e2e::DeleteInstallMarker();
  e2e::PlacedCompanion companion;
  ASSERT_TRUE(companion.placed()) << "qentraSvc.exe could not be placed in " << driver::Utf8(e2e::SystemDirectory());
  testing_support::TempDir folder;
  std::wstring record = folder.file(L"package_record.txt");

  driver::LaunchOptions options = e2e::ServedUpdaterOptions(L"");
  options.environment.push_back({L"http_proxy", proxy, false});
  options.environment.push_back({L"PLINTHWARE_PACKAGE_RECORD", record, false});
  options.environment.push_back(companion.record().Setting());
  int packageRequests = e2e::RequestCount(kPackagePath);
  driver::UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
  HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
  ASSERT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
  ASSERT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
  ASSERT_TRUE(updater.WaitForControlText(driver::kStatusLink, kInstalledText, e2e::kShowMs))
      << "no restart offer\n" << updater.Describe();
  ASSERT_TRUE(driver::ReadControl(dialog, driver::kRestartNow).visible) << updater.Describe();
  // Its screen gives Restart Now the focus (before the witness below takes it away).
  ASSERT_TRUE(updater.WaitForFocus(driver::kRestartNow, e2e::kAnswerMs)) << updater.Describe();

  // A witness with a window in the same session: Wine's restart (wineboot --end-session) ends it.
  std::wstring notepad = e2e::SystemDirectory() + L"\\notepad.exe";
  std::wstring commandLine = L"notepad.exe";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION witness = {};
  ASSERT_TRUE(CreateProcessW(notepad.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &witness))
      << GetLastError();
  CloseHandle(witness.hThread);
  WaitForInputIdle(witness.hProcess, e2e::kShowMs);

  ASSERT_TRUE(driver::PressButton(dialog, driver::kRestartNow));
  DWORD exitCode = 1;
  ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
  EXPECT_EQ(0u, exitCode);
  EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), true));
  bool sessionEnded = WaitForSingleObject(witness.hProcess, e2e::kEndMs) == WAIT_OBJECT_0;
  if (!sessionEnded) TerminateProcess(witness.hProcess, 1);
  CloseHandle(witness.hProcess);
  EXPECT_TRUE(sessionEnded) << "no restart was requested: a program with a window outlived it";

  driver::RegistryValue marker = e2e::ReadInstallMarker();
  EXPECT_TRUE(marker.exists && marker.type == REG_DWORD && marker.dword == 1)
      << "installed: exists " << marker.exists << ", type " << marker.type << ", value " << marker.dword;
  std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record);
  ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record);
  EXPECT_EQ(L"vrel_setup.exe /S", runs[0].commandLine);
  EXPECT_TRUE(runs[0].silent);
  EXPECT_EQ(0, runs[0].exitCode);
  EXPECT_EQ(packageRequests + 1, e2e::RequestCount(kPackagePath)) << "the package was not fetched from nginx once";
}

} // namespace
