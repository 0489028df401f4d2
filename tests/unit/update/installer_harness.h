// A stand-in for the updater around the Installer thread: a hidden main window that answers
// Workflow code 5, the real updater dialog (template 129), the download buffers pointing at a
// temporary folder with the stand-in package as "vrel_setup.exe", and the package's environment.
// Runs on the test's main thread, which serves the windows while the Installer thread runs.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "support/test_support.h"

namespace installer_harness {

// What the main window saw when code 5 arrived.
struct Report {
  int count = 0;              // code-5 messages received
  LPARAM outcome = -1;        // lParam of the last one
  bool marqueeAtReport = true; // PBS_MARQUEE still set when it arrived
  std::string recordAtReport; // the package's record file at that moment
};

// Creates the main window and the dialog once per test program; returns false when it cannot.
bool CreateWindows();

class InstallerRun {
public:
  // A temporary folder (name `folderName` inside a fresh TempDir) as the Temp-folder buffer, the
  // stand-in package (`packageName` beside the test program) copied there as "vrel_setup.exe",
  // and an Info file with `infoFile`.
  explicit InstallerRun(const std::string& infoFile, const std::wstring& folderName = L"temp",
                        const wchar_t* packageName = L"test_package.exe");
  ~InstallerRun();
  InstallerRun(const InstallerRun&) = delete;
  InstallerRun& operator=(const InstallerRun&) = delete;

  void SetExitCode(DWORD code);
  // Makes the package wait after recording until Release(); started() is set when it waits.
  void Hold();
  bool WaitStarted(DWORD timeoutMs); // serves the windows meanwhile
  void Release();

  // Starts the Installer thread and serves the windows until code 5 arrives and the thread ends.
  // False when that does not happen within timeoutMs.
  bool Complete(DWORD timeoutMs = 20000);
  // Starts the thread only.
  bool Start();

  const Report& report() const;
  DWORD ThreadExitCode() const;
  std::string Record() const; // the package's record file: command line, folder, "released"
  bool PackageRan() const;
  const std::wstring& folder() const { return folder_; } // without trailing backslash
  std::wstring package() const { return folder_ + L"\\vrel_setup.exe"; }

private:
  testing_support::TempDir temp_;
  std::wstring folder_;
  std::wstring record_;
  HANDLE thread_ = nullptr;
  HANDLE hold_ = nullptr;
  HANDLE started_ = nullptr;
};

// What a start saw of the package it was asked to run, through the start seams below.
struct HeldAtStart {
  int starts = 0;
  DWORD writeError = 0;  // opening the package for writing
  DWORD deleteError = 0; // opening it for deletion
};
extern HeldAtStart g_heldAtStart;

// Stand-ins for g_createProcess and g_shellExecuteEx that first try to open the package for
// writing and for deletion (into g_heldAtStart), then start it; and a first start that asks for
// elevation (ERROR_ELEVATION_REQUIRED).
BOOL WINAPI ProbingCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                 LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                 LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process);
BOOL WINAPI ProbingShellExecute(SHELLEXECUTEINFOW* info);
BOOL WINAPI ElevationRequired(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                              LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);

// The progress bar and the percentage static of the dialog, and their states.
HWND ProgressBar();
bool HasMarqueeStyle();
bool PercentVisible(); // by its own WS_VISIBLE style: the dialog itself stays hidden

} // namespace installer_harness
