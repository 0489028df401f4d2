// The Watchdog thread and its start and stop. The thread runs on its own; start runs on the UI
// thread, stop on the UI thread or the Download thread (also both at once).
//
// Nothing is ended by force: a stalled or late transfer is abandoned (its report claimed here, see
// ClaimDownloadReport), and the Watchdog itself leaves when its stop event is set. Every handle a
// thread waits on or sets is its own duplicate, closed by that thread, so closing the stored
// handles never pulls one from under a running wait.
#include "download/watchdog.h"

#include <strsafe.h>

#include "base/owners.h"
#include "base/shell_state.h"
#include "base/workflow_protocol.h"
#include "download/download_report.h"

DWORD g_watchdogTimeoutMs = 20000;
DWORD g_infoFileDeadlineMs = 60000;
HANDLE g_heartbeatEvent = nullptr;
HANDLE g_watchdogThread = nullptr;

// Guards the stored handles and the two variables below, so that two stoppers never take the
// same handle. Held only to read or swap them, never across a wait. A spin lock rather than an SRW
// lock: the program must load on XP x64 and Server 2003 to end there quietly, and those have none.
static LONG s_watchdogLock = 0;
static HANDLE s_stopEvent = nullptr;  // manual reset; set by a stop; the thread holds a duplicate
static LONG s_watchdogIdentity = 0;   // the download the running Watchdog watches

static void LockWatchdog() {
  while (InterlockedCompareExchange(&s_watchdogLock, 1, 0) != 0) SwitchToThread();
}

static void UnlockWatchdog() { InterlockedExchange(&s_watchdogLock, 0); }

// How long a stop waits for the Watchdog to leave. It only posts and writes debugger output, so
// it leaves at once; past this it is left to finish on its own handles.
const DWORD kWatchdogLeaveMs = 10000;

// What one Watchdog thread owns: its duplicates of the two events, and its deadline. Freed by
// the thread.
struct WatchdogContext {
  HANDLE heartbeat;
  HANDLE stop;
  LONG identity;
  DWORD startedAt;  // GetTickCount at the start (DWORD arithmetic survives the wrap)
  DWORD deadlineMs; // 0: none, or none left to report
};

// The handles a stop has taken out of the stored state.
struct TakenWatchdog {
  HANDLE heartbeat;
  HANDLE stop;
  HANDLE thread;
};

// No heartbeat within the timeout, or the deadline passed: the first of this download's two
// reporters to claim the report abandons the transfer (Cancel flag; the sink aborts it at its next
// report) and tells the controller with `line`. Later timeouts find the report claimed and stay
// silent.
static void AbandonTransfer(LONG identity, const wchar_t* line) {
  if (!ClaimDownloadReport(identity)) return;
  InterlockedExchange(&g_cancelFlag, 1);
  OutputDebugStringW(line);
  PostWorkflow(kWorkflowFailed);
}

static void ReportLate(const WatchdogContext& context) {
  wchar_t line[80] = {};
  StringCchPrintfW(line, ARRAYSIZE(line), L"Info file refused: not complete within %lu s\n",
                   static_cast<unsigned long>(context.deadlineMs / 1000));
  AbandonTransfer(context.identity, line);
}

// How long the next wait may last: the stall bound, or less when the deadline comes first
// (`untilDeadline` then true). A transfer that never reports at all still meets its deadline here,
// which a check in the sink, run only on a report, could not promise.
static DWORD NextWait(const WatchdogContext& context, bool* untilDeadline) {
  DWORD wait = g_watchdogTimeoutMs;
  *untilDeadline = false;
  if (context.deadlineMs != 0) {
    DWORD elapsed = GetTickCount() - context.startedAt;
    DWORD left = elapsed < context.deadlineMs ? context.deadlineMs - elapsed : 0;
    if (left <= wait) {
      wait = left;
      *untilDeadline = true;
    }
  }
  return wait;
}

static DWORD WINAPI WatchdogThread(void* parameter) {
  WatchdogContext* context = static_cast<WatchdogContext*>(parameter);
  // The stop event comes first: when both are set, the stop wins.
  HANDLE waits[2] = {context->stop, context->heartbeat};
  for (;;) {
    bool untilDeadline = false;
    DWORD result = WaitForMultipleObjects(2, waits, FALSE, NextWait(*context, &untilDeadline));
    if (result == WAIT_OBJECT_0 + 1) {
      // All reports since the last wake-up count as one heartbeat.
      ResetEvent(context->heartbeat);
    } else if (result == WAIT_TIMEOUT && untilDeadline) {
      ReportLate(*context);
      context->deadlineMs = 0; // reported once; the stall bound goes on as before
    } else if (result == WAIT_TIMEOUT) {
      AbandonTransfer(context->identity, L"watchdog : TIMEOUT\n");
    } else {
      // Stopped. A failed wait on our own handles cannot recover, and repeating it would spin.
      break;
    }
  }
  CloseHandle(context->heartbeat);
  CloseHandle(context->stop);
  HeapFree(GetProcessHeap(), 0, context);
  return 0;
}

static TakenWatchdog TakeStoredLocked() {
  TakenWatchdog taken = {g_heartbeatEvent, s_stopEvent, g_watchdogThread};
  g_heartbeatEvent = nullptr;
  s_stopEvent = nullptr;
  g_watchdogThread = nullptr;
  s_watchdogIdentity = 0;
  return taken;
}

static void EndTaken(const TakenWatchdog& taken) {
  if (taken.stop) {
    SetEvent(taken.stop);
    CloseHandle(taken.stop);
  }
  if (taken.heartbeat) CloseHandle(taken.heartbeat);
  if (taken.thread) {
    if (GetThreadId(taken.thread) != GetCurrentThreadId()) WaitForSingleObject(taken.thread, kWatchdogLeaveMs);
    CloseHandle(taken.thread);
  }
}

// Another handle to the same event, or null.
static HANDLE Duplicate(HANDLE source) {
  HANDLE copy = nullptr;
  if (!source || !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

int WatchdogStart(LONG identity, DWORD deadlineMs, HANDLE* downloadHeartbeat) {
  *downloadHeartbeat = nullptr;
  // Until the thread runs, every handle made here is closed by its owner on the way out.
  ScopedHandle heartbeat(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ScopedHandle watchdogHeartbeat(Duplicate(heartbeat.get()));
  ScopedHandle watchdogStop(Duplicate(stop.get()));
  ScopedHandle forDownload(Duplicate(heartbeat.get()));
  if (!watchdogHeartbeat.get() || !watchdogStop.get() || !forDownload.get()) return 0;
  WatchdogContext* context =
      static_cast<WatchdogContext*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WatchdogContext)));
  if (!context) return 0;
  context->heartbeat = watchdogHeartbeat.get();
  context->stop = watchdogStop.get();
  context->identity = identity;
  context->startedAt = GetTickCount();
  context->deadlineMs = deadlineMs;
  HANDLE thread = CreateThread(nullptr, 0, WatchdogThread, context, 0, nullptr);
  if (!thread) {
    HeapFree(GetProcessHeap(), 0, context);
    return 0;
  }
  // The thread owns the context and its duplicates from here on.
  watchdogHeartbeat.release();
  watchdogStop.release();

  LockWatchdog();
  TakenWatchdog previous = TakeStoredLocked();
  g_heartbeatEvent = heartbeat.release();
  s_stopEvent = stop.release();
  g_watchdogThread = thread;
  s_watchdogIdentity = identity;
  UnlockWatchdog();
  EndTaken(previous);

  *downloadHeartbeat = forDownload.release();
  return 1;
}

int WatchdogStop() {
  LockWatchdog();
  TakenWatchdog taken = TakeStoredLocked();
  UnlockWatchdog();
  EndTaken(taken);
  return 1;
}

int WatchdogStopFor(LONG identity) {
  TakenWatchdog taken = {};
  LockWatchdog();
  if (s_watchdogIdentity == identity) taken = TakeStoredLocked();
  UnlockWatchdog();
  EndTaken(taken);
  return 1;
}
