// The one report of each download: the identity a begin operation gives it, and the claim that
// lets exactly one of its reporters (Download thread, Watchdog) tell the controller. The bottom of
// the download engine: the begin operations, the Download thread, the sink and the Watchdog all
// use it, and it uses none of them. Any thread.
#pragma once
#include <windows.h>

// Identity of the latest download: incremented by each begin operation on the UI thread. A
// Download thread or Watchdog reports only while the report of its own download is still
// pending, so an abandoned or superseded download never posts.
extern volatile LONG g_downloadIdentity;

// The download whose report is still to be made, 0 once claimed. Set by NewDownloadIdentity
// on the UI thread, cleared by the claim (Download thread or Watchdog), both interlocked; read by
// the progress sink on every report.
extern volatile LONG g_unclaimedReport;

// Makes the identity of a new download, whose report is then the one pending: every earlier
// download is superseded and can no longer report. UI thread (the begin operations).
LONG NewDownloadIdentity();

// Claims the one report of download `identity`: returns true exactly once per download, to the
// first of its Download thread and its Watchdog that asks, and never for a superseded one.
bool ClaimDownloadReport(LONG identity);

// True while download `identity` may still report: neither claimed nor superseded. The
// progress sink aborts a transfer for which this no longer holds.
inline bool IsDownloadReportPending(LONG identity) { return g_unclaimedReport == identity; }

// Supersedes the pending download report and sets the Cancel flag: a transfer still running never
// reports and aborts at its next progress report. UI thread (the Shutdown sequence).
void AbandonDownloads();
