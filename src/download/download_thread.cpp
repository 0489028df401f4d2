// The Download thread: fetches one file with URLDownloadToFileW under the progress sink, then
// decides whether the whole file arrived and reports it. Runs on its own thread, one per download.
#include "download/download_thread.h"

#include <urlmon.h>
#include <wininet.h>
#include <strsafe.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "download/progress_sink.h"
#include "download/watchdog.h"

const size_t kReasonChars = 160;

void FailDownload(LONG identity, const wchar_t* reason) {
  WatchdogStopFor(identity);
  if (!ClaimDownloadReport(identity)) return;
  OutputDebugStringW(reason);
  PostMessageW(g_mainWindow, WM_WORKFLOW, kWorkflowFailed, 0);
}

// A transfer counts as whole when the call succeeded, the server's status (if one came) is a
// success, and the stored file is as long as the last total reported (if one was). The platform
// reports S_OK for an error page and for a body cut short, so the result alone is not enough.
static bool FindFailure(const DownloadJob& job, HRESULT result, const MyCallback& sink, wchar_t* reason) {
  if (result != S_OK) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: result 0x%08lX\n", static_cast<unsigned long>(result));
    return true;
  }
  DWORD status = sink.httpStatus();
  if (status != 0 && (status < 200 || status > 299)) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: HTTP status %lu\n", status);
    return true;
  }
  ULONG total = sink.lastTotal();
  if (total == 0) return false; // no total (chunked): the status decides
  WIN32_FILE_ATTRIBUTE_DATA file = {};
  if (!GetFileAttributesExW(job.destination, GetFileExInfoStandard, &file)) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: nothing stored of %lu bytes (error %lu)\n", total,
                     GetLastError());
    return true;
  }
  ULONGLONG size = (static_cast<ULONGLONG>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
  if ((file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || size != total) {
    StringCchPrintfW(reason, kReasonChars, L"download failed: %llu of %lu bytes stored\n", size, total);
    return true;
  }
  return false;
}

static void ReportEnd(const DownloadJob& job, HRESULT result, const MyCallback& sink) {
  if (result == E_ABORT) {
    if (ClaimDownloadReport(job.identity)) PostMessageW(g_mainWindow, WM_WORKFLOW, kWorkflowAborted, 0);
    return;
  }
  wchar_t reason[kReasonChars] = {};
  if (FindFailure(job, result, sink, reason)) {
    FailDownload(job.identity, reason);
  } else if (ClaimDownloadReport(job.identity)) {
    PostMessageW(g_mainWindow, WM_WORKFLOW, kWorkflowFinished, 0);
  }
}

static DWORD WINAPI DownloadThread(void* parameter) {
  DownloadJob* job = static_cast<DownloadJob*>(parameter);
  {
    MyCallback sink(job->heartbeat, job->identity);
    DeleteUrlCacheEntryW(job->url);
    HRESULT result = URLDownloadToFileW(nullptr, job->url, job->destination, 0, &sink);
    // Whatever the totals were, this download's Watchdog ends before its report, so no code 3
    // can follow a code 1 or 2.
    WatchdogStopFor(job->identity);
    ReportEnd(*job, result, sink);
  }
  CloseHandle(job->heartbeat);
  HeapFree(GetProcessHeap(), 0, job);
  return 0;
}

HANDLE StartDownloadThread(DownloadJob* job) {
  return CreateThread(nullptr, 0, DownloadThread, job, 0, nullptr);
}
