// A stand-in for the updater around the Installer thread: a hidden main window that answers
// Workflow code 5, the real updater dialog (template 129), the download buffers pointing at a
// temporary folder with the stand-in package as "vrel_setup.exe", and the package's environment.
// Runs on the test's main thread, which serves the windows while the Installer thread runs.
#pragma once
#include <windows.h>

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
  // stand-in package copied there as "vrel_setup.exe", and an Info file with `infoFile`.
  explicit InstallerRun(const std::string& infoFile, const std::wstring& folderName = L"temp");
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

// The progress bar and the percentage static of the dialog, and their states.
HWND ProgressBar();
bool HasMarqueeStyle();
bool PercentVisible(); // by its own WS_VISIBLE style: the dialog itself stays hidden

} // namespace installer_harness
