// MyCallback: the status sink that URLDownloadToFileW calls on the Download thread. OnProgress
// runs for every chunk, so it allocates nothing and sends to the dialog only what changed.
#include "download/progress_sink.h"

#include <commctrl.h>
#include <strsafe.h>
#include <wchar.h>

#include "app/startup.h"
#include "app/workflow.h"
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
    : heartbeat_(heartbeat), identity_(identity), httpStatus_(0), lastTotal_(0), contentEncoded_(false),
      shownPercent_(0), shownPosition_(0), sizeLimit_(0), tooLarge_(false) {}

STDMETHODIMP MyCallback::QueryInterface(REFIID riid, void** object) {
  if (object && IsEqualIID(riid, IID_IHttpNegotiate)) {
    *object = static_cast<IHttpNegotiate*>(this);
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

void MyCallback::OnBeginData(ULONG total) {
  OutputDebugStringW(L"BINDSTATUS_BEGINDOWNLOADDATA\n");
  HWND progressBar = GetDlgItem(g_dialog, IDC_UPDATER_PROGRESS);
  SendMessageW(progressBar, PBM_SETPOS, 0, 0);
  SendMessageW(progressBar, PBM_SETSTEP, 1, 0);
  SendMessageW(progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
  SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_PERCENT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  shownPercent_ = 0;
  shownPosition_ = 0;
}

void MyCallback::OnData(ULONG progress, ULONG total) {
  unsigned percent = ProgressPercent(progress, total);
  // The same text again would cost a cross-thread send and change nothing on the screen.
  if (percent != shownPercent_) {
    wchar_t text[72] = {};
    StringCchPrintfW(text, ARRAYSIZE(text), L"%d%%", static_cast<int>(percent));
    SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_PERCENT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    shownPercent_ = percent;
  }
  // The bar counts bytes within the range set at the begin of data. A large file arrives in
  // thousands of chunks, and each send waits for the user-interface thread: the bar moves only
  // when it has come a thousandth of the way further (no bar is a thousand pixels wide), when it
  // goes back, and at the end.
  ULONG step = total / 1000 ? total / 1000 : 1;
  if (progress >= total || progress < shownPosition_ || progress - shownPosition_ >= step) {
    SendMessageW(GetDlgItem(g_dialog, IDC_UPDATER_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(progress), 0);
    shownPosition_ = progress;
  }
}

STDMETHODIMP MyCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) {
  SetEvent(heartbeat_);
  // Abandoned by its Watchdog, or superseded by a later download: touch nothing, end the transfer.
  if (!IsDownloadReportPending(identity_)) return E_ABORT;
  if (g_cancelFlag == 1) {
    OutputDebugStringW(L"user cancel download proc.\n");
    return E_ABORT;
  }
  // A body without a length still reports its progress as it grows.
  if (sizeLimit_ != 0 && (progress > sizeLimit_ || progressMax > sizeLimit_)) {
    tooLarge_ = true;
    return E_ABORT;
  }
  if (progressMax == 0) return S_OK;
  lastTotal_ = progressMax;
  switch (statusCode) {
  case BINDSTATUS_BEGINDOWNLOADDATA:
    OnBeginData(progressMax);
    break;
  case BINDSTATUS_DOWNLOADINGDATA:
    OnData(progress, progressMax);
    break;
  case BINDSTATUS_ENDDOWNLOADDATA:
    WatchdogStopFor(identity_);
    OutputDebugStringW(L"BINDSTATUS_ENDDOWNLOADDATA\n");
    break;
  default:
    break;
  }
  return S_OK;
}
