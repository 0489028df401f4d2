// The workflow controller: turns each worker's outcome (a Workflow message) into the next step
// of the update, or into the end of the program. UI thread only.
//
// Message boxes here are modal loops that keep dispatching; the claim on each download's report
// (download_jobs.h) makes sure no second outcome of the same download arrives meanwhile.
#include "app/workflow.h"

#include <commctrl.h>
#include <strsafe.h>

#include "base/dialog_controls.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "res/resource.h"
#include "text/text_table.h"
#include "ui/updater_dialog.h"
#include "update/installer.h"
#include "update/version_check.h"

// Ends the program with a message box, the dialog hidden first.
static void EndWithMessage(INT_PTR dialogResult, int textIndex, UINT type) {
  EndDialog(g_dialog, dialogResult);
  MessageBoxW(g_mainWindow, LookupText(textIndex), LookupText(kTextTitle), type);
  DestroyWindow(g_mainWindow);
}

static void OfferUpdate(const wchar_t* remoteVersion) {
  // A long override of text 11 is cut at 511 characters rather than refused.
  wchar_t status[512] = {};
  StringCchPrintfW(status, ARRAYSIZE(status), L"%s %s", LookupText(kTextNewVersion), remoteVersion);
  SetControlText(g_dialog, IDC_UPDATER_STATUS, status);
  ShowControl(g_dialog, IDC_UPDATER_INSTALL, SW_SHOW);
  ShowControl(g_dialog, IDC_UPDATER_IGNORE, SW_SHOW);
  ShowWindow(g_dialog, SW_SHOW);
  SetScreenButton(g_dialog, IDC_UPDATER_INSTALL);
}

static void OnInfoFileArrived() {
  ShowControl(g_dialog, IDC_UPDATER_PROGRESS, SW_HIDE);
  wchar_t remoteVersion[kVersionChars] = {};
  if (IsNewerPackageAvailable(remoteVersion)) {
    if (g_updateMode) {
      OfferUpdate(remoteVersion);
    } else {
      BeginInstallerDownload();
    }
    return;
  }
  InterlockedExchange(&g_cancelFlag, 1);
  if (g_updateMode) {
    MessageBoxW(g_mainWindow, LookupText(kTextLatestVersion), LookupText(kTextTitle), MB_OK);
  }
  EndUpdater(2);
}

static void OnPackageArrived() {
  SetControlText(g_dialog, IDC_UPDATER_PERCENT, L"100%");
  LRESULT end = SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_GETRANGE, FALSE, 0);
  SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(end), 0);
  SendWorkflow(kWorkflowInstallerReady, 0);
}

static void OnDownloadFinished() {
  if (g_workflowStage == kStagePackage) {
    OnPackageArrived();
  } else if (g_workflowStage == kStageInfoFile) {
    OnInfoFileArrived();
  }
}

static void OnDownloadFailed() {
  WatchdogStop();
  EndWithMessage(3, kTextNetworkError, MB_ICONERROR);
}

static void OnInstallerReady() {
  SetControlText(g_dialog, IDC_UPDATER_STATUS, LookupText(kTextInstalling));
  g_installerThread = CreateThread(nullptr, 0, RunInstaller, nullptr, 0, nullptr);
  if (!g_installerThread) {
    // Without the thread the package never runs: say so rather than leave the user waiting.
    EndWithMessage(kWorkflowInstallerReady, kTextInstallFailed, MB_ICONERROR);
  }
}

static void OnInstallerExited(LPARAM outcome) {
  if (g_installerThread) {
    CloseHandle(g_installerThread);
    g_installerThread = nullptr;
  }
  ShowControl(g_dialog, IDC_UPDATER_PROGRESS, SW_HIDE);
  ShowControl(g_dialog, IDC_UPDATER_PERCENT, SW_HIDE);
  if (outcome != kInstallerSucceeded) {
    EndWithMessage(kWorkflowInstallerExited, kTextInstallFailed, MB_ICONERROR);
    return;
  }
  ShowControl(g_dialog, IDC_UPDATER_RESTART_NOW, SW_SHOW);
  ShowControl(g_dialog, IDC_UPDATER_RESTART_LATER, SW_SHOW);
  SetControlText(g_dialog, IDC_UPDATER_STATUS, LookupText(kTextInstalled));
  SetScreenButton(g_dialog, IDC_UPDATER_RESTART_NOW);
}

void OnWorkflowMessage(WPARAM code, LPARAM lParam) {
  switch (code) {
  case kWorkflowAborted:
    EndUpdater(1);
    break;
  case kWorkflowFinished:
    OnDownloadFinished();
    break;
  case kWorkflowFailed:
    OnDownloadFailed();
    break;
  case kWorkflowInstallerReady:
    OnInstallerReady();
    break;
  case kWorkflowInstallerExited:
    OnInstallerExited(lParam);
    break;
  }
}
