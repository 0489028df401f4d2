// PlinthwareBench.exe: starts the updater or a baseline program as a plain child process (no
// debugger-output listener, which would slow the child's every OutputDebugString) and measures
// from outside what the user sees. One figure per run, printed as "name=value" lines.
//   PlinthwareBench startup  EXE [ARGUMENT]      process start until a dialog of it is visible
//   PlinthwareBench download EXE [quiet]         stage-2 package download, CPU, reply times, progress
//                                                (quiet: no pings, whose handling would count as CPU)
//   PlinthwareBench error    EXE                 Download Now until the network-error box
//   PlinthwareBench firstrun EXE                 a whole first run; the peak working set
//   PlinthwareBench ping EXE MS                  the longest WM_NULL reply of an idle dialog program over
//                                                MS milliseconds (a control for the machine's own delays)
// Main thread, plus one thread that pings the dialog during the download.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "unix_cpu.h"

namespace {

const DWORD kDeadlineMs = 120000;
const wchar_t kDownloading[] = L"Downloading Plinthware:";
const wchar_t kInstalling[] = L"Installing Plinthware:";
const wchar_t kInstalled[] =
    L"Plinthware installed successfully. Before you can use Plinthware, you must restart your computer.";

LARGE_INTEGER g_frequency;

double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(g_frequency.QuadPart);
}

double CpuMs(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
  ULONGLONG k = (static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
  ULONGLONG u = (static_cast<ULONGLONG>(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  return static_cast<double>(k + u) / 10000.0;
}

double PeakWorkingSetKiB(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return -1;
  return static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
}

// The text a window holds, read without sending it a message where the system keeps the text
// itself, so that polling does not load the child's user-interface thread.
std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  if (window) GetWindowTextW(window, text, ARRAYSIZE(text));
  return text;
}

struct Child {
  PROCESS_INFORMATION info = {};
  bool Start(const std::wstring& exe, const std::wstring& argument = L"") {
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!argument.empty()) commandLine += L" \"" + argument + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info) != 0;
  }
  ~Child() {
    if (!info.hProcess) return;
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
};

// A visible "#32770" window of the process; with `other`, one that is not `other`.
HWND VisibleDialog(DWORD processId, HWND other = nullptr) {
  for (HWND window : driver::TopLevelWindows(processId)) {
    if (window != other && IsWindowVisible(window) && driver::ReadClassName(window) == L"#32770") return window;
  }
  return nullptr;
}

// Polls `done` every millisecond until it holds or the deadline passes.
template <typename Condition>
bool PollUntil(Condition done, DWORD deadlineMs = kDeadlineMs) {
  double end = NowMs() + deadlineMs;
  while (!done()) {
    if (NowMs() > end) return false;
    Sleep(1);
  }
  return true;
}

int Fail(const char* what) {
  printf("error=%s\n", what);
  return 1;
}

// A first run starts from no installed version, or the updater would find nothing newer.
void ForgetInstallation() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvane\\autolaunch"); }

int MeasureStartup(const std::wstring& exe, const std::wstring& argument) {
  ForgetInstallation();
  Child child;
  double start = NowMs();
  if (!child.Start(exe, argument)) return Fail("start");
  HWND dialog = nullptr;
  if (!PollUntil([&] { return (dialog = VisibleDialog(child.info.dwProcessId)) != nullptr; })) return Fail("no dialog");
  double shown = NowMs();
  printf("startup_ms=%.1f\n", shown - start);
  printf("peak_ws_kib=%.0f\n", PeakWorkingSetKiB(child.info.hProcess));
  return 0;
}

struct PingState {
  HWND dialog;
  volatile LONG stop;
  volatile LONG recording;
  double recordStartMs;
  double maxReplyMs;
  double maxReplyAtMs; // when the longest reply was sent, since recording began
  int count;
  int timeouts;
  // Every reply of kSlowReplyMs or more while recording (up to kSlowReplies): when it was sent,
  // since recording began, and how long it took. Shows where the time goes, not only the worst.
  double slowAtMs[32];
  double slowMs[32];
  int slow;
};

const double kSlowReplyMs = 25.0;
const int kSlowReplies = 32;

void PrintSlowReplies(const PingState& state) {
  printf("slow_replies=");
  for (int i = 0; i < state.slow; ++i) printf("%s%.0f:%.1f", i ? "," : "", state.slowAtMs[i], state.slowMs[i]);
  printf("\n");
}

// Sends WM_NULL every 10 ms and keeps the longest reply time while recording.
DWORD WINAPI PingThread(void* parameter) {
  auto* state = static_cast<PingState*>(parameter);
  while (!state->stop) {
    double sent = NowMs();
    DWORD_PTR result = 0;
    BOOL answered = SendMessageTimeoutW(state->dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    double reply = NowMs() - sent;
    if (state->recording) {
      ++state->count;
      if (!answered) ++state->timeouts;
      if (reply >= kSlowReplyMs && state->slow < kSlowReplies) {
        state->slowAtMs[state->slow] = sent - state->recordStartMs;
        state->slowMs[state->slow] = reply;
        ++state->slow;
      }
      if (reply > state->maxReplyMs) {
        state->maxReplyMs = reply;
        state->maxReplyAtMs = sent - state->recordStartMs;
      }
    }
    double next = sent + 10.0 - NowMs();
    if (next > 0) Sleep(static_cast<DWORD>(next));
  }
  return 0;
}

// A first run of `exe` up to its Offer screen: nothing installed, the dialog visible. Null when
// the program did not start or show it.
HWND StartToOffer(Child& child, const std::wstring& exe) {
  ForgetInstallation();
  if (!child.Start(exe)) return nullptr;
  DWORD pid = child.info.dwProcessId;
  HWND dialog = nullptr;
  PollUntil([&] { return (dialog = VisibleDialog(pid)) != nullptr; });
  return dialog;
}

int MeasureDownload(const std::wstring& exe, bool pinging) {
  Child child;
  HWND dialog = StartToOffer(child, exe);
  if (!dialog) return Fail("no Offer screen");
  HWND status = GetDlgItem(dialog, driver::kStatusLink);
  HWND percent = GetDlgItem(dialog, driver::kPercent);
  PingState ping = {};
  ping.dialog = dialog;
  HANDLE pinger = pinging ? CreateThread(nullptr, 0, PingThread, &ping, 0, nullptr) : nullptr;
  if (pinging && !pinger) return Fail("ping thread");
  driver::PressButton(dialog, driver::kDownloadNow);

  // Stage 2 begins when the status turns to "Downloading Plinthware:" (set just before the
  // package's Download thread starts) and its code 2 is handled when it turns to "Installing".
  bool begun = PollUntil([&] { return TextOf(status) == kDownloading; });
  double start = NowMs();
  double cpuStart = CpuMs(child.info.hProcess);
  DWORD unixPid = FindUnixProcess("PlinthwareUpdater.exe");
  wchar_t unixName[16] = {};
  _snwprintf(unixName, ARRAYSIZE(unixName) - 1, L"%lu", static_cast<unsigned long>(unixPid));
  double unixCpuStart = unixPid ? UnixCpuMs(unixName) : -1;
  ping.recordStartMs = start;
  ping.recording = 1;
  std::vector<std::pair<double, int>> samples;
  std::wstring lastPercent;
  bool ended = begun && PollUntil([&] {
    std::wstring shown = TextOf(percent);
    if (shown != lastPercent) {
      samples.push_back({NowMs() - start, _wtoi(shown.c_str())});
      lastPercent = shown;
    }
    return TextOf(status) == kInstalling;
  });
  double end = NowMs();
  double cpuEnd = CpuMs(child.info.hProcess);
  double unixCpuEnd = unixPid ? UnixCpuMs(unixName) : -1;
  ping.recording = 0;
  ping.stop = 1;
  if (pinger) {
    WaitForSingleObject(pinger, 10000);
    CloseHandle(pinger);
  }
  if (!begun) return Fail("stage 2 never began");
  if (!ended) return Fail("stage 2 never ended");
  printf("download_ms=%.1f\n", end - start);
  printf("cpu_ms=%.1f\n", cpuEnd - cpuStart);
  if (unixCpuStart >= 0 && unixCpuEnd >= 0) printf("unix_cpu_ms=%.1f\n", unixCpuEnd - unixCpuStart);
  if (pinging) {
    printf("max_reply_ms=%.1f\n", ping.maxReplyMs);
    printf("max_reply_at_ms=%.1f\n", ping.maxReplyAtMs);
    printf("pings=%d\n", ping.count);
    printf("ping_timeouts=%d\n", ping.timeouts);
    PrintSlowReplies(ping);
  }
  for (const auto& sample : samples) printf("progress %.1f %d\n", sample.first, sample.second);
  printf("progress %.1f 100\n", end - start);
  return 0;
}

int MeasureTimeToError(const std::wstring& exe) {
  Child child;
  HWND dialog = StartToOffer(child, exe);
  if (!dialog) return Fail("no Offer screen");
  DWORD pid = child.info.dwProcessId;
  double start = NowMs();
  driver::PressButton(dialog, driver::kDownloadNow);
  HWND box = nullptr;
  if (!PollUntil([&] { return (box = VisibleDialog(pid, dialog)) != nullptr; }, 60000)) return Fail("no error box");
  printf("error_ms=%.1f\n", NowMs() - start);
  printf("box_text=%ls\n", TextOf(GetDlgItem(box, driver::kMessageBoxTextId)).c_str());
  return 0;
}

int MeasureFirstRun(const std::wstring& exe) {
  Child child;
  HWND dialog = StartToOffer(child, exe);
  if (!dialog) return Fail("no Offer screen");
  double start = NowMs();
  driver::PressButton(dialog, driver::kDownloadNow);
  HWND status = GetDlgItem(dialog, driver::kStatusLink);
  if (!PollUntil([&] { return TextOf(status) == kInstalled; }, 60000)) return Fail("no restart offer");
  printf("firstrun_ms=%.1f\n", NowMs() - start);
  printf("peak_ws_kib=%.0f\n", PeakWorkingSetKiB(child.info.hProcess));
  driver::PressButton(dialog, driver::kRestartLater);
  if (WaitForSingleObject(child.info.hProcess, 30000) != WAIT_OBJECT_0) return Fail("no exit after Restart Later");
  return 0;
}

int MeasureIdleReplies(const std::wstring& exe, DWORD durationMs) {
  Child child;
  if (!child.Start(exe)) return Fail("start");
  HWND dialog = nullptr;
  if (!PollUntil([&] { return (dialog = VisibleDialog(child.info.dwProcessId)) != nullptr; })) return Fail("no dialog");
  PingState ping = {};
  ping.dialog = dialog;
  ping.recordStartMs = NowMs();
  ping.recording = 1;
  HANDLE pinger = CreateThread(nullptr, 0, PingThread, &ping, 0, nullptr);
  if (!pinger) return Fail("ping thread");
  Sleep(durationMs); // the span to watch, not a wait for an event
  ping.stop = 1;
  WaitForSingleObject(pinger, 10000);
  CloseHandle(pinger);
  printf("max_reply_ms=%.1f\n", ping.maxReplyMs);
  printf("max_reply_at_ms=%.1f\n", ping.maxReplyAtMs);
  printf("pings=%d\n", ping.count);
  PrintSlowReplies(ping);
  return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  QueryPerformanceFrequency(&g_frequency);
  if (argc == 4 && std::wstring(argv[1]) == L"ping") {
    return MeasureIdleReplies(driver::WindowsPathOf(argv[2]), static_cast<DWORD>(_wtoi(argv[3])));
  }
  if (argc == 4 && std::wstring(argv[1]) == L"startup") {
    return MeasureStartup(driver::WindowsPathOf(argv[2]), driver::WindowsPathOf(argv[3]));
  }
  if (argc == 4 && std::wstring(argv[1]) == L"download" && std::wstring(argv[3]) == L"quiet") {
    return MeasureDownload(driver::WindowsPathOf(argv[2]), false);
  }
  if (argc != 3) {
    fputs("usage: PlinthwareBench startup|download|error|firstrun EXE | startup EXE ARGUMENT | ping EXE MS\n", stderr);
    return 2;
  }
  std::wstring command = argv[1];
  std::wstring exe = driver::WindowsPathOf(argv[2]);
  int status = 2;
  if (command == L"startup") status = MeasureStartup(exe, L"");
  else if (command == L"download") status = MeasureDownload(exe, true);
  else if (command == L"error") status = MeasureTimeToError(exe);
  else if (command == L"firstrun") status = MeasureFirstRun(exe);
  else fputs("unknown measurement\n", stderr);
  fflush(stdout);
  return status;
}
