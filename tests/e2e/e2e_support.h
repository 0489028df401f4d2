// What the end-to-end tests share: where the built programs are, how the updater is started for
// a test, the companion stand-in placed in the system directory, the Wine version setting, and
// the checks of the Shutdown sequence's debugger output. Test thread only.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "support/test_support.h"

namespace e2e {

// Deadlines: generous for Wine, which takes a second or more to start a program.
const DWORD kShowMs = 20000;  // until the dialog (or a message box) is on the screen
const DWORD kEndMs = 15000;   // until the program has ended after its last step
const DWORD kAnswerMs = 5000; // until a window reacts to a press
// A refusal or a failed download ends in its box at once: far inside the Watchdog's 20 s.
const DWORD kAtOnceMs = 8000;

// The texts the end-to-end tests wait for, as the built-in Text table has them.
const wchar_t kNetworkError[] = L"An network error has occurred. Please retry later.";
const wchar_t kInstallFailed[] = L"Plinthware could not be installed. Please retry later.";
const wchar_t kInstalledText[] =
    L"Plinthware installed successfully. Before you can use Plinthware, you must restart your computer.";

extern const wchar_t kAutolaunchKey[]; // SOFTWARE\Orvane\autolaunch under HKEY_LOCAL_MACHINE

// The built PlinthwareUpdater.exe and qentraSvc.exe, as CTest names them in the environment.
std::wstring UpdaterPath();
std::wstring CompanionPath();
// PlinthwareUpdaterSlowTask.exe, a test build whose task removal pauses (slow_task_removal.cpp);
// empty for the test programs that do not use it.
std::wstring SlowTaskUpdaterPath();
std::wstring SystemDirectory();

// SHA-256 of a file as 64 lowercase hex digits, through CNG directly rather than the updater's
// own hashing, so that a fault there cannot hide in a test. Empty when the file cannot be read.
std::string Sha256Hex(const std::wstring& path);

// A path the environment names (a Unix path as Wine sees it), empty when it is not set.
std::wstring FromEnvironment(const wchar_t* name);
// `name` in the temporary folder, where the updater stores the Info file and the package.
std::wstring TempFile(const wchar_t* name);
// `name` among the NSIS test packages (PLINTHWARE_PACKAGES_DIR), empty without them.
std::wstring PackageFile(const wchar_t* name);

// How a test starts the updater: the built program (or `program`), its arguments, and an HTTP
// proxy on a port where nothing listens, so that no download ever leaves the machine.
driver::LaunchOptions UpdaterOptions(const std::wstring& arguments = L"", const std::wstring& program = L"");
// The same for tests with the test web server: the proxy is the server, as the test program's
// own environment names it (tools/wine/run.sh).
driver::LaunchOptions ServedUpdaterOptions(const std::wstring& arguments = L"");

// The `installed` value of the Autolaunch key, removed so that a test sees its own write.
void DeleteInstallMarker();
driver::RegistryValue ReadInstallMarker();

// The six outputs of the Shutdown sequence when both commands start; with the companion's
// program missing, its last two are "launch unreg service fail\n" and "unreg service fail\n".
std::vector<std::string> ShutdownOutputs(bool companionStarts);
// The debugger output ends with exactly those outputs, in that order.
testing::AssertionResult EndsWithShutdownOutputs(const std::vector<std::string>& messages, bool companionStarts);
// No output mentions the companion service or its commands.
testing::AssertionResult HasNoServiceCommands(const std::vector<std::string>& messages);

// Where qentraSvc.exe records each of its runs (its command line) for one test: a file of the
// test's own, named to the program through QENTRASVC_RECORD, and the event it sets afterwards.
class CommandRecord {
public:
  CommandRecord();
  ~CommandRecord();
  CommandRecord(const CommandRecord&) = delete;
  CommandRecord& operator=(const CommandRecord&) = delete;

  bool ready() const { return recorded_ != nullptr; }
  // What the updater needs in its environment, which its children inherit.
  driver::EnvironmentSetting Setting() const;
  bool WaitForRecord(DWORD timeoutMs) const; // a run has written its line
  std::string Text() const;                  // every line so far: "[command line]\r\n" each
  // The addresses the test prefix's link handler, this program (tools/wine/fixture.sh), was
  // asked to open, in order, once every running qentraSvc.exe has ended.
  std::vector<std::string> OpenedAddresses() const;

private:
  testing_support::TempDir folder_;
  std::wstring path_;
  HANDLE recorded_ = nullptr;
};

// qentraSvc.exe placed in the system directory as the companion service's program for one
// test; removed again (after its last run has ended) on destruction.
class PlacedCompanion {
public:
  PlacedCompanion();
  ~PlacedCompanion();
  PlacedCompanion(const PlacedCompanion&) = delete;
  PlacedCompanion& operator=(const PlacedCompanion&) = delete;

  bool placed() const { return placed_; }
  const CommandRecord& record() const { return record_; }

private:
  CommandRecord record_;
  bool placed_ = false;
};

// Makes sure no qentraSvc.exe lies in the system directory; false when one stays.
bool RemoveCompanion();

// Wine's per-program Windows version (HKCU\Software\Wine\AppDefaults\<exe>\Version) for the
// life of this object; Wine reads it when the program starts.
class ScopedWineVersion {
public:
  ScopedWineVersion(const std::wstring& exeName, const std::wstring& version);
  ~ScopedWineVersion();
  ScopedWineVersion(const ScopedWineVersion&) = delete;
  ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;
  bool set() const { return set_; }

private:
  std::wstring key_;
  bool set_ = false;
};

// The value installed_version of the Autolaunch key for the life of this object; the value
// is removed again afterwards.
class ScopedInstalledVersion {
public:
  explicit ScopedInstalledVersion(const std::wstring& version);
  ~ScopedInstalledVersion();
  ScopedInstalledVersion(const ScopedInstalledVersion&) = delete;
  ScopedInstalledVersion& operator=(const ScopedInstalledVersion&) = delete;
  bool set() const { return set_; }

private:
  bool set_ = false;
};

} // namespace e2e
