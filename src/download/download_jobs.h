// The two downloads (the Info file, then the installer package) and the Download thread that
// performs one blocking transfer and reports its end to the main window.
// The begin operations run on the user-interface thread; each transfer runs on its own thread.
#pragma once
#include <windows.h>

#include "info/update_files.h"

// Process-wide, written by the begin operations on the UI thread; bounded by kPathChars. The
// Download thread works on its own copy of the URL and destination, so a transfer that was
// abandoned never reads them again. The paths and the judged values live in info/update_files.h.
extern wchar_t g_urlBuffer[kPathChars]; // what the latest download fetches

// Reads g_platformValues from g_infoFilePath, as the Download thread does; for tests that write
// an Info file of their own.
void LoadPlatformValues();

extern HANDLE g_downloadThread; // the latest Download thread; closed (never waited for) at shutdown

// Identity of the latest download: incremented by each begin operation on the UI thread. A
// Download thread or Watchdog reports only while the report of its own download is still
// pending, so an abandoned or superseded download never posts.
extern volatile LONG g_downloadIdentity;

// The compiled-in address of the Info file.
extern const wchar_t kInfoFileUrl[];

void BeginInfoFileDownload();
// Fetches the package from the Location read with the Info file; a Location that did not fit, was
// empty, or is not an absolute http:// or https:// address is refused before any transfer (code 3
// at once), and so is a Size that is not a usable byte count, and, in a build with a public key, a
// package without Sha256.
void BeginInstallerDownload();

// IsAllowedLocation, the rule Begin installer download applies, lives in location_check.h.

// Supersedes the pending download report and sets the Cancel flag: a transfer still running never
// reports and aborts at its next progress report. UI thread (the Shutdown sequence).
void AbandonDownloads();

// Makes the identity of a new download, whose report is then the one pending: every earlier
// download is superseded and can no longer report. UI thread (the begin operations).
LONG NewDownloadIdentity();

// Claims the one report of download `identity`: returns true exactly once per download, to the
// first of its Download thread and its Watchdog that asks, and never for a superseded one.
bool ClaimDownloadReport(LONG identity);

// The download whose report is still to be made, 0 once claimed. Set by NewDownloadIdentity
// on the UI thread, cleared by the claim (Download thread or Watchdog), both interlocked; read by
// the progress sink on every report.
extern volatile LONG g_unclaimedReport;

// True while download `identity` may still report: neither claimed nor superseded. The
// progress sink aborts a transfer for which this no longer holds.
inline bool IsDownloadReportPending(LONG identity) { return g_unclaimedReport == identity; }
