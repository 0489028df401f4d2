// Downloads that go wrong, and ones that are merely unusual, against the test web server's faults
// (fixture `http_server`, sidecar files): a failed Info file or package ends the program with the
// network-error box, shown after the dialog has been hidden; a chunked body without a total and
// a slow but steady one are installed. Also the installer that fails, and the close box while a
// transfer runs. The package is the real NSIS test package (tools/package).
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "package/package_record.h"

namespace {

using e2e::kNetworkError;
using e2e::kInstallFailed;
using e2e::kInstalledText;
using e2e::kAtOnceMs;

using e2e::PackageFile;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/e2e-tests/vrel_setup.exe";
const wchar_t kLatestVersion[] = L"You are using the latest version.";

// The Watchdog's 20 seconds without progress, with room for a slow machine.
const DWORD kWatchdogMinMs = 19000;
const DWORD kWatchdogMaxMs = 32000;

std::string InfoFile(const char* version) {
  return std::string("[platform_win7]\r\nVersion=") + version + "\r\nLocation=http://download.orvane.com" +
         kPackagePath + "\r\nInstConfig=vrel_setup.exe /S\r\n";
}

class Network : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no test web server (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_FALSE(PackageFile(L"vrel_setup_1.0.0.6.exe").empty()) << "PLINTHWARE_PACKAGES_DIR is not set";
    ASSERT_TRUE(e2e::RemoveCompanion());
    ASSERT_TRUE(installed_.set());
    e2e::DeleteInstallMarker();
  }

  // Starts the updater; unless in Update mode, waits for the Offer and presses Download Now.
  // Returns the tick of the press (of the start, in Update mode).
  DWORD StartDownload(driver::UpdaterProcess& updater, const std::wstring& arguments) {
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(arguments);
    options.environment.push_back({L"PLINTHWARE_PACKAGE_RECORD", record_, false});
    EXPECT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    if (!arguments.empty()) return GetTickCount();
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    EXPECT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
    DWORD pressed = GetTickCount();
    EXPECT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
    return pressed;
  }

  // Waits for the message box with `text`, checks that the dialog was hidden before it, answers
  // it and checks the end. Returns the time from `since` until the box was seen.
  DWORD ExpectBoxAndEnd(driver::UpdaterProcess& updater, const wchar_t* text, DWORD since, DWORD timeoutMs) {
    HWND box = updater.WaitForMessageBox(timeoutMs);
    DWORD elapsed = GetTickCount() - since;
    EXPECT_NE(nullptr, box) << "no message box after " << elapsed << " ms\n" << updater.Describe();
    if (!box) return elapsed;
    EXPECT_FALSE(IsWindowVisible(updater.UpdaterDialog())) << "the dialog is visible beside the box";
    driver::MessageBoxState state = updater.ReadMessageBox(box);
    EXPECT_EQ(text, state.text);
    EXPECT_NE(kLatestVersion, state.text);
    EXPECT_EQ(std::vector<int>{IDOK}, state.buttons);
    EXPECT_FALSE(driver::ReadControl(updater.UpdaterDialog(), driver::kRestartNow).visible) << "a restart offer";
    EXPECT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    EXPECT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), false));
    EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "a failure writes no install marker";
    return elapsed;
  }

  e2e::ServedFiles served_;
  e2e::ScopedInstalledVersion installed_{L"1.0.0.0"};
  testing_support::TempDir folder_;
  std::wstring record_ = folder_.file(L"package_record.txt");
};

struct FaultCase {
  const char* path;  // where the fault is served
  const char* fault; // the sidecar text
};

// Each fails the transfer: the network-error box follows at once.
const FaultCase kFailures[] = {
    {kInfoPath, "404"},        {kInfoPath, "close"},       {kPackagePath, "404"},
    {kPackagePath, "500"},     {kPackagePath, "cut 4000"}, {kPackagePath, "reset 4000 0"},
    {kPackagePath, "close"},
};

TEST_F(Network, AFailedTransferShowsTheNetworkErrorBoxAtOnce) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  for (const FaultCase& c : kFailures) {
    SCOPED_TRACE(std::string(c.path) + " with " + c.fault);
    ASSERT_TRUE(served_.ServeFault(c.path, c.fault));
    driver::UpdaterProcess updater;
    DWORD pressed = StartDownload(updater, L"");
    DWORD elapsed = ExpectBoxAndEnd(updater, kNetworkError, pressed, e2e::kShowMs);
    EXPECT_LT(elapsed, kAtOnceMs) << "the box came late";
    EXPECT_TRUE(updater.DialogEverVisible());
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    served_.ClearFault(c.path);
  }
}

TEST_F(Network, UpdateModeWithAMissingInfoFileShowsTheNetworkErrorNotTheLatestVersion) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("1.0.0.0")));
  ASSERT_TRUE(served_.ServeFault(kInfoPath, "404"));
  driver::UpdaterProcess updater;
  DWORD started = StartDownload(updater, L"-update");
  ExpectBoxAndEnd(updater, kNetworkError, started, e2e::kShowMs);
  EXPECT_FALSE(updater.DialogEverVisible()) << "Update mode showed the dialog";
}

// A login page or a proxy's error page answered with 200 for the Info file has no platform
// section: it ends as a failed download does in either mode, never as "nothing newer".
TEST_F(Network, APageThatIsNoInfoFileShowsTheNetworkErrorBoxAtOnce) {
  ASSERT_TRUE(served_.Serve(kInfoPath, "<html><head><title>Sign in</title></head><body>[Wi-Fi] Accept</body></html>\n"));
  for (const wchar_t* arguments : {L"", L"-update"}) {
    SCOPED_TRACE(driver::Utf8(arguments));
    driver::UpdaterProcess updater;
    DWORD started = StartDownload(updater, arguments);
    EXPECT_LT(ExpectBoxAndEnd(updater, kNetworkError, started, e2e::kShowMs), kAtOnceMs) << "the box came late";
    std::vector<std::string> messages = updater.DebugMessages();
    EXPECT_EQ(1, std::count(messages.begin(), messages.end(), "Info file refused: no platform section\n"))
        << updater.Describe();
  }
}

// The one real 20-second wait: the package's body stops after 4000 bytes and the connection stays
// open, so only the Watchdog ends the transfer.
TEST_F(Network, AStalledTransferShowsTheNetworkErrorBoxAfterTwentySeconds) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  ASSERT_TRUE(served_.ServeFault(kPackagePath, "stall 4000"));
  driver::UpdaterProcess updater;
  DWORD pressed = StartDownload(updater, L"");
  DWORD elapsed = ExpectBoxAndEnd(updater, kNetworkError, pressed, kWatchdogMaxMs);
  EXPECT_GE(elapsed, kWatchdogMinMs) << "the box came before the Watchdog's 20 seconds";
}

// A body without a total (chunked) and one that trickles in for seconds are whole downloads.
TEST_F(Network, UnusualButCompleteTransfersAreInstalled) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  const char* kFaults[] = {"chunked 8192 0.05", "drip 0.4"};
  for (const char* fault : kFaults) {
    SCOPED_TRACE(fault);
    e2e::DeleteInstallMarker();
    ASSERT_TRUE(served_.ServeFault(kPackagePath, fault));
    driver::UpdaterProcess updater;
    StartDownload(updater, L"");
    ASSERT_TRUE(updater.WaitForControlText(driver::kStatusLink, kInstalledText, 40000))
        << "no restart offer\n" << updater.Describe();
    std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
    ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
    EXPECT_EQ(L"vrel_setup.exe /S", runs[0].commandLine);
    EXPECT_TRUE(runs[0].silent);
    EXPECT_EQ(0, runs[0].exitCode);
    ASSERT_TRUE(driver::PressButton(updater.UpdaterDialog(), driver::kRestartLater));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::ReadInstallMarker().exists);
    DeleteFileW(record_.c_str());
  }
}

TEST_F(Network, AFailingInstallerShowsTextFifteenWithoutRestartOfferOrMarker) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_fail.exe")));
  driver::UpdaterProcess updater;
  DWORD pressed = StartDownload(updater, L"");
  ExpectBoxAndEnd(updater, kInstallFailed, pressed, e2e::kShowMs);
  std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
  ASSERT_EQ(1u, runs.size()) << "the failing package did not run once\n" << package_record::DescribePackageRecord(record_);
  EXPECT_EQ(2, runs[0].exitCode);
  EXPECT_FALSE(runs[0].wroteVersion);
}

// The close box while the Info file (checking) or the package (downloading) is still coming in:
// the transfer is cancelled and the program ends at once, with the marker, like Download Later.
TEST_F(Network, TheCloseBoxCancelsARunningTransferAndWritesTheMarker) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  struct CloseCase {
    const char* stage;
    const char* path;
  };
  const CloseCase kCases[] = {{"checking", kInfoPath}, {"downloading", kPackagePath}};
  for (const CloseCase& c : kCases) {
    SCOPED_TRACE(c.stage);
    e2e::DeleteInstallMarker();
    // An eighth of the file every 30 seconds: the transfer runs for minutes.
    ASSERT_TRUE(served_.ServeFault(c.path, "drip 30"));
    int requestsBefore = e2e::RequestCount(c.path);
    driver::UpdaterProcess updater;
    StartDownload(updater, L"");
    // The server has the request: the transfer of this stage runs (the status text says
    // "Downloading" from Download Now on, so it tells nothing here).
    ASSERT_TRUE(updater.WaitUntil([&] { return e2e::RequestCount(c.path) > requestsBefore; }, e2e::kShowMs))
        << "the transfer never began\n" << updater.Describe();
    DWORD closed = GetTickCount();
    ASSERT_TRUE(updater.CloseDialog(false));
    // Watched until the end: a box (the cancelled transfer taken for a failed one) would show
    // between the close and the exit.
    bool boxSeen = false;
    updater.WaitUntil([&] {
      boxSeen = boxSeen || updater.VisibleMessageBox() != nullptr;
      return boxSeen || updater.HasExited();
    }, e2e::kEndMs);
    EXPECT_FALSE(boxSeen) << "a message box after the close\n" << updater.Describe();
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(boxSeen ? 0 : e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_LT(GetTickCount() - closed, kAtOnceMs) << "the transfer held the end up";
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), false));
    driver::RegistryValue marker = e2e::ReadInstallMarker();
    EXPECT_TRUE(marker.exists && marker.type == REG_DWORD && marker.dword == 1) << "no install marker";
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    served_.ClearFault(c.path);
  }
}

// A bare "/S" as InstConfig: NSIS takes the first token of its command line for its own name, so
// the switch is lost and the package runs with its page shown (which closes by itself).
TEST_F(Network, ABareSilentSwitchIsTakenAsTheProgramNameAndThePackageRunsVisibly) {
  ASSERT_TRUE(served_.Serve(kInfoPath, std::string("[platform_win7]\r\nVersion=2.0.0.1\r\nLocation=http://download.orvane.com") +
                                           kPackagePath + "\r\nInstConfig=/S\r\n"));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  driver::UpdaterProcess updater;
  StartDownload(updater, L"");
  ASSERT_TRUE(updater.WaitForControlText(driver::kStatusLink, kInstalledText, e2e::kShowMs))
      << "no restart offer\n" << updater.Describe();
  std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
  ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
  EXPECT_EQ(L"/S", runs[0].commandLine);
  EXPECT_FALSE(runs[0].silent) << "NSIS took the switch";
  EXPECT_EQ(0, runs[0].exitCode);
  ASSERT_TRUE(driver::PressButton(updater.UpdaterDialog(), driver::kRestartLater));
  ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs)) << "still running\n" << updater.Describe();
}

} // namespace
