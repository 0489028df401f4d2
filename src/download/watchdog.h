// The Watchdog: one thread per download that reports a transfer with no progress report for
// 20 seconds as failed (code 3), and an Info file not whole 60 seconds after its request; and
// Watchdog stop, which ends it by a stop signal.
// Started and stopped on the UI thread; the Download thread stops its own one.
#pragma once
#include <windows.h>

// How long a Watchdog waits for a heartbeat: 20000 ms in the program; in-process tests shorten
// it. Read by each Watchdog before every wait.
extern DWORD g_watchdogTimeoutMs;

// How long the whole Info file may take from its request (it is at most 1 MiB): 60000 ms in the
// program; in-process tests shorten it. Read by Download start, which hands it to the Info file's
// Watchdog. Heartbeats do not extend it, so a trickle that never stalls still ends. The package
// has no such bound: its progress is on screen, and the user can end it.
extern DWORD g_infoFileDeadlineMs;

// Handles of the running Watchdog; both null when none runs. Written by WatchdogStart on the UI
// thread; taken (set to null) under a lock by whichever caller of a stop comes first.
extern HANDLE g_heartbeatEvent; // manual reset; the begin operation's handle, closed by the stop
extern HANDLE g_watchdogThread; // closed by the stop once the thread has left (or a grace period)

// Starts a Watchdog for download `identity`, first stopping any that still runs. With a
// `deadlineMs` other than 0 (the Info file's), it also reports the download as failed once that
// long has passed since this start, whatever the heartbeats; it then reports the line
// "Info file refused: not complete within N s". The Watchdog and the Download thread each get
// their own duplicate of the Heartbeat event, so no thread ever waits on or sets a closed handle;
// `downloadHeartbeat` receives the Download thread's one, which the Download thread closes.
// Returns 0 when the event or thread cannot be created: then nothing runs and `downloadHeartbeat`
// is null.
int WatchdogStart(LONG identity, DWORD deadlineMs, HANDLE* downloadHeartbeat);

// Ends the running Watchdog, if any, and closes the handles stored above; returns 1 always.
// Safe from the UI thread and the Download thread, also at the same time; never waits on the
// UI thread.
int WatchdogStop();

// As WatchdogStop, but only when the running Watchdog watches download `identity`: the
// Download thread uses it, so that a late transfer never stops a later download's Watchdog.
int WatchdogStopFor(LONG identity);
