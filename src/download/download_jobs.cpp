// The two begin operations, Download start, and the identity that lets exactly one report of
// each download reach the controller. UI thread, except the claim (Download thread, Watchdog).
//
// A download that cannot start (no temporary folder, no usable Location, no Watchdog or thread)
// ends at once with code 3, as a failed transfer does, rather than waiting for a timeout.
#include "download/download_jobs.h"

#include <commctrl.h>
#include <strsafe.h>

#include "base/dialog_controls.h"
#include "base/owners.h"
#include "base/shell_state.h"
#include "download/download_thread.h"
#include "download/watchdog.h"
#include "info/info_signature.h"
#include "info/info_values.h"
#include "info/platform.h"
#include "res/resource.h"
#include "text/text_table.h"

wchar_t g_urlBuffer[kPathChars] = {};
HANDLE g_downloadThread = nullptr;
volatile LONG g_downloadIdentity = 0;
volatile LONG g_unclaimedReport = 0;

static const wchar_t kInfoFileName[] = L"vrel_info";
static const wchar_t kPackageFileName[] = L"vrel_setup.exe";

LONG NewDownloadIdentity() {
  LONG identity = InterlockedIncrement(&g_downloadIdentity);
  if (identity == 0) identity = InterlockedIncrement(&g_downloadIdentity); // 0 means "none"
  InterlockedExchange(&g_unclaimedReport, identity);
  return identity;
}

void AbandonDownloads() {
  InterlockedExchange(&g_unclaimedReport, 0);
  InterlockedExchange(&g_cancelFlag, 1);
}

bool ClaimDownloadReport(LONG identity) {
  return identity != 0 && InterlockedCompareExchange(&g_unclaimedReport, 0, identity) == identity;
}

// Fills the Temp-folder and Destination buffers for `fileName`. False (both left empty) when the
// temporary folder cannot be read or the path does not fit.
static bool PrepareDestination(const wchar_t* fileName) {
  DWORD length = GetTempPathW(kPathChars, g_tempFolderBuffer);
  bool fits = length != 0 && length < static_cast<DWORD>(kPathChars) &&
              SUCCEEDED(StringCchCopyW(g_destinationBuffer, kPathChars, g_tempFolderBuffer)) &&
              SUCCEEDED(StringCchCatW(g_destinationBuffer, kPathChars, fileName));
  if (!fits) {
    g_tempFolderBuffer[0] = L'\0';
    g_destinationBuffer[0] = L'\0';
  }
  return fits;
}

// The tail of both begin operations once the buffers are written. A begin operation stops any
// Watchdog still running, so an old one can neither time out this download nor outlive it.
static void DownloadStart(const wchar_t* refusal) {
  WatchdogStop();
  LONG identity = NewDownloadIdentity();
  if (refusal) {
    FailDownload(identity, refusal);
    return;
  }
  HANDLE downloadHeartbeat = nullptr;
  if (!WatchdogStart(identity, &downloadHeartbeat)) {
    FailDownload(identity, L"download failed: the Watchdog could not be started\n");
    return;
  }
  ScopedHandle heartbeat(downloadHeartbeat); // the Download thread's, once it runs

  wchar_t percent[72] = {};
  StringCchPrintfW(percent, ARRAYSIZE(percent), L"%d%%", 0);
  SetControlText(g_dialog, IDC_UPDATER_PERCENT, percent);

  DownloadJob* job = static_cast<DownloadJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DownloadJob)));
  HANDLE thread = nullptr;
  if (job) {
    job->identity = identity;
    job->heartbeat = heartbeat.get();
    job->infoFile = g_workflowStage == kStageInfoFile;
    job->size = job->infoFile ? 0 : g_platformValues.size;
    StringCchCopyW(job->url, kPathChars, g_urlBuffer);
    StringCchCopyW(job->destination, kPathChars, g_destinationBuffer);
    thread = StartDownloadThread(job);
  }
  if (!thread) {
    if (job) HeapFree(GetProcessHeap(), 0, job);
    FailDownload(identity, L"download failed: the Download thread could not be started\n");
    return;
  }
  heartbeat.release(); // closed by the Download thread
  // The earlier thread, if any, has reported or been abandoned; its handle is of no more use.
  if (g_downloadThread) CloseHandle(g_downloadThread);
  g_downloadThread = thread;
}

void LoadPlatformValues() { ReadPlatformValues(g_platformSection, g_infoFilePath, &g_platformValues); }

void BeginInfoFileDownload() {
  ZeroMemory(&g_platformValues, sizeof g_platformValues);
  ZeroMemory(g_urlBuffer, sizeof g_urlBuffer);
  StringCchCopyW(g_urlBuffer, kPathChars, kInfoFileUrl);
  SetControlText(g_dialog, IDC_UPDATER_LABEL, L"");
  InterlockedExchange(&g_cancelFlag, 0);
  InterlockedExchange(&g_workflowStage, kStageInfoFile);
  bool ready = PrepareDestination(kInfoFileName);
  StringCchCopyW(g_infoFilePath, kPathChars, g_destinationBuffer);
  DownloadStart(ready ? nullptr : L"download refused: no usable temporary folder\n");
}

static_assert(kLocationChars == kPathChars, "Location is read into the URL buffer");

// A build with a public key fetches only a package that the signed Info file pins by Sha256 and
// bounds by Size: the signature then covers the very bytes that run, and how many may be stored.
static const wchar_t* FindUnpinnedPackage() {
  if (kInfoPublicKey[0] == L'\0') return nullptr;
  if (!g_platformValues.hasSha256) return L"download refused: no Sha256 for the package\n";
  return g_platformValues.hasSize ? nullptr : L"download refused: no Size for the package\n";
}

// A Size that is there but unusable names no length to hold the package to: nothing is fetched.
static const wchar_t* FindUnusableSize() {
  if (!g_platformValues.hasSize || g_platformValues.size != 0) return nullptr;
  return L"download refused: Size is not a decimal number from 1 to 4294967295\n";
}

void BeginInstallerDownload() {
  ZeroMemory(g_urlBuffer, sizeof g_urlBuffer);
  const wchar_t* refusal = g_platformValues.locationRefusal;
  if (!refusal) refusal = FindUnpinnedPackage();
  if (!refusal) refusal = FindUnusableSize();
  if (!refusal) StringCchCopyW(g_urlBuffer, kPathChars, g_platformValues.location);
  SetControlText(g_dialog, IDC_UPDATER_STATUS, LookupText(kTextDownloading));
  ShowControl(g_dialog, IDC_UPDATER_PROGRESS, SW_SHOW);
  InterlockedExchange(&g_workflowStage, kStagePackage);
  bool ready = PrepareDestination(kPackageFileName);
  if (!refusal && !ready) refusal = L"download refused: no usable temporary folder\n";
  DownloadStart(refusal);
}
