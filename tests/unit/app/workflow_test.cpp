// The workflow controller: each Workflow message sent to the real main window after the real
// start-up, and what the user then sees. Downloads are not run here: the test puts the Info file
// and the workflow state where a finished download would have left them.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "app/workflow.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "system/install_marker.h"
#include "text/language_file.h"
#include "updater_harness.h"

using testing_support::Narrow;
using testing_support::PumpUntil;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const wchar_t kNetworkError[] = L"An network error has occurred. Please retry later.";
const wchar_t kInstallFailed[] = L"Plinthware could not be installed. Please retry later.";
const wchar_t kLatest[] = L"You are using the latest version.";

bool MarkerWritten() {
  DWORD value = 0, size = sizeof value;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
         ERROR_SUCCESS;
}

void SetInstalledVersion(const wchar_t* version) {
  if (!version) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed_version");
    return;
  }
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed_version", REG_SZ, version,
                  static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
}

LRESULT SendWorkflow(WPARAM code, LPARAM lParam = 0) { return SendMessageW(g_mainWindow, WM_WORKFLOW, code, lParam); }

class WorkflowTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed");
    ASSERT_EQ(1, StartTestUpdater(0));
  }
  void TearDown() override {
    StopTestUpdater();
    SetInstalledVersion(nullptr);
  }
  // An Info file offering `version` for every platform, as a finished stage-1 download leaves it.
  void ArriveInfoFile(const std::string& version) {
    std::string info;
    for (const char* section : {"platform_win8", "platform_win7", "platform_winvista", "platform_winxp"}) {
      info += std::string("[") + section + "]\r\nVersion=" + version +
              "\r\nLocation=http://127.0.0.1:9/vrel_setup.exe\r\nInstConfig=vrel_setup.exe /S\r\n";
    }
    ASSERT_TRUE(WriteBytes(folder_.file(L"vrel_info"), info));
    wcscpy_s(g_infoFilePath, folder_.file(L"vrel_info").c_str());
    LoadPlatformValues();
    g_workflowStage = kStageInfoFile;
  }
  // Ends a transfer the controller started, and waits for its thread to leave.
  void CloseAndDrainTransfer() {
    HANDLE transfer = nullptr;
    if (g_downloadThread)
      DuplicateHandle(GetCurrentProcess(), g_downloadThread, GetCurrentProcess(), &transfer, SYNCHRONIZE, FALSE, 0);
    SendMessageW(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpUntil(UpdaterEnded, 5000));
    if (transfer) {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(transfer, 30000));
      CloseHandle(transfer);
    }
  }
  TempDir folder_;
};

TEST_F(WorkflowTest, UnknownCodesAndAnEarlyFinishChangeNothing) {
  MessageBoxWatcher boxes;
  for (WPARAM code : {WPARAM(0), WPARAM(6), WPARAM(7), WPARAM(0x999), WPARAM(-1), WPARAM(0x100000002ull)}) {
    EXPECT_EQ(0, SendWorkflow(code)) << "code " << code;
  }
  g_workflowStage = kStageIdle;
  EXPECT_EQ(0, SendWorkflow(kWorkflowFinished));
  EXPECT_FALSE(UpdaterEnded());
  EXPECT_TRUE(IsWindowVisible(g_dialog));
  EXPECT_TRUE(ControlVisible(IDC_UPDATER_DOWNLOAD_NOW));
  EXPECT_EQ(L"The basic driver was installed.", ControlText(IDC_UPDATER_STATUS));
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(WorkflowTest, AbortEndsWithoutAMessageOrMarker) {
  MessageBoxWatcher boxes;
  SendWorkflow(kWorkflowAborted);
  EXPECT_TRUE(UpdaterEnded());
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_FALSE(MarkerWritten());
}

TEST_F(WorkflowTest, FailureHidesTheDialogThenShowsTheNetworkErrorAndEnds) {
  MessageBoxWatcher boxes;
  SendWorkflow(kWorkflowFailed);
  EXPECT_TRUE(UpdaterEnded());
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_EQ(kNetworkError, boxes.boxes()[0].text);
  EXPECT_EQ(L"Plinthware Updater", boxes.boxes()[0].caption);
  EXPECT_FALSE(boxes.boxes()[0].dialogVisible);
  EXPECT_FALSE(MarkerWritten());
  EXPECT_EQ(nullptr, g_watchdogThread);
  EXPECT_EQ(nullptr, g_heartbeatEvent);
}

TEST_F(WorkflowTest, InstallerExitOffersTheRestartOnlyWhenItSucceeded) {
  SendWorkflow(kWorkflowInstallerExited, kInstallerSucceeded);
  EXPECT_FALSE(UpdaterEnded());
  EXPECT_EQ(L"Plinthware installed successfully. Before you can use Plinthware, you must restart your computer.",
            ControlText(IDC_UPDATER_STATUS));
  EXPECT_FALSE(ControlVisible(IDC_UPDATER_PROGRESS));
  EXPECT_FALSE(ControlVisible(IDC_UPDATER_PERCENT));
  EXPECT_TRUE(ControlVisible(IDC_UPDATER_RESTART_NOW));
  EXPECT_TRUE(ControlVisible(IDC_UPDATER_RESTART_LATER));

  // Restart Later writes the marker and ends.
  SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_RESTART_LATER), BM_CLICK, 0, 0);
  EXPECT_TRUE(PumpUntil(UpdaterEnded, 5000));
  EXPECT_TRUE(MarkerWritten());
}

TEST_F(WorkflowTest, FailedInstallerShowsTextFifteenAndEndsWithoutMarker) {
  MessageBoxWatcher boxes;
  SendWorkflow(kWorkflowInstallerExited, kInstallerFailed);
  EXPECT_TRUE(UpdaterEnded());
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_EQ(kInstallFailed, boxes.boxes()[0].text);
  EXPECT_FALSE(boxes.boxes()[0].dialogVisible);
  EXPECT_FALSE(MarkerWritten());
}

TEST_F(WorkflowTest, ArrivedPackageShowsFullBarAndStartsTheInstaller) {
  MessageBoxWatcher boxes;
  // A package that is not there: the installer cannot start and says so.
  wcscpy_s(g_destinationBuffer, folder_.file(L"vrel_setup.exe").c_str());
  ArriveInfoFile("1.0.0.6");
  g_workflowStage = kStagePackage;
  HWND progress = GetDlgItem(g_dialog, IDC_UPDATER_PROGRESS);
  SendMessageW(progress, PBM_SETRANGE32, 0, 5000);
  SendMessageW(progress, PBM_SETPOS, 10, 0);
  SendWorkflow(kWorkflowFinished);
  EXPECT_EQ(L"100%", ControlText(IDC_UPDATER_PERCENT));
  EXPECT_EQ(5000, SendMessageW(progress, PBM_GETPOS, 0, 0));
  EXPECT_EQ(kStagePackage, g_workflowStage); // the version decision never runs for a package
  ASSERT_TRUE(PumpUntil([&] { return UpdaterEnded(); }, 10000)) << Narrow(ControlText(IDC_UPDATER_STATUS));
  ASSERT_EQ(1u, boxes.boxes().size());
  EXPECT_EQ(kInstallFailed, boxes.boxes()[0].text);
  EXPECT_FALSE(MarkerWritten());
}

struct InfoDecision {
  int updateMode;
  const char* remote;
  const wchar_t* installed; // null: no installed_version
  enum { kOffer, kDownload, kEndSilently, kLatestBox } outcome;
};

const InfoDecision kDecisions[] = {
    {1, "1.0.0.6", L"1.0.0.5", InfoDecision::kOffer},
    {1, "2.0.0.0 beta", nullptr, InfoDecision::kOffer},
    {0, "1.0.0.6", L"1.0.0.5", InfoDecision::kDownload},
    {0, "1.0.0.5", L"1.0.0.5", InfoDecision::kEndSilently},
    {0, "1.0.0.10", L"1.0.1.0", InfoDecision::kEndSilently},
    {0, "", nullptr, InfoDecision::kEndSilently},
    {1, "1.0.0.4", L"1.0.0.5", InfoDecision::kLatestBox},
    {1, "1.2.3", nullptr, InfoDecision::kLatestBox},
};

TEST_F(WorkflowTest, InfoFileDecidesBetweenOfferDownloadAndEnd) {
  for (const InfoDecision& d : kDecisions) {
    SCOPED_TRACE(std::string("remote ") + d.remote + ", update mode " + std::to_string(d.updateMode));
    if (UpdaterEnded()) {
      StopTestUpdater();
      ASSERT_EQ(1, StartTestUpdater(0));
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed");
    SetInstalledVersion(d.installed);
    // Update mode: the dialog is still hidden while the Info file downloads.
    g_updateMode = d.updateMode;
    if (d.updateMode) {
      ShowWindow(g_dialog, SW_HIDE);
    }
    SetWindowTextW(GetDlgItem(g_dialog, IDC_UPDATER_PERCENT), L"37%");
    ArriveInfoFile(d.remote);
    MessageBoxWatcher boxes;
    SendWorkflow(kWorkflowFinished);
    // The bar is hidden once the Info file is in; only the package download shows it again.
    EXPECT_EQ(d.outcome == InfoDecision::kDownload, ControlVisible(IDC_UPDATER_PROGRESS));
    switch (d.outcome) {
    case InfoDecision::kOffer:
      EXPECT_FALSE(UpdaterEnded());
      EXPECT_TRUE(IsWindowVisible(g_dialog));
      EXPECT_EQ(L"A new version of Plinthware is available: " + testing_support::Widen(d.remote),
                ControlText(IDC_UPDATER_STATUS));
      EXPECT_TRUE(ControlVisible(IDC_UPDATER_INSTALL));
      EXPECT_TRUE(ControlVisible(IDC_UPDATER_IGNORE));
      EXPECT_EQ(L"37%", ControlText(IDC_UPDATER_PERCENT)); // kept from the Info file download
      // Ignore ends with the marker.
      SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_IGNORE), BM_CLICK, 0, 0);
      EXPECT_TRUE(PumpUntil(UpdaterEnded, 5000));
      EXPECT_TRUE(MarkerWritten());
      break;
    case InfoDecision::kDownload:
      EXPECT_EQ(kStagePackage, g_workflowStage);
      EXPECT_EQ(L"Downloading Plinthware:", ControlText(IDC_UPDATER_STATUS));
      EXPECT_TRUE(ControlVisible(IDC_UPDATER_PROGRESS));
      CloseAndDrainTransfer();
      break;
    case InfoDecision::kEndSilently:
      EXPECT_TRUE(UpdaterEnded());
      EXPECT_EQ(1, g_cancelFlag);
      EXPECT_FALSE(MarkerWritten());
      break;
    case InfoDecision::kLatestBox:
      EXPECT_TRUE(UpdaterEnded());
      ASSERT_EQ(1u, boxes.boxes().size());
      EXPECT_EQ(kLatest, boxes.boxes()[0].text);
      EXPECT_EQ(L"Plinthware Updater", boxes.boxes()[0].caption);
      EXPECT_FALSE(boxes.boxes()[0].dialogVisible);
      EXPECT_FALSE(MarkerWritten());
      break;
    }
    EXPECT_EQ(d.outcome == InfoDecision::kLatestBox ? 1u : 0u, boxes.boxes().size());
  }
}

TEST_F(WorkflowTest, LongOverrideOfTheNewVersionTextIsCutAt511Characters) {
  // Re-read the overrides from a Language file that replaces text 11 with 600 characters.
  std::wstring longText(600, L'n');
  ASSERT_TRUE(testing_support::WriteUtf16File(folder_.file(L"qentra.0409"), L"[strings]\r\n11=" + longText + L"\r\n"));
  ReleaseOverrideTable();
  wcscpy_s(g_languageFilePath, folder_.file(L"qentra.0409").c_str());
  g_overrideTable = BuildOverrideTable();
  SetInstalledVersion(L"1.0.0.5");
  g_updateMode = 1;
  ArriveInfoFile("1.0.0.6");
  SendWorkflow(kWorkflowFinished);
  std::wstring status = ControlText(IDC_UPDATER_STATUS);
  EXPECT_EQ(511u, status.size());
  EXPECT_EQ(longText.substr(0, 511), status);
}

} // namespace
