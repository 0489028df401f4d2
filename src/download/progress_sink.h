// MyCallback, the status sink of every transfer: it feeds the Watchdog, aborts on the Cancel
// flag, drives the progress bar and percentage, and learns the HTTP status. It runs on the
// Download thread, inside URLDownloadToFileW.
#pragma once
#include <windows.h>
#include <urlmon.h>

// Formats the percentage for `progress` of `total` bytes (total > 0) as the dialog shows it.
unsigned ProgressPercent(ULONG progress, ULONG total);

class MyCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
  // `heartbeat` is this download's own handle to the Heartbeat event (a duplicate that lives as
  // long as the transfer), `identity` the download it reports for.
  MyCallback(HANDLE heartbeat, LONG identity);

  // IUnknown: only IHttpNegotiate is answered; no reference counting, the sink lives on the stack.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IBindStatusCallback: only OnProgress does anything.
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* object) override;

  // IHttpNegotiate: records the response status; adds no headers.
  STDMETHODIMP BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved, LPWSTR* additionalHeaders) override;
  STDMETHODIMP OnResponse(DWORD statusCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders, LPWSTR* additionalRequestHeaders) override;

  DWORD httpStatus() const { return httpStatus_; } // 0 when no response was reported
  ULONG lastTotal() const { return lastTotal_; }   // the last non-zero total reported, else 0

private:
  HANDLE heartbeat_;
  LONG identity_;
  DWORD httpStatus_;
  ULONG lastTotal_;
};
