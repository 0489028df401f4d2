// Reads the run record that the test installer packages (tools/package/vrel_setup.nsi) append to,
// one block per run, and names the environment variables that steer a package. Runs on the
// caller's thread; used by the tests and the demo tools.
#pragma once
#include <string>
#include <vector>

namespace package_record {

// Names the record file a package appends to; unset: DefaultRecordPath().
extern const wchar_t kRecordVariable[];
// Names an event the package waits for (at most two minutes) before it installs; it first sets
// the event "<name>.started" when that exists.
extern const wchar_t kHoldVariable[];
// Set by a package after it has appended its block, when a test has created it.
extern const wchar_t kRecordedEvent[];

// One run of a package, as it recorded itself.
struct PackageRun {
  std::wstring commandLine;      // GetCommandLineW, exactly as the package received it
  std::wstring currentDirectory; // its current directory when it started
  std::wstring packageVersion;   // the version the package was built to install
  bool silent = false;           // NSIS took a /S switch
  bool wroteVersion = false;     // installed_version was written under the Autolaunch key
  std::wstring held;             // "none", "released" or "timeout"
  int exitCode = -1;             // what the package exited with
};

// Every run recorded in `path`, oldest first; empty when the file is missing or not a record.
std::vector<PackageRun> ReadPackageRecord(const std::wstring& path);
// The record's text as UTF-8 for failure messages; "(no record file)" when it is missing.
std::string DescribePackageRecord(const std::wstring& path);
// %TEMP%\vrel_setup_record.txt, where a package records when kRecordVariable is not set.
std::wstring DefaultRecordPath();

} // namespace package_record
