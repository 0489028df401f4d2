// MyCallback, the status sink of every transfer: it feeds the Watchdog, aborts on the Cancel
// flag, drives the progress bar and percentage, learns the HTTP status, and lets Windows ask for
// a sign-in while the dialog is shown. It runs on the Download thread, inside URLDownloadToFileW.
#pragma once
#include <windows.h>
#include <urlmon.h>

// The percentage shown for `progress` of `total` bytes: progress / (total / 100) + 1 for totals
// of 100 and more, progress * 100 / total + 1 below that, capped at 100 either way; 0 for a
// total of 0 (nothing is shown then).
unsigned ProgressPercent(ULONG progress, ULONG total);

// While data arrives the dialog is redrawn at most once per this many milliseconds (the first
// report, going back and the last report are always shown).
const DWORD kProgressRedrawMs = 200;

// Lives on the Download thread's stack for one transfer; the reference count is a no-op.
class MyCallback : public IBindStatusCallback, public IHttpNegotiate, public IAuthenticate {
public:
  // `heartbeat` is this download's own handle to the Heartbeat event (a duplicate that lives as
  // long as the transfer), `identity` the download it reports for.
  MyCallback(HANDLE heartbeat, LONG identity);
  MyCallback(const MyCallback&) = delete;
  MyCallback& operator=(const MyCallback&) = delete;

  // IUnknown: only IHttpNegotiate and IAuthenticate are answered (E_NOTIMPL otherwise, the
  // out-pointer untouched): never IHttpSecurity, which could let a certificate error through.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IBindStatusCallback: only OnProgress does anything; the rest answer E_NOTIMPL.
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // IHttpNegotiate: records the response status and whether the body is encoded; adds no headers.
  STDMETHODIMP BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved, LPWSTR* additionalHeaders) override;
  STDMETHODIMP OnResponse(DWORD statusCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                          LPWSTR* additionalRequestHeaders) override;

  // IAuthenticate, asked when a proxy (407) or server (401) wants credentials: the window that
  // Windows' own sign-in prompt belongs to and no credentials (S_OK) once per transfer while the
  // dialog is shown (SignInWindow); otherwise no window and E_ACCESSDENIED, so the transfer ends
  // with the status it got. E_INVALIDARG for a null argument.
  STDMETHODIMP Authenticate(HWND* window, LPWSTR* userName, LPWSTR* password) override;

  DWORD httpStatus() const { return httpStatus_; } // 0 when no response was reported
  ULONG lastTotal() const { return lastTotal_; }   // the last non-zero total reported, else 0
  bool contentEncoded() const { return contentEncoded_; } // the response had a Content-Encoding

  // Aborts the transfer once its total or progress goes beyond `bytes` (0: no limit).
  void limitSize(ULONG bytes) { sizeLimit_ = bytes; }
  // Aborts the transfer once more than `bytes` arrived, or its total is another (an encoded body's
  // total counts the encoded bytes and is not compared); 0: no size expected.
  void expectSize(ULONG bytes) {
    sizeLimit_ = bytes;
    exactSize_ = bytes != 0;
  }
  bool tooLarge() const { return tooLarge_; } // the transfer was aborted for its size
  ULONG otherTotal() const { return otherTotal_; } // the total that was not the expected size, else 0

  // How often data reports may redraw the dialog (kProgressRedrawMs; 0 redraws every change).
  void redrawEvery(DWORD milliseconds) { redrawMs_ = milliseconds; }

private:
  void Beat(DWORD now);
  void OnBeginData(ULONG total);
  void OnData(ULONG progress, ULONG total, DWORD now);
  bool OutOfSize(ULONG progress, ULONG total);

  HANDLE heartbeat_;
  LONG identity_;
  DWORD beatAt_; // GetTickCount of the last heartbeat set
  bool beaten_;
  DWORD httpStatus_;
  ULONG lastTotal_;
  bool contentEncoded_;
  unsigned shownPercent_; // the percentage text last set, 0 when it is empty or "0%"
  ULONG shownPosition_;   // the bar position last sent, 0 after the begin of data
  DWORD shownAt_;         // GetTickCount of the last redraw (DWORD arithmetic survives the wrap)
  DWORD redrawMs_;
  ULONG sizeLimit_;
  bool exactSize_;
  bool tooLarge_;
  ULONG otherTotal_;
  bool signInAsked_; // Authenticate has handed out the dialog once: no second prompt
};

// The window a sign-in prompt for download `identity` may belong to: the updater dialog while the
// user sees it (a first run, and the package after Install in Update mode); null during Update
// mode's silent check, and for a transfer cancelled, abandoned or superseded.
HWND SignInWindow(LONG identity);
