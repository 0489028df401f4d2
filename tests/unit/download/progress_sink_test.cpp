// MyCallback driven directly on the test's UI thread against a real updater dialog: what each
// report does to the heartbeat, the Cancel flag, the progress bar, the percentage and the
// Watchdog, and what the sink answers as a COM object.
#include <windows.h>
#include <commctrl.h>
#include <urlmon.h>

#include <string>

#include <gtest/gtest.h>

#include "app/workflow.h"
#include "download/download_jobs.h"
#include "download/progress_sink.h"
#include "download/watchdog.h"
#include "download_harness.h"
#include "res/resource.h"

using download_testing::UpdaterWindows;
using testing_support::DebugOutputCapture;
using testing_support::Narrow;

namespace {

class ProgressSinkTest : public ::testing::Test {
protected:
  void SetUp() override {
    g_watchdogTimeoutMs = 20000;
    InterlockedExchange(&g_cancelFlag, 0);
    heartbeat_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    identity_ = NewDownloadIdentity();
  }
  void TearDown() override {
    WatchdogStop();
    g_watchdogTimeoutMs = 20000;
    InterlockedExchange(&g_cancelFlag, 0);
    CloseHandle(heartbeat_);
  }
  bool HeartbeatSet() const { return WaitForSingleObject(heartbeat_, 0) == WAIT_OBJECT_0; }

  UpdaterWindows windows_;
  HANDLE heartbeat_ = nullptr;
  LONG identity_ = 0;
};

TEST_F(ProgressSinkTest, AnswersOnlyHttpNegotiateAndAuthenticate) {
  MyCallback sink(heartbeat_, identity_);
  void* object = nullptr;
  ASSERT_EQ(S_OK, sink.QueryInterface(IID_IHttpNegotiate, &object));
  EXPECT_EQ(static_cast<IHttpNegotiate*>(&sink), object);
  ASSERT_EQ(S_OK, sink.QueryInterface(IID_IAuthenticate, &object));
  EXPECT_EQ(static_cast<IAuthenticate*>(&sink), object);

  const struct {
    const char* name;
    const IID* iid;
  } refused[] = {
      {"IUnknown", &IID_IUnknown},           {"IBindStatusCallback", &IID_IBindStatusCallback},
      {"IHttpNegotiate2", &IID_IHttpNegotiate2}, {"IServiceProvider", &IID_IServiceProvider},
      {"IAuthenticateEx", &IID_IAuthenticateEx}, {"IWindowForBindingUI", &IID_IWindowForBindingUI},
      // Asked for only on a certificate error: an answer could let that error through.
      {"IHttpSecurity", &IID_IHttpSecurity},
  };
  void* const untouched = reinterpret_cast<void*>(static_cast<INT_PTR>(0x5A5A));
  for (const auto& row : refused) {
    object = untouched;
    EXPECT_EQ(E_NOTIMPL, sink.QueryInterface(*row.iid, &object)) << row.name;
    EXPECT_EQ(untouched, object) << row.name << ": the out-pointer was written";
  }
}

// Windows' own sign-in prompt belongs to the window Authenticate returns: the dialog, once per
// transfer, while the user sees it; never during Update mode's silent check, nor for a transfer
// that was cancelled or superseded.
TEST_F(ProgressSinkTest, SignInGetsTheDialogOnlyWhileItIsShownAndOnlyOnce) {
  const HWND dialog = windows_.dialog();
  const struct {
    const char* name;
    LONG updateMode;
    LONG stage;
    LONG cancel;
    bool superseded;
    HWND window; // what the first ask returns; the second returns none
    const char* output;
  } rows[] = {
      {"first run, Info file", 0, kStageInfoFile, 0, false, dialog, "sign-in: Windows' prompt over the dialog\n"},
      {"first run, package", 0, kStagePackage, 0, false, dialog, "sign-in: Windows' prompt over the dialog\n"},
      {"Update mode, package after Install", 1, kStagePackage, 0, false, dialog,
       "sign-in: Windows' prompt over the dialog\n"},
      {"Update mode, silent check", 1, kStageInfoFile, 0, false, nullptr,
       "sign-in refused: the dialog is not shown\n"},
      {"cancelled", 0, kStagePackage, 1, false, nullptr, "sign-in refused: the dialog is not shown\n"},
      {"superseded", 0, kStagePackage, 0, true, nullptr, "sign-in refused: the dialog is not shown\n"},
  };
  const LONG savedMode = g_updateMode, savedStage = g_workflowStage;
  for (const auto& row : rows) {
    DebugOutputCapture capture;
    InterlockedExchange(&g_updateMode, row.updateMode);
    InterlockedExchange(&g_workflowStage, row.stage);
    InterlockedExchange(&g_cancelFlag, row.cancel);
    LONG identity = NewDownloadIdentity();
    if (row.superseded) NewDownloadIdentity();
    MyCallback sink(heartbeat_, identity);
    HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5A5A));
    LPWSTR user = reinterpret_cast<LPWSTR>(static_cast<INT_PTR>(0x5A5A)), password = user;
    EXPECT_EQ(row.window ? S_OK : E_ACCESSDENIED, sink.Authenticate(&window, &user, &password)) << row.name;
    EXPECT_EQ(row.window, window) << row.name;
    EXPECT_EQ(nullptr, user) << row.name << ": credentials were given";
    EXPECT_EQ(nullptr, password) << row.name << ": credentials were given";
    EXPECT_TRUE(capture.WaitFor(row.output, 5000)) << row.name << "\n" << capture.joined();
    // A second ask in the same transfer: the first sign-in was refused, and no second prompt comes.
    window = dialog;
    EXPECT_EQ(E_ACCESSDENIED, sink.Authenticate(&window, &user, &password)) << row.name;
    EXPECT_EQ(nullptr, window) << row.name << ": a second prompt";
    if (row.window) {
      EXPECT_TRUE(capture.WaitFor("sign-in refused: asked once already\n", 5000)) << capture.joined();
      // The next transfer may ask once again.
      MyCallback next(heartbeat_, NewDownloadIdentity());
      EXPECT_EQ(S_OK, next.Authenticate(&window, &user, &password)) << row.name;
      EXPECT_EQ(row.window, window) << row.name;
    }
  }
  EXPECT_EQ(E_INVALIDARG, MyCallback(heartbeat_, identity_).Authenticate(nullptr, nullptr, nullptr));
  InterlockedExchange(&g_updateMode, savedMode);
  InterlockedExchange(&g_workflowStage, savedStage);
}

TEST_F(ProgressSinkTest, EverythingElseIsNotImplementedAndCountsNothing) {
  MyCallback sink(heartbeat_, identity_);
  EXPECT_EQ(0u, sink.AddRef());
  EXPECT_EQ(0u, sink.AddRef());
  EXPECT_EQ(0u, sink.Release());
  LONG priority = 0;
  DWORD flags = 0;
  BINDINFO info = {};
  info.cbSize = sizeof info;
  EXPECT_EQ(E_NOTIMPL, sink.OnStartBinding(0, nullptr));
  EXPECT_EQ(E_NOTIMPL, sink.GetPriority(&priority));
  EXPECT_EQ(E_NOTIMPL, sink.OnLowResource(0));
  EXPECT_EQ(E_NOTIMPL, sink.OnStopBinding(S_OK, nullptr));
  EXPECT_EQ(E_NOTIMPL, sink.GetBindInfo(&flags, &info));
  EXPECT_EQ(E_NOTIMPL, sink.OnDataAvailable(0, 0, nullptr, nullptr));
  EXPECT_EQ(E_NOTIMPL, sink.OnObjectAvailable(IID_IUnknown, nullptr));
}

TEST_F(ProgressSinkTest, NegotiationAddsNoHeadersAndRecordsTheStatus) {
  MyCallback sink(heartbeat_, identity_);
  EXPECT_EQ(0u, sink.httpStatus());
  LPWSTR added = reinterpret_cast<LPWSTR>(static_cast<INT_PTR>(0x5A5A));
  EXPECT_EQ(S_OK, sink.BeginningTransaction(L"http://x/", L"", 0, &added));
  EXPECT_EQ(nullptr, added);
  added = reinterpret_cast<LPWSTR>(static_cast<INT_PTR>(0x5A5A));
  EXPECT_EQ(S_OK, sink.OnResponse(404, L"HTTP/1.1 404 Not Found\r\n", nullptr, &added));
  EXPECT_EQ(nullptr, added);
  EXPECT_EQ(404u, sink.httpStatus());
  EXPECT_EQ(S_OK, sink.OnResponse(200, nullptr, nullptr, nullptr));
  EXPECT_EQ(200u, sink.httpStatus());
}

TEST_F(ProgressSinkTest, NoticesAnEncodedBody) {
  const struct {
    const wchar_t* headers;
    bool encoded;
  } rows[] = {
      {L"HTTP/1.1 200 OK\r\nContent-Length: 100\r\ncontent-encoding: gzip\r\n\r\n", true},
      {L"HTTP/1.1 200 OK\r\nCONTENT-ENCODING:deflate\r\n", true},
      {L"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nX-Content-Encoding: gzip\r\n", false},
      {L"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", false},
      {L"", false},
      {nullptr, false},
  };
  for (const auto& row : rows) {
    MyCallback sink(heartbeat_, identity_);
    ASSERT_EQ(S_OK, sink.OnResponse(200, row.headers, nullptr, nullptr));
    EXPECT_EQ(row.encoded, sink.contentEncoded()) << Narrow(row.headers ? row.headers : L"(null)");
  }
}

TEST_F(ProgressSinkTest, EveryReportSetsTheHeartbeat) {
  const ULONG statuses[] = {BINDSTATUS_FINDINGRESOURCE, BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_DOWNLOADINGDATA,
                            BINDSTATUS_ENDDOWNLOADDATA, BINDSTATUS_MIMETYPEAVAILABLE};
  for (LONG cancel : {0, 1}) {
    for (ULONG status : statuses) {
      for (ULONG total : {0ul, 1000ul}) {
        MyCallback sink(heartbeat_, identity_);
        ResetEvent(heartbeat_);
        InterlockedExchange(&g_cancelFlag, cancel);
        HRESULT result = sink.OnProgress(total / 2, total, status, nullptr);
        EXPECT_TRUE(HeartbeatSet()) << "status " << status << ", total " << total << ", cancel " << cancel;
        EXPECT_EQ(cancel ? E_ABORT : S_OK, result) << "status " << status << ", total " << total;
      }
    }
  }
}

TEST_F(ProgressSinkTest, CancelFlagAbortsAnyReportAndSaysSo) {
  DebugOutputCapture capture;
  SetWindowTextW(GetDlgItem(windows_.dialog(), IDC_UPDATER_PERCENT), L"0%");
  InterlockedExchange(&g_cancelFlag, 1);
  MyCallback sink(heartbeat_, identity_);
  // While connecting, with no total yet.
  EXPECT_EQ(E_ABORT, sink.OnProgress(0, 0, BINDSTATUS_CONNECTING, nullptr));
  EXPECT_EQ(E_ABORT, sink.OnProgress(10, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  ASSERT_TRUE(capture.WaitFor("user cancel download proc.\n", 5000)) << capture.joined();
  EXPECT_EQ(L"0%", windows_.Text(IDC_UPDATER_PERCENT)) << "an aborted report changed the percentage";
  EXPECT_EQ(0, windows_.ProgressPos());
}

TEST_F(ProgressSinkTest, BeginOfDataResetsTheBarAndClearsThePercentage) {
  DebugOutputCapture capture;
  HWND bar = GetDlgItem(windows_.dialog(), IDC_UPDATER_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, 50);
  SendMessageW(bar, PBM_SETPOS, 30, 0);
  SendMessageW(bar, PBM_SETSTEP, 7, 0);
  SetWindowTextW(GetDlgItem(windows_.dialog(), IDC_UPDATER_PERCENT), L"0%");
  MyCallback sink(heartbeat_, identity_);
  EXPECT_EQ(S_OK, sink.OnProgress(0, 123456, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  EXPECT_EQ(123456, windows_.ProgressHigh());
  EXPECT_EQ(0, static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)));
  EXPECT_EQ(0, windows_.ProgressPos());
  EXPECT_EQ(1, static_cast<int>(SendMessageW(bar, PBM_SETSTEP, 1, 0))) << "the step before this probe";
  EXPECT_EQ(L"", windows_.Text(IDC_UPDATER_PERCENT));
  EXPECT_EQ(123456u, sink.lastTotal());
  ASSERT_TRUE(capture.WaitFor("BINDSTATUS_BEGINDOWNLOADDATA\n", 5000)) << capture.joined();
}

TEST_F(ProgressSinkTest, DataReportsShowTheWorkedValues) {
  const struct {
    ULONG total;
    ULONG progress;
    const wchar_t* text;
  } rows[] = {
      {1000, 0, L"1%"},     {1000, 10, L"2%"},  {1000, 500, L"51%"}, {1000, 989, L"99%"},      {1000, 990, L"100%"},
      {1000, 1000, L"100%"}, {150, 98, L"99%"}, {150, 99, L"100%"},  {12345, 6172, L"51%"},    {50, 25, L"51%"},
      {1, 0, L"1%"},        {1, 1, L"100%"},
  };
  for (const auto& row : rows) {
    MyCallback sink(heartbeat_, identity_);
    ASSERT_EQ(S_OK, sink.OnProgress(0, row.total, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
    ASSERT_EQ(S_OK, sink.OnProgress(row.progress, row.total, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(row.text, windows_.Text(IDC_UPDATER_PERCENT)) << row.progress << " of " << row.total << ": shows "
                                                            << Narrow(windows_.Text(IDC_UPDATER_PERCENT));
    EXPECT_EQ(static_cast<int>(row.progress), windows_.ProgressPos()) << row.progress << " of " << row.total;
  }
}

TEST_F(ProgressSinkTest, TotalsBeyondTheBarsRangeStillShowTheRightPercentage) {
  // The bar's range is a signed int, so above 2 GB its position means little; the text holds.
  const struct {
    ULONG total;
    ULONG progress;
    const wchar_t* text;
  } rows[] = {{0xFFFFFFFFu, 0x80000000u, L"51%"}, {0xFFFFFFFFu, 0xFFFFFFFFu, L"100%"}, {0x80000000u, 1, L"1%"}};
  for (const auto& row : rows) {
    MyCallback sink(heartbeat_, identity_);
    ASSERT_EQ(S_OK, sink.OnProgress(0, row.total, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
    ASSERT_EQ(S_OK, sink.OnProgress(row.progress, row.total, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(row.text, windows_.Text(IDC_UPDATER_PERCENT)) << row.progress << " of " << row.total;
  }
}

TEST_F(ProgressSinkTest, PercentageRisesWithEachReportAndSurvivesRepeats) {
  MyCallback sink(heartbeat_, identity_);
  sink.redrawEvery(0);
  ASSERT_EQ(S_OK, sink.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  const struct {
    ULONG progress;
    const wchar_t* text;
  } steps[] = {{5, L"1%"}, {9, L"1%"}, {10, L"2%"}, {10, L"2%"}, {640, L"65%"}, {999, L"100%"}, {1000, L"100%"}};
  for (const auto& step : steps) {
    ASSERT_EQ(S_OK, sink.OnProgress(step.progress, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(step.text, windows_.Text(IDC_UPDATER_PERCENT)) << "at " << step.progress;
    EXPECT_EQ(static_cast<int>(step.progress), windows_.ProgressPos());
  }
  // A new begin of data clears the text; the next data report must show it again, even unchanged.
  ASSERT_EQ(S_OK, sink.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  EXPECT_EQ(L"", windows_.Text(IDC_UPDATER_PERCENT));
  ASSERT_EQ(S_OK, sink.OnProgress(1000, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  EXPECT_EQ(L"100%", windows_.Text(IDC_UPDATER_PERCENT));
}

TEST_F(ProgressSinkTest, TheBarMovesByThousandthsBackwardsAndAtTheEnd) {
  // Thousands of chunks of a large file would each wait for the user-interface thread; the bar
  // moves only when it has come a thousandth of the way further, goes back, or reaches the end.
  MyCallback sink(heartbeat_, identity_);
  sink.redrawEvery(0);
  const ULONG total = 1000000;
  ASSERT_EQ(S_OK, sink.OnProgress(0, total, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  const struct {
    ULONG progress;
    int bar;
  } steps[] = {{400, 0},      {999, 0},      {1000, 1000},     {1999, 1000},   {2000, 2000},
               {500000, 500000}, {500999, 500000}, {300, 300}, {999999, 999999}, {1000000, 1000000}};
  for (const auto& step : steps) {
    ASSERT_EQ(S_OK, sink.OnProgress(step.progress, total, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(step.bar, windows_.ProgressPos()) << "at " << step.progress;
  }
  // Small totals move with every byte.
  ASSERT_EQ(S_OK, sink.OnProgress(0, 50, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  ASSERT_EQ(S_OK, sink.OnProgress(1, 50, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  EXPECT_EQ(1, windows_.ProgressPos());
}

TEST_F(ProgressSinkTest, HeartbeatsComeAtMostOncePerHundredthOfTheTimeout) {
  // No Watchdog runs here, so the timeout only sets the spacing of the beats.
  g_watchdogTimeoutMs = 0xFFFFFFFFu; // a beat at most every 12 hours: none after the first here
  MyCallback sink(heartbeat_, identity_);
  ResetEvent(heartbeat_);
  ASSERT_EQ(S_OK, sink.OnProgress(0, 0, BINDSTATUS_CONNECTING, nullptr));
  EXPECT_TRUE(HeartbeatSet()) << "the first report must beat";
  ResetEvent(heartbeat_);
  ASSERT_EQ(S_OK, sink.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  for (ULONG progress = 1; progress <= 1000; progress += 111) {
    ASSERT_EQ(S_OK, sink.OnProgress(progress, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  }
  EXPECT_FALSE(HeartbeatSet()) << "reports within the spacing beat again";
  // A spacing under a millisecond: every report beats again.
  g_watchdogTimeoutMs = 99;
  ASSERT_EQ(S_OK, sink.OnProgress(1000, 1000, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_TRUE(HeartbeatSet());
  // The Cancel flag still ends the transfer at once, due beat or not.
  g_watchdogTimeoutMs = 0xFFFFFFFFu;
  InterlockedExchange(&g_cancelFlag, 1);
  EXPECT_EQ(E_ABORT, sink.OnProgress(1000, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
}

TEST_F(ProgressSinkTest, DataReportsRedrawAtMostOncePerIntervalButShowFirstBackAndLast) {
  MyCallback sink(heartbeat_, identity_);
  sink.redrawEvery(0xFFFFFFFFu); // no interval passes within this test
  ASSERT_EQ(S_OK, sink.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  const struct {
    ULONG progress;
    const wchar_t* text;
    int bar;
  } steps[] = {
      {100, L"11%", 100},   // the first data report is shown
      {500, L"11%", 100},   // within the interval: nothing redrawn
      {900, L"11%", 100},
      {50, L"6%", 50},      // going back is shown at once
      {700, L"6%", 50},
      {1000, L"100%", 1000}, // the last is always shown
  };
  for (const auto& step : steps) {
    ASSERT_EQ(S_OK, sink.OnProgress(step.progress, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(step.text, windows_.Text(IDC_UPDATER_PERCENT)) << "at " << step.progress;
    EXPECT_EQ(step.bar, windows_.ProgressPos()) << "at " << step.progress;
  }
  // A new begin of data starts over: its first report is shown again.
  ASSERT_EQ(S_OK, sink.OnProgress(0, 2000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  ASSERT_EQ(S_OK, sink.OnProgress(500, 2000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  EXPECT_EQ(L"26%", windows_.Text(IDC_UPDATER_PERCENT));
  EXPECT_EQ(500, windows_.ProgressPos());
  // The rest of the body may come with the end report alone: the end is shown all the same.
  ASSERT_EQ(S_OK, sink.OnProgress(2000, 2000, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_EQ(L"100%", windows_.Text(IDC_UPDATER_PERCENT));
  EXPECT_EQ(2000, windows_.ProgressPos());
}

TEST_F(ProgressSinkTest, OtherReportsAndReportsWithoutTotalChangeNothing) {
  HWND bar = GetDlgItem(windows_.dialog(), IDC_UPDATER_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, 500);
  SendMessageW(bar, PBM_SETPOS, 200, 0);
  SetWindowTextW(GetDlgItem(windows_.dialog(), IDC_UPDATER_PERCENT), L"0%");
  const struct {
    ULONG status;
    ULONG total;
  } rows[] = {
      {BINDSTATUS_FINDINGRESOURCE, 1000}, {BINDSTATUS_CONNECTING, 1000}, {BINDSTATUS_SENDINGREQUEST, 1000},
      {BINDSTATUS_MIMETYPEAVAILABLE, 1000}, {BINDSTATUS_CACHEFILENAMEAVAILABLE, 1000},
      {BINDSTATUS_ENDDOWNLOADDATA, 1000}, // an end without data reports starts no display
      {BINDSTATUS_BEGINDOWNLOADDATA, 0}, {BINDSTATUS_DOWNLOADINGDATA, 0}, {BINDSTATUS_ENDDOWNLOADDATA, 0},
  };
  for (const auto& row : rows) {
    MyCallback sink(heartbeat_, identity_);
    EXPECT_EQ(S_OK, sink.OnProgress(400, row.total, row.status, nullptr)) << "status " << row.status;
    EXPECT_EQ(L"0%", windows_.Text(IDC_UPDATER_PERCENT)) << "status " << row.status << ", total " << row.total;
    EXPECT_EQ(200, windows_.ProgressPos()) << "status " << row.status << ", total " << row.total;
    EXPECT_EQ(500, windows_.ProgressHigh()) << "status " << row.status << ", total " << row.total;
  }
}

TEST_F(ProgressSinkTest, EndOfDataWithATotalStopsItsOwnWatchdog) {
  DebugOutputCapture capture;
  HANDLE downloadHeartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(identity_, &downloadHeartbeat));
  MyCallback sink(downloadHeartbeat, identity_);

  // Without a total the end-of-data report leaves the Watchdog running.
  EXPECT_EQ(S_OK, sink.OnProgress(0, 0, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_NE(nullptr, g_watchdogThread);
  EXPECT_NE(nullptr, g_heartbeatEvent);

  EXPECT_EQ(S_OK, sink.OnProgress(800, 800, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_EQ(nullptr, g_watchdogThread);
  EXPECT_EQ(nullptr, g_heartbeatEvent);
  ASSERT_TRUE(capture.WaitFor("BINDSTATUS_ENDDOWNLOADDATA\n", 5000)) << capture.joined();

  // Later reports still run, on the sink's own handle to the event.
  EXPECT_EQ(S_OK, sink.OnProgress(800, 800, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  ResetEvent(downloadHeartbeat);
  MyCallback later(downloadHeartbeat, identity_);
  EXPECT_EQ(S_OK, later.OnProgress(800, 800, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(downloadHeartbeat, 0));
  CloseHandle(downloadHeartbeat);
}

TEST_F(ProgressSinkTest, EndOfDataOfAnEarlierDownloadLeavesTheLatestWatchdog) {
  MyCallback earlier(heartbeat_, identity_);
  LONG latest = NewDownloadIdentity();
  HANDLE downloadHeartbeat = nullptr;
  ASSERT_EQ(1, WatchdogStart(latest, &downloadHeartbeat));
  EXPECT_EQ(E_ABORT, earlier.OnProgress(800, 800, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
  EXPECT_NE(nullptr, g_watchdogThread) << "a superseded transfer stopped the latest Watchdog";
  WatchdogStop();
  CloseHandle(downloadHeartbeat);
}

TEST_F(ProgressSinkTest, SupersededTransferAbortsWithoutTouchingTheDialog) {
  DebugOutputCapture capture;
  g_watchdogTimeoutMs = 0; // no Watchdog runs here; every report is due to beat
  MyCallback sink(heartbeat_, identity_);
  ASSERT_EQ(S_OK, sink.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  ASSERT_EQ(S_OK, sink.OnProgress(300, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  NewDownloadIdentity();
  ResetEvent(heartbeat_);
  EXPECT_EQ(E_ABORT, sink.OnProgress(600, 1000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
  EXPECT_TRUE(HeartbeatSet());
  EXPECT_EQ(L"31%", windows_.Text(IDC_UPDATER_PERCENT));
  EXPECT_EQ(300, windows_.ProgressPos());
  // Claimed reports end a transfer the same way (the Watchdog claims when it abandons one).
  LONG claimed = NewDownloadIdentity();
  ASSERT_TRUE(ClaimDownloadReport(claimed));
  MyCallback abandoned(heartbeat_, claimed);
  EXPECT_EQ(E_ABORT, abandoned.OnProgress(0, 1000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
  EXPECT_EQ(300, windows_.ProgressPos());
  EXPECT_EQ(std::string::npos, capture.joined().find("user cancel")) << capture.joined();
}

TEST_F(ProgressSinkTest, LastTotalFollowsTheReports) {
  MyCallback sink(heartbeat_, identity_);
  EXPECT_EQ(0u, sink.lastTotal());
  sink.OnProgress(0, 0, BINDSTATUS_SENDINGREQUEST, nullptr);
  EXPECT_EQ(0u, sink.lastTotal());
  sink.OnProgress(1000, 5000, BINDSTATUS_BEGINDOWNLOADDATA, nullptr);
  EXPECT_EQ(5000u, sink.lastTotal());
  sink.OnProgress(1000, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr);
  EXPECT_EQ(5000u, sink.lastTotal()) << "a report without a total forgot the last one";
  sink.OnProgress(1000, 6000, BINDSTATUS_ENDDOWNLOADDATA, nullptr);
  EXPECT_EQ(6000u, sink.lastTotal());
}

TEST(ClaimDownloadReport, OnceForTheLatestDownloadOnly) {
  LONG first = NewDownloadIdentity();
  EXPECT_TRUE(IsDownloadReportPending(first));
  LONG second = NewDownloadIdentity();
  EXPECT_NE(first, second);
  EXPECT_FALSE(IsDownloadReportPending(first));
  EXPECT_FALSE(ClaimDownloadReport(first)) << "a superseded download claimed its report";
  EXPECT_TRUE(ClaimDownloadReport(second));
  EXPECT_FALSE(ClaimDownloadReport(second)) << "the report was claimed twice";
  EXPECT_FALSE(ClaimDownloadReport(0));
  EXPECT_FALSE(IsDownloadReportPending(second));
}

TEST(ClaimDownloadReport, TwoThreadsRacingGetOneClaim) {
  struct Race {
    LONG identity;
    HANDLE go;
    volatile LONG wins;
  };
  for (int round = 0; round < 200; ++round) {
    Race race = {NewDownloadIdentity(), CreateEventW(nullptr, TRUE, FALSE, nullptr), 0};
    auto contender = [](void* parameter) -> DWORD {
      Race* r = static_cast<Race*>(parameter);
      WaitForSingleObject(r->go, INFINITE);
      if (ClaimDownloadReport(r->identity)) InterlockedIncrement(&r->wins);
      return 0;
    };
    HANDLE threads[2] = {CreateThread(nullptr, 0, contender, &race, 0, nullptr),
                         CreateThread(nullptr, 0, contender, &race, 0, nullptr)};
    SetEvent(race.go);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 10000));
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    CloseHandle(race.go);
    ASSERT_EQ(1, race.wins) << "round " << round;
  }
}

} // namespace
