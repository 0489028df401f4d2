// The updater dialog as start-up creates it: the Offer screen, link clicks, and the buttons that
// end the program. Runs the real start-up sequence in this process.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "download/download_jobs.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "system/install_marker.h"
#include "text/text_table.h"
#include "updater_harness.h"

using testing_support::DebugOutputCapture;
using testing_support::Narrow;
using testing_support::PumpUntil;

namespace {

const wchar_t kSupportAddress[] = L"http://www.orvane.com/support/plinthware/";

DWORD ReadInstalledMarker() {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return 0xFFFFFFFF;
  return value;
}

class UpdaterDialogTest : public ::testing::Test {
protected:
  void SetUp() override { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed"); }
  void TearDown() override { StopTestUpdater(); }
};

struct VisibleControl {
  int id;
  bool visible;
};

TEST_F(UpdaterDialogTest, OfferScreen) {
  ASSERT_EQ(1, StartTestUpdater(0));
  EXPECT_TRUE(IsWindowVisible(g_dialog));
  EXPECT_FALSE(IsWindowVisible(g_mainWindow));
  wchar_t title[256] = {};
  GetWindowTextW(g_dialog, title, 256);
  EXPECT_STREQ(L"Plinthware Updater", title);
  EXPECT_EQ(L"The basic driver was installed.", ControlText(IDC_UPDATER_STATUS));
  EXPECT_EQ(std::wstring(LookupText(kTextOffer)), ControlText(IDC_UPDATER_OFFER));
  EXPECT_EQ(L"Download Now", ControlText(IDC_UPDATER_DOWNLOAD_NOW));
  EXPECT_EQ(L"Download Later", ControlText(IDC_UPDATER_DOWNLOAD_LATER));
  EXPECT_EQ(L"Install", ControlText(IDC_UPDATER_INSTALL));
  EXPECT_EQ(L"Ignore", ControlText(IDC_UPDATER_IGNORE));
  EXPECT_EQ(L"Restart Now", ControlText(IDC_UPDATER_RESTART_NOW));
  EXPECT_EQ(L"Restart Later", ControlText(IDC_UPDATER_RESTART_LATER));
  EXPECT_EQ(L"", ControlText(IDC_UPDATER_PERCENT));
  const VisibleControl kOffer[] = {
      {IDC_UPDATER_DOWNLOAD_NOW, true}, {IDC_UPDATER_DOWNLOAD_LATER, true}, {IDC_UPDATER_STATUS, true},
      {IDC_UPDATER_OFFER, true},        {IDC_UPDATER_PERCENT, false},       {IDC_UPDATER_PROGRESS, false},
      {IDC_UPDATER_LABEL, false},       {IDC_UPDATER_INSTALL, false},       {IDC_UPDATER_IGNORE, false},
      {IDC_UPDATER_RESTART_NOW, false}, {IDC_UPDATER_RESTART_LATER, false}};
  for (const VisibleControl& c : kOffer) EXPECT_EQ(c.visible, ControlVisible(c.id)) << "control " << c.id;
  EXPECT_NE(nullptr, reinterpret_cast<HICON>(SendMessageW(g_dialog, WM_GETICON, ICON_SMALL, 0)));

  // The offer text's one anchor points at the support page.
  LITEM item = {};
  item.mask = LIF_ITEMINDEX | LIF_URL;
  item.iLink = 0;
  ASSERT_TRUE(SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_OFFER), LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_STREQ(kSupportAddress, item.szUrl);
  item.iLink = 1;
  EXPECT_FALSE(SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_OFFER), LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)));
}

// What a SysLink sends its parent when one of its links is clicked or activated.
void SendLinkNotification(int controlId, UINT code, int linkIndex, const wchar_t* url) {
  NMLINK link = {};
  link.hdr.hwndFrom = GetDlgItem(g_dialog, controlId);
  link.hdr.idFrom = static_cast<UINT_PTR>(controlId);
  link.hdr.code = code;
  link.item.iLink = linkIndex;
  wcsncpy(link.item.szUrl, url, L_MAX_URL_LENGTH - 1);
  SendMessageW(g_dialog, WM_NOTIFY, link.hdr.idFrom, reinterpret_cast<LPARAM>(&link));
}

TEST_F(UpdaterDialogTest, OnlyAClickOrEnterOnTheFirstLinkOfEitherSysLinkOpensIt) {
  ASSERT_EQ(1, StartTestUpdater(0));
  // Texts that open with their anchor, which a click numbers alike on Windows and under Wine; the
  // status text's second anchor has the first one's address, as an override may give it.
  SetWindowTextW(GetDlgItem(g_dialog, IDC_UPDATER_STATUS),
                 L"<A HREF=\"http://127.0.0.1:9/status-first\">one</A> or "
                 L"<A HREF=\"http://127.0.0.1:9/status-first\">two</A>.");
  SetWindowTextW(GetDlgItem(g_dialog, IDC_UPDATER_OFFER),
                 L"<A HREF=\"http://www.orvane.com/support/plinthware/\">support</A>");
  DebugOutputCapture output;
  struct Case {
    int control;
    UINT code;
    int link;
    const char* url;
    bool opens;
  } const kCases[] = {
      {IDC_UPDATER_OFFER, NM_CLICK, 0, "http://www.orvane.com/support/plinthware/", true},
      {IDC_UPDATER_OFFER, NM_RETURN, 0, "http://www.orvane.com/support/plinthware/", true}, // Enter on the focused link
      {IDC_UPDATER_STATUS, NM_CLICK, 1, "http://127.0.0.1:9/status-first", false},
      {IDC_UPDATER_STATUS, NM_RETURN, 1, "http://127.0.0.1:9/status-first", false},
      {IDC_UPDATER_OFFER, NM_CLICK, 0, "http://127.0.0.1:9/not-a-link-of-the-control", false},
      {IDC_UPDATER_DOWNLOAD_NOW, NM_CLICK, 0, "http://127.0.0.1:9/button", false},
      {IDC_UPDATER_STATUS, NM_CLICK, 0, "http://127.0.0.1:9/status-first", true},
  };
  for (const Case& c : kCases) {
    SendLinkNotification(c.control, c.code, c.link, testing_support::Widen(c.url).c_str());
  }
  // The last case opens, so once its line is there every earlier one has had its chance.
  ASSERT_TRUE(output.WaitFor("status-first\n", 5000)) << output.joined();
  std::string all = output.joined();
  // Each address is written once for every case that opens it, and never otherwise.
  for (const Case& c : kCases) {
    std::string line = std::string(c.url) + "\n";
    int expected = 0, written = 0;
    for (const Case& other : kCases) expected += other.opens && strcmp(other.url, c.url) == 0;
    for (size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++written;
    EXPECT_EQ(expected, written) << c.url << " in: " << all;
  }
  // A click changes nothing else: the dialog stays on the Offer screen.
  EXPECT_TRUE(IsWindowVisible(g_dialog));
  EXPECT_TRUE(ControlVisible(IDC_UPDATER_DOWNLOAD_NOW));
  EXPECT_TRUE(ControlVisible(IDC_UPDATER_OFFER));
}

// A Language file can put any address behind the visible support link: only an absolute http://
// or https:// address is opened; a program, a share, a file: address or another protocol's handler
// opens nothing and is named once in the debugger output.
TEST_F(UpdaterDialogTest, OnlyWebAddressesAreOpened) {
  ASSERT_EQ(1, StartTestUpdater(0));
  const wchar_t* const kRefused[] = {L"C:\\windows\\system32\\notepad.exe", L"\\\\server\\share\\payload.exe",
                                     L"file:///C:/windows/system32/notepad.exe", L"plinthware-test:payload"};
  DebugOutputCapture output;
  for (const wchar_t* href : kRefused) {
    std::wstring text = std::wstring(L"<A HREF=\"") + href + L"\">" + kSupportAddress + L"</A>";
    SetWindowTextW(GetDlgItem(g_dialog, IDC_UPDATER_STATUS), text.c_str());
    SendLinkNotification(IDC_UPDATER_STATUS, NM_CLICK, 0, href);
  }
  SetWindowTextW(GetDlgItem(g_dialog, IDC_UPDATER_STATUS), L"<A HREF=\"https://127.0.0.1:9/allowed\">here</A>");
  SendLinkNotification(IDC_UPDATER_STATUS, NM_CLICK, 0, L"https://127.0.0.1:9/allowed");
  // The last one opens, so once its line is there every earlier one has had its chance.
  ASSERT_TRUE(output.WaitFor("https://127.0.0.1:9/allowed\n", 5000)) << output.joined();
  std::string all = output.joined();
  size_t refusals = 0;
  const std::string refusal = "link refused: not an http:// or https:// address\n";
  for (size_t at = all.find(refusal); at != std::string::npos; at = all.find(refusal, at + 1)) ++refusals;
  EXPECT_EQ(ARRAYSIZE(kRefused), refusals) << all;
  for (const wchar_t* href : kRefused) EXPECT_EQ(std::string::npos, all.find(Narrow(href) + "\n")) << all;
}

// Every end is orderly: a dialog that cannot be created ends through the Shutdown sequence, a
// transfer still running when the program ends (Exit, or WM_CLOSE to the main window) can no longer
// report and is cancelled, and the exit code is 0 whatever WM_QUIT carried.
TEST_F(UpdaterDialogTest, EveryEndIsOrderly) {
  {
    SCOPED_TRACE("no dialog");
    struct RefuseDialogs {
      static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        wchar_t className[16] = {};
        if (code == HCBT_CREATEWND) GetClassNameW(reinterpret_cast<HWND>(wParam), className, ARRAYSIZE(className));
        return wcscmp(className, L"#32770") == 0 ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
      }
    };
    HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseDialogs::Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    DebugOutputCapture output;
    int started = StartTestUpdater(0);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(0, started);
    EXPECT_EQ(nullptr, g_dialog);
    EXPECT_TRUE(UpdaterEnded()) << "the hidden main window outlives a start-up without dialog";
    EXPECT_TRUE(output.WaitFor("unreg service", 10000)) << "no Shutdown sequence: " << output.joined();
    StopTestUpdater();
  }
  for (UINT ending : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_CLOSE)}) {
    SCOPED_TRACE(ending == WM_CLOSE ? "WM_CLOSE" : "Exit");
    ASSERT_EQ(1, StartTestUpdater(0));
    // As a running transfer leaves it: its report still to be made.
    g_cancelFlag = 0;
    LONG transfer = NewDownloadIdentity();
    ASSERT_TRUE(IsDownloadReportPending(transfer));
    SendMessageW(g_mainWindow, ending, ending == WM_COMMAND ? IDM_EXIT : 0, 0);
    ASSERT_TRUE(UpdaterEnded());
    EXPECT_FALSE(ClaimDownloadReport(transfer)) << "the transfer could still report to the ended program";
    EXPECT_EQ(1, g_cancelFlag) << "the transfer is not cancelled";
    StopTestUpdater();
  }
  PostQuitMessage(7);
  EXPECT_EQ(0, RunMessageLoop(GetModuleHandleW(nullptr)));
}

TEST_F(UpdaterDialogTest, DownloadLaterAndTheCloseBoxWriteTheMarkerAndEnd) {
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "close box" : "Download Later");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed");
    ASSERT_EQ(1, StartTestUpdater(0));
    MessageBoxWatcher boxes;
    if (closeBox) {
      SendMessageW(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_DOWNLOAD_LATER), BM_CLICK, 0, 0);
    }
    ASSERT_TRUE(PumpUntil(UpdaterEnded, 5000));
    EXPECT_EQ(1, g_cancelFlag);
    EXPECT_EQ(1u, ReadInstalledMarker());
    EXPECT_TRUE(boxes.boxes().empty());
    StopTestUpdater();
  }
}

TEST_F(UpdaterDialogTest, DownloadNowShowsTheCheckingScreen) {
  wchar_t proxy[64] = {}; // the transfer below goes to the test web server, never to the real host
  GetEnvironmentVariableW(L"http_proxy", proxy, ARRAYSIZE(proxy));
  ASSERT_EQ(0, wcsncmp(proxy, L"http://127.0.0.1:", 17)) << "no test web server as http_proxy (fixture http_server)";
  ASSERT_EQ(1, StartTestUpdater(0));
  MessageBoxWatcher boxes;
  SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_DOWNLOAD_NOW), BM_CLICK, 0, 0);
  EXPECT_EQ(kStageInfoFile, g_workflowStage);
  EXPECT_EQ(L"Downloading Plinthware:", ControlText(IDC_UPDATER_STATUS));
  const VisibleControl kChecking[] = {{IDC_UPDATER_DOWNLOAD_NOW, false}, {IDC_UPDATER_DOWNLOAD_LATER, false},
                                      {IDC_UPDATER_OFFER, false},        {IDC_UPDATER_PROGRESS, true},
                                      {IDC_UPDATER_PERCENT, true},       {IDC_UPDATER_STATUS, true}};
  for (const VisibleControl& c : kChecking) EXPECT_EQ(c.visible, ControlVisible(c.id)) << "control " << c.id;
  HANDLE transfer = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), g_downloadThread, GetCurrentProcess(), &transfer, SYNCHRONIZE,
                              FALSE, 0));
  // Closing now cancels the transfer and still writes the marker.
  SendMessageW(g_dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(PumpUntil(UpdaterEnded, 5000));
  EXPECT_EQ(1, g_cancelFlag);
  EXPECT_EQ(1u, ReadInstalledMarker());
  // The cancelled transfer ends by itself at its next progress report.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(transfer, 30000));
  CloseHandle(transfer);
}

} // namespace
