// MyCallback: the status sink that URLDownloadToFileW calls on the Download thread. OnProgress
// runs for every chunk, so it allocates nothing and sends to the dialog only what changed.
#include "download/progress_sink.h"

#include <commctrl.h>
#include <strsafe.h>
#include <wchar.h>

#include "base/dialog_controls.h"
#include "base/shell_state.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "res/resource.h"

unsigned ProgressPercent(ULONG progress, ULONG total) {
  if (total == 0) return 0;
  if (total < 100) {
    // total / 100 would be 0: scale the progress instead, in 64 bits so that it cannot overflow.
    ULONGLONG scaled = static_cast<ULONGLONG>(progress) * 100 / total;
    return scaled >= 100 ? 100 : static_cast<unsigned>(scaled) + 1;
  }
  // Capped before the + 1, which could otherwise wrap for a progress beyond the total.
  ULONG quotient = progress / (total / 100);
  return quotient >= 100 ? 100 : static_cast<unsigned>(quotient) + 1;
}

MyCallback::MyCallback(HANDLE heartbeat, LONG identity)
    : heartbeat_(heartbeat), identity_(identity), beatAt_(0), beaten_(false), httpStatus_(0), lastTotal_(0),
      contentEncoded_(false), shownPercent_(0), shownPosition_(0), shownAt_(0), redrawMs_(kProgressRedrawMs),
      sizeLimit_(0), exactSize_(false), tooLarge_(false), otherTotal_(0), signInAsked_(false) {}

STDMETHODIMP MyCallback::QueryInterface(REFIID riid, void** object) {
  if (object && IsEqualIID(riid, IID_IHttpNegotiate)) {
    *object = static_cast<IHttpNegotiate*>(this);
    return S_OK;
  }
  if (object && IsEqualIID(riid, IID_IAuthenticate)) {
    *object = static_cast<IAuthenticate*>(this);
    return S_OK;
  }
  return E_NOTIMPL;
}

STDMETHODIMP_(ULONG) MyCallback::AddRef() { return 0; }
STDMETHODIMP_(ULONG) MyCallback::Release() { return 0; }

STDMETHODIMP MyCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::OnLowResource(DWORD) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }
STDMETHODIMP MyCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

STDMETHODIMP MyCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) {
  if (additionalHeaders) *additionalHeaders = nullptr;
  return S_OK;
}

// True when the CRLF-separated `headers` hold a Content-Encoding line (any case, any value).
static bool HasContentEncoding(const wchar_t* headers) {
  static const wchar_t kName[] = L"Content-Encoding:";
  const size_t nameLength = ARRAYSIZE(kName) - 1;
  for (const wchar_t* line = headers; line && *line;) {
    if (_wcsnicmp(line, kName, nameLength) == 0) return true;
    line = wcschr(line, L'\n');
    if (line) ++line;
  }
  return false;
}

STDMETHODIMP MyCallback::OnResponse(DWORD statusCode, LPCWSTR responseHeaders, LPCWSTR,
                                    LPWSTR* additionalRequestHeaders) {
  if (additionalRequestHeaders) *additionalRequestHeaders = nullptr;
  httpStatus_ = statusCode;
  // A compressed body is stored decoded: its announced length says nothing of the file's.
  contentEncoded_ = HasContentEncoding(responseHeaders);
  return S_OK;
}

HWND SignInWindow(LONG identity) {
  if (g_cancelFlag == 1 || !IsDownloadReportPending(identity)) return nullptr;
  // Nobody watches the check at logon: a prompt then would come out of nowhere.
  if (g_updateMode && g_workflowStage != kStagePackage) return nullptr;
  return g_dialog;
}

STDMETHODIMP MyCallback::Authenticate(HWND* window, LPWSTR* userName, LPWSTR* password) {
  if (!window || !userName || !password) return E_INVALIDARG;
  *window = nullptr;
  *userName = nullptr;
  *password = nullptr;
  // WinINet offers the user's logon to NTLM and Negotiate before it asks here (Basic and Digest
  // have nothing to offer). A second ask means the first sign-in was refused: the transfer ends
  // rather than prompt again.
  if (signInAsked_) {
    OutputDebugStringW(L"sign-in refused: asked once already\n");
    return E_ACCESSDENIED;
  }
  HWND owner = SignInWindow(identity_);
  if (!owner) {
    OutputDebugStringW(L"sign-in refused: the dialog is not shown\n");
    return E_ACCESSDENIED;
  }
  signInAsked_ = true;
  OutputDebugStringW(L"sign-in: Windows' prompt over the dialog\n");
  *window = owner;
  return S_OK;
}

void MyCallback::OnBeginData(ULONG total) {
  OutputDebugStringW(L"BINDSTATUS_BEGINDOWNLOADDATA\n");
  SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_SETPOS, 0, 0);
  SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_SETSTEP, 1, 0);
  SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
  SetControlText(g_dialog, IDC_UPDATER_PERCENT, L"");
  shownPercent_ = 0;
  shownPosition_ = 0;
  shownAt_ = 0;
}

void MyCallback::OnData(ULONG progress, ULONG total, DWORD now) {
  // A fast transfer reports thousands of chunks a second, and each redraw is a cross-thread send
  // that waits for the user-interface thread and repaints there. Nobody reads faster than a few
  // redraws a second: between the first report and the last, the dialog is redrawn at most once
  // per interval, and then only with what changed. Going back is always shown.
  bool first = shownPercent_ == 0;
  bool last = progress >= total;
  bool back = progress < shownPosition_;
  if (!first && !last && !back && now - shownAt_ < redrawMs_) return;
  shownAt_ = now;

  unsigned percent = ProgressPercent(progress, total);
  // The same text again would cost a send and change nothing on the screen.
  if (percent != shownPercent_) {
    wchar_t text[72] = {};
    StringCchPrintfW(text, ARRAYSIZE(text), L"%d%%", static_cast<int>(percent));
    SetControlText(g_dialog, IDC_UPDATER_PERCENT, text);
    shownPercent_ = percent;
  }
  // The bar counts bytes within the range set at the begin of data; a move of less than a
  // thousandth shows nowhere (no bar is a thousand pixels wide).
  ULONG step = total / 1000 ? total / 1000 : 1;
  if (last || back || progress - shownPosition_ >= step) {
    SendControlMessage(g_dialog, IDC_UPDATER_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(progress), 0);
    shownPosition_ = progress;
  }
}

void MyCallback::Beat(DWORD now) {
  // The Watchdog only needs to learn that reports still come. Each SetEvent is a kernel call that
  // wakes its thread, and a fast transfer reports thousands of chunks a second: one heartbeat per
  // hundredth of the Watchdog's timeout is plenty (the first report always beats).
  if (beaten_ && now - beatAt_ < g_watchdogTimeoutMs / 100) return;
  SetEvent(heartbeat_);
  beatAt_ = now;
  beaten_ = true;
}

// True (and the reason recorded) when the transfer goes beyond its limit or announces a total
// other than its expected size. A body without a length still reports its progress as it grows.
bool MyCallback::OutOfSize(ULONG progress, ULONG total) {
  if (sizeLimit_ == 0) return false;
  if (exactSize_ && total != 0 && total != sizeLimit_ && !contentEncoded_) {
    otherTotal_ = total;
    return true;
  }
  tooLarge_ = progress > sizeLimit_ || (!exactSize_ && total > sizeLimit_);
  return tooLarge_;
}

STDMETHODIMP MyCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  DWORD now = GetTickCount(); // one clock read serves the heartbeat and the redraw
  Beat(now);
  // Abandoned by its Watchdog, or superseded by a later download: touch nothing, end the transfer.
  if (!IsDownloadReportPending(identity_)) return E_ABORT;
  if (g_cancelFlag == 1) {
    OutputDebugStringW(L"user cancel download proc.\n");
    return E_ABORT;
  }
  if (OutOfSize(progress, progressMax)) return E_ABORT;
  if (progressMax == 0) return S_OK;
  lastTotal_ = progressMax;
  switch (statusCode) {
  case BINDSTATUS_BEGINDOWNLOADDATA:
    OnBeginData(progressMax);
    break;
  case BINDSTATUS_DOWNLOADINGDATA:
    OnData(progress, progressMax, now);
    break;
  case BINDSTATUS_ENDDOWNLOADDATA:
    // The last piece of a body can arrive with the end report alone (a loaded machine reads it
    // together with the end): finish a display that data reports began, never start one.
    if (shownPercent_ != 0) OnData(progress, progressMax, now);
    WatchdogStopFor(identity_);
    OutputDebugStringW(L"BINDSTATUS_ENDDOWNLOADDATA\n");
    break;
  default:
    break;
  }
  return S_OK;
}
