// package_fetch_probe.exe URL DESTINATION RESULT: downloads URL with URLDownloadToFileW, as the
// updater does, in a process whose environment the test chose (WinINet reads http_proxy when a
// process starts). Writes "hr=0x........ status=NNN" in ASCII to RESULT. One thread.
#include <windows.h>
#include <strsafe.h>
#include <urlmon.h>
#include <wininet.h>

// The smallest status sink that asks for the HTTP response: IHttpNegotiate::OnResponse gives
// the status code before the data arrives.
class ProbeSink : public IBindStatusCallback, public IHttpNegotiate {
public:
  DWORD status = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *object = static_cast<IBindStatusCallback*>(this);
    } else if (riid == IID_IHttpNegotiate) {
      *object = static_cast<IHttpNegotiate*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  // Lives on main's stack for the whole download.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
    status = code;
    if (additional) *additional = nullptr;
    return S_OK;
  }
};

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  DeleteUrlCacheEntryW(argv[1]);
  ProbeSink sink;
  HRESULT hr = URLDownloadToFileW(nullptr, argv[1], argv[2], 0, &sink);
  char line[64];
  StringCchPrintfA(line, ARRAYSIZE(line), "hr=0x%08lx status=%lu", static_cast<unsigned long>(hr),
                   static_cast<unsigned long>(sink.status));
  HANDLE file = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  size_t length = 0;
  StringCchLengthA(line, ARRAYSIZE(line), &length);
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  CoUninitialize();
  return 0;
}
