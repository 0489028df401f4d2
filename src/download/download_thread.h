// The Download thread: one blocking transfer, then one judgement of what it stored and one
// report to the main window. Internal to the download engine; started on the UI thread.
#pragma once
#include <windows.h>

#include "download/download_jobs.h"

// Everything one transfer needs, copied when it starts: it belongs to the Download thread, which
// frees it, so that a transfer that outlives its download never reads shared buffers.
struct DownloadJob {
  LONG identity;
  HANDLE heartbeat; // the Download thread's own duplicate of the Heartbeat event; closed by it
  wchar_t url[kPathChars];
  wchar_t destination[kPathChars];
};

// Starts the Download thread on `job`, which then owns it. Returns the thread's handle, or null
// when no thread could be created (the job then stays the caller's).
HANDLE StartDownloadThread(DownloadJob* job);

// Ends download `identity` as failed, at once: its Watchdog stopped, then (if its report is still
// unclaimed) `reason` written to the debugger output and code 3 posted. Any thread.
void FailDownload(LONG identity, const wchar_t* reason);
