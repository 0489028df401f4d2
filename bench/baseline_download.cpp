// Baseline for the package download: URLDownloadToFileW of one address into one file with a sink
// that does nothing but note when a report arrived and how far it had come. Main thread, and the
// transfer thread.
//   bench_download URL FILE [negotiate]
// Prints "wall_ms=..." and "cpu_ms=..." for the transfer, then one "progress MS PERCENT" line per
// report with a total (written after the transfer, so printing costs the transfer nothing).
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>
#include <stdio.h>

#include "unix_cpu.h"

namespace {

struct Sample {
  double ms;
  ULONG progress;
  ULONG total;
};

const int kMaxSamples = 65536;
Sample g_samples[kMaxSamples];
int g_sampleCount = 0;
LARGE_INTEGER g_frequency;
LARGE_INTEGER g_start;

double MillisecondsSinceStart() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - g_start.QuadPart) * 1000.0 / static_cast<double>(g_frequency.QuadPart);
}

// With "negotiate" after the file, the sink also answers IHttpNegotiate as the updater's does (to
// learn the HTTP status); Wine's URLMON then reports the data as it arrives.
bool g_negotiate = false;

class NullSink : public IBindStatusCallback, public IHttpNegotiate {
public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (g_negotiate && object && IsEqualIID(riid, IID_IHttpNegotiate)) {
      *object = static_cast<IHttpNegotiate*>(this);
      return S_OK;
    }
    return E_NOTIMPL;
  }
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* headers) override {
    if (headers) *headers = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD, LPCWSTR, LPCWSTR, LPWSTR* headers) override {
    if (headers) *headers = nullptr;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 0; }
  STDMETHODIMP_(ULONG) Release() override { return 0; }
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG total, ULONG, LPCWSTR) override {
    if (total != 0 && g_sampleCount < kMaxSamples) g_samples[g_sampleCount++] = {MillisecondsSinceStart(), progress, total};
    return S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

double CpuMilliseconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
  ULONGLONG k = (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
  ULONGLONG u = (static_cast<ULONGLONG>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  return static_cast<double>(k + u) / 10000.0;
}

} // namespace

struct Transfer {
  const wchar_t* url;
  const wchar_t* file;
  HRESULT result;
};

// The transfer runs on a thread of its own without COM initialisation of its own, in a process whose
// main thread joined the multithreaded apartment: the way the updater's Download thread runs it.
DWORD WINAPI TransferThread(void* parameter) {
  auto* transfer = static_cast<Transfer*>(parameter);
  NullSink sink;
  DeleteUrlCacheEntryW(transfer->url);
  transfer->result = URLDownloadToFileW(nullptr, transfer->url, transfer->file, 0, &sink);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 4) {
    fputs("usage: bench_download URL FILE [negotiate]\n", stderr);
    return 2;
  }
  g_negotiate = argc == 4 && lstrcmpiW(argv[3], L"negotiate") == 0;
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  QueryPerformanceFrequency(&g_frequency);
  Transfer transfer = {argv[1], argv[2], E_FAIL};
  double cpuBefore = CpuMilliseconds();
  // Not /proc/self: Wine's server opens files for its clients, so "self" there is wineserver.
  wchar_t unixPid[16] = {};
  _snwprintf(unixPid, ARRAYSIZE(unixPid) - 1, L"%lu", static_cast<unsigned long>(FindUnixProcess("bench_download.exe")));
  double unixCpuBefore = UnixCpuMs(unixPid);
  QueryPerformanceCounter(&g_start);
  HANDLE thread = CreateThread(nullptr, 0, TransferThread, &transfer, 0, nullptr);
  if (!thread) return 1;
  WaitForSingleObject(thread, INFINITE);
  double wall = MillisecondsSinceStart();
  double cpu = CpuMilliseconds() - cpuBefore;
  double unixCpu = UnixCpuMs(unixPid) - unixCpuBefore;
  CloseHandle(thread);
  printf("result=0x%08lX\nwall_ms=%.1f\ncpu_ms=%.1f\nunix_cpu_ms=%.1f\n", static_cast<unsigned long>(transfer.result), wall,
         cpu, unixCpu);
  for (int i = 0; i < g_sampleCount; ++i) {
    ULONGLONG percent = static_cast<ULONGLONG>(g_samples[i].progress) * 100 / g_samples[i].total;
    printf("progress %.1f %llu\n", g_samples[i].ms, percent);
  }
  CoUninitialize();
  return transfer.result == S_OK ? 0 : 1;
}
