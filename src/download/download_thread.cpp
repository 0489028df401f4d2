// The Download thread: fetches one file with URLDownloadToFileW under the progress sink, then
// decides whether the whole file arrived and reports it. Runs on its own thread, one per download.
#include "download/download_thread.h"

#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>
#include <strsafe.h>

#include "base/owners.h"
#include "base/system_libraries.h"
#include "base/workflow_protocol.h"
#include "download/download_report.h"
#include "download/progress_sink.h"
#include "download/watchdog.h"
#include "info/info_freshness.h"
#include "info/info_judgement.h"
#include "info/info_signature.h"
#include "info/package_check.h"
#include "info/platform.h"
#include "system/info_serial.h"

void FailDownload(LONG identity, const wchar_t* reason) {
  WatchdogStopFor(identity);
  if (!ClaimDownloadReport(identity)) return;
  OutputDebugStringW(reason);
  PostWorkflow(kWorkflowFailed);
}

// A transfer counts as whole when the call succeeded, the server's status (if one came) is a
// success, and the stored file is as long as the Info file's Size (if it has one) and the last
// total reported (if one was, for a body that was not encoded). The platform reports S_OK for an
// error page and for a body cut short, even one sent without a length, so the result alone is not
// enough.
bool FindTransferFailure(const wchar_t* destination, HRESULT result, const TransferFacts& facts, wchar_t* reason) {
  if (result != S_OK) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: result 0x%08lX\n", static_cast<unsigned long>(result));
    return true;
  }
  if (facts.overHttp && facts.httpStatus == 0) {
    // A server or proxy that closed without answering: the call still reports success.
    StringCchCopyW(reason, kReasonChars, L"download failed: no HTTP response\n");
    return true;
  }
  if (facts.httpStatus != 0 && (facts.httpStatus < 200 || facts.httpStatus > 299)) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: HTTP status %lu\n", facts.httpStatus);
    return true;
  }
  // Without a Size, or a total to compare (an encoded body's counts other bytes), the status decides.
  ULONG total = facts.encoded ? 0 : facts.lastTotal;
  if (total == 0 && facts.size == 0) return false;
  WIN32_FILE_ATTRIBUTE_DATA file = {};
  if (!GetFileAttributesExW(destination, GetFileExInfoStandard, &file)) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: nothing stored of %lu bytes (error %lu)\n",
                     facts.size ? facts.size : total, GetLastError());
    return true;
  }
  ULONGLONG size = (static_cast<ULONGLONG>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
  if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) size = 0; // nothing of the file is there
  if (facts.size != 0 && size != facts.size) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: %llu bytes stored, Size is %lu\n", size, facts.size);
    return true;
  }
  if (total != 0 && size != total) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: %llu of %lu bytes stored\n", size, total);
    return true;
  }
  return false;
}

// A transfer that the sink aborted for its size (an Info file past 1 MiB, a package past or other
// than its Size): `reason` (kReasonChars) names why, and the result is true.
static bool FindSizeAbort(const DownloadJob& job, const MyCallback& sink, wchar_t* reason) {
  const unsigned long long bytes = sink.abortBytes();
  switch (sink.sizeAbort()) {
  case kSizeWithin:
    return false;
  case kSizeUnmeasured:
    StringCchCopyW(reason, kReasonChars, L"download failed: the cache file's name is too long to measure\n");
    break;
  case kSizeAnnouncedOther:
    StringCchPrintfW(reason, kReasonChars, L"download failed: %llu bytes announced, Size is %lu\n", bytes, job.size);
    break;
  case kSizeAnnouncedBeyond:
    StringCchPrintfW(reason, kReasonChars, L"Info file refused: larger than 1 MiB (%llu bytes announced)\n", bytes);
    break;
  case kSizeStoredBeyond:
    if (job.infoFile) {
      StringCchPrintfW(reason, kReasonChars, L"Info file refused: larger than 1 MiB (%llu bytes stored)\n", bytes);
    } else {
      StringCchPrintfW(reason, kReasonChars, L"download failed: more than Size (%lu bytes) stored (%llu bytes)\n",
                       job.size, bytes);
    }
    break;
  }
  return true;
}

// How long, at most, the removal of an unused transfer's files goes on after its report, and how
// often it tries: WinINet keeps the cache file of an aborted transfer open until its pending read
// ends (the server sends on, or closes), and nothing signals that moment. As long as the
// Watchdog lets a transfer stay silent.
const DWORD kCacheReleaseMs = 20000;
const DWORD kCacheRetryMs = 100;

// Removes what a transfer that ends without a file to use left: the file at its destination (the
// platform copies what it had there even after an abort), and the cache's copy, whether an entry
// or a file the cache never committed (an aborted transfer's, which deleting the entry does not
// reach), trying again for up to `waitMs` while the platform still holds it. True when it is gone.
static bool DiscardTransfer(const DownloadJob& job, const MyCallback& sink, DWORD waitMs) {
  DeleteFileW(job.destination);
  SystemDeleteUrlCacheEntry(job.url);
  const wchar_t* cacheFile = sink.cacheFile();
  for (DWORD waited = 0;; waited += kCacheRetryMs) {
    if (cacheFile[0] == L'\0' || DeleteFileW(cacheFile) || GetLastError() != ERROR_SHARING_VIOLATION) return true;
    if (waited >= waitMs) return false;
    Sleep(kCacheRetryMs);
  }
}

// Ends a transfer whose file is not used: what it left is removed, its report is made if still
// pending (code 3 with `reason`, or without one code 1), and then the removal goes on while the
// platform still holds its cache file, which the report does not wait for.
static void EndUnused(const DownloadJob& job, const MyCallback& sink, const wchar_t* reason) {
  const bool removed = DiscardTransfer(job, sink, 0);
  if (reason) {
    FailDownload(job.identity, reason);
  } else if (ClaimDownloadReport(job.identity)) {
    PostWorkflow(kWorkflowAborted);
  }
  if (!removed) DiscardTransfer(job, sink, kCacheReleaseMs);
}

static void ReportEnd(const DownloadJob& job, HRESULT result, const MyCallback& sink) {
  wchar_t reason[kReasonChars] = {};
  // The sink's abort for the size decides first: the platform reports S_OK for an abort that
  // came after the last of the data had arrived.
  if (FindSizeAbort(job, sink, reason)) {
    EndUnused(job, sink, reason);
    return;
  }
  if (result == E_ABORT) {
    // Cancelled, or abandoned by its Watchdog or a later download: only a pending report is made.
    EndUnused(job, sink, nullptr);
    return;
  }
  bool overHttp = _wcsnicmp(job.url, L"http://", 7) == 0 || _wcsnicmp(job.url, L"https://", 8) == 0;
  TransferFacts facts = {sink.httpStatus(), sink.lastTotal(), sink.contentEncoded(), overHttp, job.size};
  if (FindTransferFailure(job.destination, result, facts, reason)) {
    EndUnused(job, sink, reason); // a package of another size than its Size never stays to be run
  } else if (!job.infoFile) {
    if (ClaimDownloadReport(job.identity)) {
      PostWorkflow(kWorkflowFinished);
    } else {
      EndUnused(job, sink, nullptr); // abandoned: its report was made, and nobody is left to use it
    }
  } else {
    // Judged before any value is read (its size always, its signature in a build with a public
    // key), and read once under the same hold (read sharing only), so that nothing can replace it
    // in between; published only by the thread whose report this is.
    PlatformValues values;
    const wchar_t* refusal = nullptr;
    {
      ScopedHandle held(OpenHeldFile(job.destination));
      refusal = ReadJudgedInfoFile(held.get(), job.destination, kInfoPublicKey, g_platformSection, &values);
      // Expires and Serial (a build with a key), still held; the serial kept once all is judged good.
      if (!refusal) {
        refusal = AcceptInfoFreshness(job.destination, kInfoPublicKey, {ReadHighestInfoSerial, WriteHighestInfoSerial},
                                      reason, kReasonChars);
      }
    } // closed before a refused file is deleted: the hold shares no deletion
    if (refusal) {
      EndUnused(job, sink, refusal);
    } else if (ClaimDownloadReport(job.identity)) {
      g_platformValues = values;
      PostWorkflow(kWorkflowFinished);
    } else {
      EndUnused(job, sink, nullptr);
    }
  }
}

// Removes what an earlier run left at `destination`. The platform call reports success when it
// cannot replace a file (locked, or a package still running), and a leftover of the announced
// size would then pass for this download. False, with `reason` set, when something stays there.
bool ClearDestination(const wchar_t* destination, wchar_t* reason) {
  SetFileAttributesW(destination, FILE_ATTRIBUTE_NORMAL); // a read-only leftover is ours to replace
  if (DeleteFileW(destination)) return true;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  StringCchPrintfW(reason, kReasonChars, L"download failed: an earlier file is in the way (error %lu)\n", error);
  return false;
}

static DWORD WINAPI DownloadThread(void* parameter) {
  DownloadJob* job = static_cast<DownloadJob*>(parameter);
  // The transfer's own apartment: a transfer that outlives the Shutdown sequence (which leaves the
  // UI thread's) still has one.
  HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  wchar_t reason[kReasonChars] = {};
  if (!ClearDestination(job->destination, reason)) {
    FailDownload(job->identity, reason);
  } else {
    MyCallback sink(job->heartbeat, job->identity);
    if (job->infoFile) {
      sink.limitSize(kInfoFileMaxBytes);
    } else {
      sink.expectSize(job->size);
    }
    SystemDeleteUrlCacheEntry(job->url);
    HRESULT result = SystemUrlDownloadToFile(nullptr, job->url, job->destination, 0, &sink);
    // Whatever the totals were, this download's Watchdog ends before its report, so no code 3
    // can follow a code 1 or 2.
    WatchdogStopFor(job->identity);
    ReportEnd(*job, result, sink);
  }
  CloseHandle(job->heartbeat);
  HeapFree(GetProcessHeap(), 0, job);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

HANDLE StartDownloadThread(DownloadJob* job) {
  return CreateThread(nullptr, 0, DownloadThread, job, 0, nullptr);
}
