// The Watchdog on its own: its stop (before any download, twice, from two threads at once), its
// timeout report, heartbeats that keep it quiet, and a report that was already claimed.
// Timeouts are shortened here; the real 20 seconds are tried once, in the download cases.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/workflow.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "download_harness.h"

using download_testing::UpdaterWindows;
using testing_support::DebugOutputCapture;
using testing_support::PumpUntil;

namespace {

// A duplicate of the running Watchdog's thread handle, to see it leave after the stored one is gone.
HANDLE WatchdogThreadCopy() {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), g_watchdogThread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
  return copy;
}

bool HasLeft(HANDLE thread, DWORD timeoutMs) { return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0; }

// The program's bounds as built, read during static initialisation, before any test shortens them.
const DWORD kBuiltWatchdogTimeoutMs = g_watchdogTimeoutMs;
const DWORD kBuiltInfoFileDeadlineMs = g_infoFileDeadlineMs;

TEST(WatchdogBounds, TwentySecondsOfSilenceAndSixtyForTheWholeInfoFile) {
  EXPECT_EQ(20000u, kBuiltWatchdogTimeoutMs);
  EXPECT_EQ(60000u, kBuiltInfoFileDeadlineMs);
}

class WatchdogTest : public ::testing::Test {
protected:
  void SetUp() override {
    WatchdogStop();
    InterlockedExchange(&g_cancelFlag, 0);
    g_watchdogTimeoutMs = 20000;
  }
  void TearDown() override {
    WatchdogStop();
    g_watchdogTimeoutMs = 20000;
    InterlockedExchange(&g_cancelFlag, 0);
  }
  UpdaterWindows windows_;
};

TEST_F(WatchdogTest, StopWithNoneRunningDoesNothing) {
  ASSERT_EQ(nullptr, g_watchdogThread);
  ASSERT_EQ(nullptr, g_heartbeatEvent);
  EXPECT_EQ(1, WatchdogStop());
  EXPECT_EQ(1, WatchdogStop());
  EXPECT_EQ(1, WatchdogStopFor(12345));
  EXPECT_EQ(nullptr, g_watchdogThread);
  EXPECT_EQ(nullptr, g_heartbeatEvent);
}

TEST_F(WatchdogTest, StartStoresBothHandlesAndStopClearsThem) {
  HANDLE heartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &heartbeat));
  ASSERT_NE(nullptr, heartbeat);
  ASSERT_NE(nullptr, g_watchdogThread);
  ASSERT_NE(nullptr, g_heartbeatEvent);
  EXPECT_NE(heartbeat, g_heartbeatEvent) << "the Download thread must hold its own handle";
  HANDLE thread = WatchdogThreadCopy();

  EXPECT_EQ(1, WatchdogStop());
  EXPECT_EQ(nullptr, g_watchdogThread);
  EXPECT_EQ(nullptr, g_heartbeatEvent);
  EXPECT_TRUE(HasLeft(thread, 2000)) << "the Watchdog thread is still running after its stop";
  EXPECT_EQ(1, WatchdogStop()) << "a second stop";
  EXPECT_EQ(nullptr, g_watchdogThread);
  EXPECT_EQ(nullptr, g_heartbeatEvent);
  // The Download thread's handle outlives the stop: setting it is still valid.
  EXPECT_TRUE(SetEvent(heartbeat)) << GetLastError();
  CloseHandle(heartbeat);
  CloseHandle(thread);
}

TEST_F(WatchdogTest, StopFromTwoThreadsAtOnce) {
  struct Stopper {
    HANDLE go;
    LONG identity;
    bool byIdentity;
    int result;
  };
  auto stopper = [](void* parameter) -> DWORD {
    Stopper* s = static_cast<Stopper*>(parameter);
    WaitForSingleObject(s->go, INFINITE);
    s->result = s->byIdentity ? WatchdogStopFor(s->identity) : WatchdogStop();
    return 0;
  };
  for (int round = 0; round < 100; ++round) {
    LONG identity = NewDownloadIdentity();
    HANDLE heartbeat = nullptr;
    ASSERT_EQ(1, WatchdogStart(identity, 0, &heartbeat));
    HANDLE watchdog = WatchdogThreadCopy();
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Odd rounds: one thread as the UI thread (any Watchdog), one as the Download thread (its own).
    Stopper stoppers[2] = {{go, identity, false, 0}, {go, identity, round % 2 == 1, 0}};
    HANDLE threads[2] = {CreateThread(nullptr, 0, stopper, &stoppers[0], 0, nullptr),
                         CreateThread(nullptr, 0, stopper, &stoppers[1], 0, nullptr)};
    SetEvent(go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 10000)) << "round " << round;
    EXPECT_EQ(1, stoppers[0].result);
    EXPECT_EQ(1, stoppers[1].result);
    EXPECT_EQ(nullptr, g_watchdogThread) << "round " << round;
    EXPECT_EQ(nullptr, g_heartbeatEvent) << "round " << round;
    EXPECT_TRUE(HasLeft(watchdog, 2000)) << "round " << round;
    for (HANDLE h : {threads[0], threads[1], go, watchdog, heartbeat}) CloseHandle(h);
    if (HasFailure()) break;
  }
}

TEST_F(WatchdogTest, StopForAnotherDownloadLeavesItRunning) {
  LONG identity = NewDownloadIdentity();
  HANDLE heartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(identity, 0, &heartbeat));
  EXPECT_EQ(1, WatchdogStopFor(identity - 1));
  EXPECT_NE(nullptr, g_watchdogThread);
  EXPECT_EQ(1, WatchdogStopFor(identity));
  EXPECT_EQ(nullptr, g_watchdogThread);
  CloseHandle(heartbeat);
}

TEST_F(WatchdogTest, StartReplacesAndEndsARunningWatchdog) {
  HANDLE first = nullptr, second = nullptr;
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &first));
  HANDLE firstThread = WatchdogThreadCopy();
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &second));
  EXPECT_TRUE(HasLeft(firstThread, 2000)) << "the replaced Watchdog still runs";
  EXPECT_NE(nullptr, g_watchdogThread);
  EXPECT_EQ(1, WatchdogStop());
  for (HANDLE h : {first, second, firstThread}) CloseHandle(h);
}

TEST_F(WatchdogTest, SilenceReportsCodeThreeOnceAndCancels) {
  DebugOutputCapture capture;
  g_watchdogTimeoutMs = 300;
  HANDLE heartbeat = nullptr;
  DWORD start = GetTickCount();
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &heartbeat));
  ASSERT_TRUE(windows_.WaitForRecords(1, 5000)) << "no code 3 after the timeout";
  DWORD elapsed = windows_.records()[0].tick - start;
  EXPECT_GE(elapsed, 250u);
  EXPECT_EQ("3", windows_.Codes());
  EXPECT_EQ(1, g_cancelFlag);
  EXPECT_TRUE(capture.WaitFor("watchdog : TIMEOUT\n", 5000)) << capture.joined();
  // It goes on waiting, but its download's report is made: further timeouts stay silent.
  EXPECT_FALSE(windows_.WaitForRecords(2, 4 * g_watchdogTimeoutMs)) << windows_.Codes();
  EXPECT_NE(nullptr, g_watchdogThread) << "a timeout ended the Watchdog";
  CloseHandle(heartbeat);
}

TEST_F(WatchdogTest, HeartbeatsKeepItQuiet) {
  // Reports 100 ms apart against a timeout of 1.5 s: a report may come late by more than a
  // second on a loaded machine before the Watchdog could rightly speak.
  g_watchdogTimeoutMs = 1500;
  struct Beats {
    HANDLE heartbeat;
    volatile LONG lastBeat; // GetTickCount just before the last report
  } beats = {nullptr, 0};
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &beats.heartbeat));
  // Reports for 4 s (more than two and a half timeouts), from a thread as the sink does.
  auto beat = [](void* parameter) -> DWORD {
    Beats* b = static_cast<Beats*>(parameter);
    for (int i = 0; i < 40; ++i) {
      InterlockedExchange(&b->lastBeat, static_cast<LONG>(GetTickCount()));
      SetEvent(b->heartbeat);
      Sleep(100); // the pace of the simulated transfer, not a wait for anything
    }
    return 0;
  };
  HANDLE beater = CreateThread(nullptr, 0, beat, &beats, 0, nullptr);
  ASSERT_TRUE(PumpUntil([beater] { return WaitForSingleObject(beater, 0) == WAIT_OBJECT_0; }, 30000));
  EXPECT_EQ("", windows_.Codes()) << "timed out although reports kept coming";
  EXPECT_EQ(0, g_cancelFlag);
  // Silence then times out, no sooner than one timeout after the last report.
  ASSERT_TRUE(windows_.WaitForRecords(1, 10000));
  DWORD afterLastBeat = windows_.records()[0].tick - static_cast<DWORD>(beats.lastBeat);
  EXPECT_GE(afterLastBeat + 20, g_watchdogTimeoutMs) << "timed out too soon after the last report";
  EXPECT_EQ("3", windows_.Codes());
  CloseHandle(beater);
  CloseHandle(beats.heartbeat);
}

TEST_F(WatchdogTest, AClaimedReportMakesTheTimeoutSilent) {
  g_watchdogTimeoutMs = 200;
  LONG identity = NewDownloadIdentity();
  HANDLE heartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(identity, 0, &heartbeat));
  ASSERT_TRUE(ClaimDownloadReport(identity)); // as the Download thread does with its result
  EXPECT_FALSE(windows_.WaitForRecords(1, 5 * g_watchdogTimeoutMs)) << windows_.Codes();
  EXPECT_EQ(0, g_cancelFlag) << "a Watchdog whose download has reported cancelled the next one";
  CloseHandle(heartbeat);
}

TEST_F(WatchdogTest, StoppedBeforeItsTimeoutItNeverReports) {
  g_watchdogTimeoutMs = 300;
  HANDLE heartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), 0, &heartbeat));
  HANDLE thread = WatchdogThreadCopy();
  EXPECT_EQ(1, WatchdogStop());
  ASSERT_TRUE(HasLeft(thread, 2000));
  EXPECT_FALSE(windows_.WaitForRecords(1, 3 * g_watchdogTimeoutMs)) << windows_.Codes();
  EXPECT_EQ(0, g_cancelFlag);
  CloseHandle(thread);
  CloseHandle(heartbeat);
}

} // namespace
