// The Watchdog: one thread per download that reports a transfer with no progress report for
// 20 seconds as failed (code 3), and Watchdog stop, which ends it by a stop signal.
#pragma once
#include <windows.h>

// Fixed at 20 seconds in the program; in-process tests shorten it.
extern DWORD g_watchdogTimeoutMs;

// Handles of the running Watchdog; both null when none runs. Written by the begin operations on
// the UI thread; taken (swapped to null) by whichever caller of WatchdogStop comes first.
extern HANDLE g_heartbeatEvent; // manual reset; set by the progress sink on every report
extern HANDLE g_watchdogThread;

// Starts a Watchdog for download `identity` watching g_heartbeatEvent (created here). Returns 0
// when the event or thread cannot be created; nothing then runs.
int WatchdogStart(LONG identity);

// Ends the running Watchdog, if any, and closes the handles stored above; returns 1 always.
// Safe from the UI thread and the Download thread, also at the same time.
int WatchdogStop();
