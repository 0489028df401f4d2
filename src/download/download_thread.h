// The Download thread: one blocking transfer, then one judgement of what it stored and one
// report to the main window. Internal to the download engine; started on the UI thread.
#pragma once
#include <windows.h>

#include "info/update_files.h"

// Everything one transfer needs, copied when it starts: it belongs to the Download thread, which
// frees it, so that a transfer that outlives its download never reads shared buffers.
struct DownloadJob {
  LONG identity;
  HANDLE heartbeat; // the Download thread's own duplicate of the Heartbeat event; closed by it
  wchar_t url[kPathChars];
  wchar_t destination[kPathChars];
  bool infoFile; // the Info file: at most kInfoFileMaxBytes, and judged before any value is read
  ULONG size;    // the package's Size from the Info file, 0 when none: exactly that many bytes
};

// What the progress sink learnt of one transfer.
struct TransferFacts {
  DWORD httpStatus; // 0 when no response was reported
  ULONG lastTotal;  // the last non-zero total of the progress reports, 0 when none came
  bool encoded;     // the body came with a Content-Encoding: the total counts encoded bytes
  bool overHttp;    // an http: or https: address, which always answers with a status
  ULONG size;       // the Info file's Size for this file, 0 when none
};

// Whether a transfer that returned `result` failed to store the whole file at `destination`
// (with a Size, exactly that many bytes, whatever the server announced or left out):
// then `reason` (kReasonChars) receives one line naming why, and the result is true.
const size_t kReasonChars = 160;
bool FindTransferFailure(const wchar_t* destination, HRESULT result, const TransferFacts& facts, wchar_t* reason);

// Removes a file an earlier run left at `destination`; false (and `reason`, kReasonChars) when
// one is there and cannot be removed.
bool ClearDestination(const wchar_t* destination, wchar_t* reason);

// Starts the Download thread on `job`, which then owns it. Returns the thread's handle, or null
// when no thread could be created (the job then stays the caller's).
HANDLE StartDownloadThread(DownloadJob* job);

// Ends download `identity` as failed, at once: its Watchdog stopped, then (if its report is still
// unclaimed) `reason` written to the debugger output and code 3 posted. Any thread.
void FailDownload(LONG identity, const wchar_t* reason);
