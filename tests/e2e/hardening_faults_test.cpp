// Faults of the PC rather than the network: a temporary folder that cannot take the download, a
// leftover Info file that is locked or read-only, a leftover package that is still running, and
// (in its own CTest entry, under a file-size limit) a disk that fills up during the package.
// Each must end with the box that fits, at once, and never run a stale or half-written package.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "package/package_record.h"

namespace {

using e2e::kNetworkError;
using e2e::kInstalledText;
using e2e::kAtOnceMs;

using e2e::PackageFile;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/e2e-tests/faults/vrel_setup.exe";
const wchar_t kHoldEvent[] = L"plinthware_faults_hold";
const wchar_t kHoldStartedEvent[] = L"plinthware_faults_hold.started";

std::string InfoFile() {
  return std::string("[platform_win7]\r\nVersion=2.0.0.1\r\nLocation=http://download.orvane.com") + kPackagePath +
         "\r\nInstConfig=vrel_setup.exe /S\r\n";
}

// The package at the server's address, as a hard link into the docroot: no bytes are written, so
// a file-size limit on this program does not stop it being served.
bool ServePackage(e2e::ServedFiles& served, const std::wstring& package) {
  if (!served.Serve(kPackagePath, "")) return false;
  std::wstring served_path = e2e::Docroot() + testing_support::Widen(kPackagePath);
  for (wchar_t& c : served_path) {
    if (c == L'/') c = L'\\';
  }
  DeleteFileW(served_path.c_str());
  return CreateHardLinkW(served_path.c_str(), package.c_str(), nullptr) != 0;
}

enum class Fault {
  TempIsAFile,        // TMP and TEMP name a file: no folder to write into
  TempIsMissing,      // TMP and TEMP name a folder that does not exist
  InfoFileLocked,     // a leftover vrel_info, held open by the test without sharing
  InfoFileLockedSameSize, // the same, exactly as long as the Info file the server sends
  InfoFileReadOnly,   // a leftover vrel_info with the read-only attribute
  PackageStillRuns,   // a leftover vrel_setup.exe, started from there and still running
};

struct FaultCase {
  const char* name;
  Fault fault;
  bool installs; // the leftover is the updater's own to replace: the fresh package installs, no box
};

class Faults : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no test web server (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_FALSE(PackageFile(L"vrel_setup_1.0.0.6.exe").empty()) << "PLINTHWARE_PACKAGES_DIR is not set";
    ASSERT_TRUE(e2e::RemoveCompanion());
    e2e::DeleteInstallMarker(); // an earlier program's run may have left one
    ASSERT_TRUE(installed_.set());
    ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile()));
    ASSERT_TRUE(ServePackage(served_, PackageFile(L"vrel_setup_1.0.0.6.exe")));
  }

  // Prepares `temp` for the fault and returns the TMP value to give the updater. `held` receives
  // a handle the test keeps open for the run (the locked Info file, the running package).
  std::wstring Prepare(Fault fault, const testing_support::TempDir& temp, HANDLE* held) {
    *held = nullptr;
    switch (fault) {
    case Fault::TempIsAFile: {
      std::wstring file = temp.file(L"not_a_folder");
      EXPECT_TRUE(testing_support::WriteBytes(file, "x"));
      return file;
    }
    case Fault::TempIsMissing:
      return temp.file(L"missing");
    case Fault::InfoFileLocked:
    case Fault::InfoFileLockedSameSize: {
      std::string stale = "[stale]\r\n";
      // Of the served length, a stale file would pass a size check for the fresh one.
      if (fault == Fault::InfoFileLockedSameSize) stale.resize(InfoFile().size(), ';');
      EXPECT_TRUE(testing_support::WriteBytes(temp.file(L"vrel_info"), stale));
      *held = CreateFileW(temp.file(L"vrel_info").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_NE(INVALID_HANDLE_VALUE, *held) << "error " << GetLastError();
      if (*held == INVALID_HANDLE_VALUE) *held = nullptr;
      return temp.path();
    }
    case Fault::InfoFileReadOnly:
      EXPECT_TRUE(testing_support::WriteBytes(temp.file(L"vrel_info"), StaleInfoFile()));
      EXPECT_TRUE(SetFileAttributesW(temp.file(L"vrel_info").c_str(), FILE_ATTRIBUTE_READONLY));
      return temp.path();
    case Fault::PackageStillRuns:
      *held = StartHeldPackage(temp);
      return temp.path();
    }
    return temp.path();
  }

  // An Info file that would offer a package from an address nobody serves: if the updater ever
  // read it, the transfer would fail differently and no package would run.
  static std::string StaleInfoFile() {
    return "[platform_win7]\r\nVersion=9.9.9.9\r\nLocation=http://download.orvane.com/e2e-tests/faults/stale.exe\r\n"
           "InstConfig=vrel_setup.exe /S\r\n";
  }

  // Copies version 1.0.0.5 as vrel_setup.exe into `temp` and starts it there, held before it
  // installs. Returns its process handle, or null.
  HANDLE StartHeldPackage(const testing_support::TempDir& temp) {
    std::wstring package = temp.file(L"vrel_setup.exe");
    EXPECT_TRUE(CopyFileW(PackageFile(L"vrel_setup_1.0.0.5.exe").c_str(), package.c_str(), FALSE)) << GetLastError();
    hold_ = CreateEventW(nullptr, TRUE, FALSE, kHoldEvent);
    holdStarted_ = CreateEventW(nullptr, TRUE, FALSE, kHoldStartedEvent);
    SetEnvironmentVariableW(package_record::kHoldVariable, kHoldEvent);
    SetEnvironmentVariableW(package_record::kRecordVariable, record_.c_str());
    std::wstring commandLine = L"vrel_setup.exe /S";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(package.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  temp.path().c_str(), &startup, &process);
    SetEnvironmentVariableW(package_record::kHoldVariable, nullptr);
    SetEnvironmentVariableW(package_record::kRecordVariable, nullptr);
    EXPECT_TRUE(started) << "error " << GetLastError();
    if (!started) return nullptr;
    CloseHandle(process.hThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holdStarted_, e2e::kShowMs)) << "the held package never started";
    return process.hProcess;
  }

  // Lets the held package finish and waits for it.
  void ReleaseHeldPackage(HANDLE process) {
    SetEvent(hold_);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, e2e::kEndMs)) << "the held package did not end";
  }

  // One run: the Offer, Download Now, and the network-error box at once with the dialog hidden,
  // exit code 0, after a failure of the download itself. With `installs` the fresh package must
  // instead be installed, once, and no box come. Returns true when the box came.
  bool ExpectNetworkErrorBox(const std::wstring& temp, bool installs) {
    driver::UpdaterProcess updater;
    driver::LaunchOptions options = e2e::ServedUpdaterOptions();
    options.environment.push_back({L"TMP", temp, false});
    options.environment.push_back({L"TEMP", temp, false});
    options.environment.push_back({package_record::kRecordVariable, record_, false});
    EXPECT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    EXPECT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
    if (!dialog) return false;
    DWORD pressed = GetTickCount();
    EXPECT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
    bool installed = false;
    updater.WaitUntil([&] {
      installed = driver::ReadControl(updater.UpdaterDialog(), driver::kStatusLink).text == kInstalledText;
      return installed || updater.VisibleMessageBox() != nullptr;
    }, e2e::kShowMs);
    EXPECT_EQ(installs, installed) << (installs ? "the fresh package was not installed\n" : "a package was installed\n")
                                   << updater.Describe();
    if (installed) {
      std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
      EXPECT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
      if (!runs.empty()) {
        EXPECT_EQ(L"1.0.0.6", runs[0].packageVersion) << "a stale package ran";
      }
      EXPECT_TRUE(driver::PressButton(updater.UpdaterDialog(), driver::kRestartLater));
      DWORD exitCode = 1;
      EXPECT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
      EXPECT_EQ(0u, exitCode);
      return false;
    }
    HWND box = updater.VisibleMessageBox();
    DWORD elapsed = GetTickCount() - pressed;
    EXPECT_NE(nullptr, box) << "no message box after " << elapsed << " ms\n" << updater.Describe();
    if (!box) return false;
    EXPECT_LT(elapsed, kAtOnceMs) << "the box came late";
    EXPECT_FALSE(IsWindowVisible(updater.UpdaterDialog())) << "the dialog is visible beside the box";
    driver::MessageBoxState state = updater.ReadMessageBox(box);
    EXPECT_EQ(kNetworkError, state.text) << updater.Describe();
    EXPECT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    EXPECT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "a failure writes no install marker";
    bool reported = false;
    for (const std::string& message : updater.DebugMessages()) {
      reported = reported || message.compare(0, 9, "download ") == 0;
    }
    EXPECT_TRUE(reported) << "no download failure in the output\n" << updater.Describe();
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    return true;
  }

  void TearDown() override {
    if (hold_) CloseHandle(hold_);
    if (holdStarted_) CloseHandle(holdStarted_);
  }

  e2e::ServedFiles served_;
  e2e::ScopedInstalledVersion installed_{L"1.0.0.0"};
  testing_support::TempDir folder_;
  std::wstring record_ = folder_.file(L"package_record.txt");
  HANDLE hold_ = nullptr;
  HANDLE holdStarted_ = nullptr;
};

const FaultCase kFaults[] = {
    {"TMP names a file", Fault::TempIsAFile, false},
    {"TMP names a missing folder", Fault::TempIsMissing, false},
    {"a leftover Info file held open without sharing", Fault::InfoFileLocked, false},
    {"a locked leftover Info file of the served length", Fault::InfoFileLockedSameSize, false},
    // The updater removes a read-only leftover of its own before it downloads afresh.
    {"a leftover read-only Info file", Fault::InfoFileReadOnly, true},
    {"a leftover package still running", Fault::PackageStillRuns, false},
};

TEST_F(Faults, EachFaultOfThePcEndsWithTheNetworkErrorBoxAndRunsNothingStale) {
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.name);
    e2e::DeleteInstallMarker();
    DeleteFileW(record_.c_str());
    testing_support::TempDir temp;
    HANDLE held = nullptr;
    std::wstring tmp = Prepare(c.fault, temp, &held);
    int requestsBefore = e2e::RequestCount(kPackagePath);
    ExpectNetworkErrorBox(tmp, c.installs);
    if (c.fault == Fault::PackageStillRuns) {
      // The leftover cannot be removed, so the package is not even fetched.
      EXPECT_EQ(requestsBefore, e2e::RequestCount(kPackagePath)) << "the package was fetched over a running one";
      if (held) ReleaseHeldPackage(held);
      std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
      ASSERT_EQ(1u, runs.size()) << "only the held package may run\n" << package_record::DescribePackageRecord(record_);
      EXPECT_EQ(L"1.0.0.5", runs[0].packageVersion);
      EXPECT_EQ(L"released", runs[0].held);
    }
    if (held) CloseHandle(held);
    SetFileAttributesW(temp.file(L"vrel_info").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

// Runs only in the CTest entry that limits the size of every file this program and its children
// write (PLINTHWARE_FILE_SIZE_LIMIT, in bytes): the package, larger than the limit, stops early.
TEST_F(Faults, ADiskThatFillsDuringThePackageShowsTheNetworkErrorBox) {
  wchar_t limit[32] = {};
  if (GetEnvironmentVariableW(L"PLINTHWARE_FILE_SIZE_LIMIT", limit, ARRAYSIZE(limit)) == 0) {
    GTEST_SKIP() << "runs in the entry with a file-size limit";
  }
  WIN32_FILE_ATTRIBUTE_DATA package = {};
  ASSERT_TRUE(GetFileAttributesExW(PackageFile(L"vrel_setup_1.0.0.6.exe").c_str(), GetFileExInfoStandard, &package));
  ASSERT_GT(package.nFileSizeLow, static_cast<DWORD>(_wtol(limit))) << "the package fits under the limit";
  testing_support::TempDir temp;
  int requestsBefore = e2e::RequestCount(kPackagePath);
  EXPECT_TRUE(ExpectNetworkErrorBox(temp.path(), false));
  // The Info file was fetched and the package requested: the failure was the write.
  EXPECT_GT(e2e::RequestCount(kPackagePath), requestsBefore) << "the package was never requested";
}

} // namespace
