// The NSIS test packages, run for real under Wine the way the updater runs "vrel_setup.exe": the
// file in a folder of its own, CreateProcessW with the InstConfig text as the whole command line
// and that folder as the current directory. Checks what each package writes under the Autolaunch
// key, what it records about its run, its exit code, and whether it shows a window.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "package/package_record.h"
#include "support/test_support.h"

using package_record::PackageRun;
using testing_support::FileExists;
using testing_support::Narrow;
using testing_support::PumpUntil;
using testing_support::TempDir;

namespace {

const wchar_t kAutolaunchKey[] = L"SOFTWARE\\Orvane\\autolaunch";
const wchar_t kVersionValue[] = L"installed_version";
const DWORD kPackageEndMs = 30000; // a package under Wine ends within a few seconds
const wchar_t kSeedVersion[] = L"0.0.0.1";

// The packages' folder that CTest names; a Unix path under Wine, which shows the Unix root as Z:.
std::wstring PackagesFolder() {
  wchar_t value[2048] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_PACKAGES_DIR", value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value)) return std::wstring();
  std::wstring path = value[0] == L'/' ? L"Z:" : L"";
  path += value;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// installed_version in the 64-bit view; `present` false when the key or the value is missing.
std::wstring ReadInstalledVersion(bool* present) {
  *present = false;
  wchar_t text[256] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t);
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return std::wstring();
  }
  LONG status = RegQueryValueExW(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::wstring();
  *present = true;
  if (type != REG_SZ) return L"(type " + std::to_wstring(type) + L")";
  return text;
}

bool SetInstalledVersion(const wchar_t* version) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status;
  if (version) {
    status = RegSetValueExW(key, kVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                            static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
  } else {
    status = RegDeleteValueW(key, kVersionValue);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// A visible top-level window whose title begins with `caption` (NSIS appends the page's name).
bool CaptionVisible(const std::wstring& caption) {
  struct Search {
    const std::wstring* caption;
    bool found;
  } search = {&caption, false};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        Search* s = reinterpret_cast<Search*>(parameter);
        wchar_t title[256] = {};
        GetWindowTextW(window, title, ARRAYSIZE(title));
        if (IsWindowVisible(window) && wcsncmp(title, s->caption->c_str(), s->caption->size()) == 0) {
          s->found = true;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct PackageOutcome {
  bool started = false;
  bool ended = false;
  DWORD exitCode = 0;
  bool windowSeen = false; // its "Plinthware <version> Setup" window was visible while it ran
};

class PackageTest : public testing::Test {
protected:
  void SetUp() override {
    packages_ = PackagesFolder();
    ASSERT_FALSE(packages_.empty()) << "PLINTHWARE_PACKAGES_DIR is not set: run through CTest";
    HKEY key = nullptr;
    hadKey_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    savedVersion_ = ReadInstalledVersion(&hadVersion_);
    // A folder like the temporary folder of a user whose name has a blank and a non-ASCII letter.
    folder_ = temp_.file(L"Plinthw\u00e4re user");
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << "error " << GetLastError();
    record_ = temp_.file(L"record.txt");
    ASSERT_TRUE(SetEnvironmentVariableW(package_record::kRecordVariable, record_.c_str()));
  }

  void TearDown() override {
    SetEnvironmentVariableW(package_record::kRecordVariable, nullptr);
    SetEnvironmentVariableW(package_record::kHoldVariable, nullptr);
    // Leave the Autolaunch key as the test found it, for the tests that run after this one.
    if (hadKey_) {
      SetInstalledVersion(hadVersion_ ? savedVersion_.c_str() : nullptr);
    } else {
      testing_support::DeleteRegistryTree(HKEY_LOCAL_MACHINE, kAutolaunchKey);
    }
  }

  // Places `package` as folder_\vrel_setup.exe, as the updater's download does.
  std::wstring Place(const std::wstring& package) {
    const std::wstring source = packages_ + L"\\" + package;
    const std::wstring target = folder_ + L"\\vrel_setup.exe";
    EXPECT_TRUE(FileExists(source)) << Narrow(source) << " is missing: build the target plinthware_packages";
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << "error " << GetLastError();
    return target;
  }

  // Starts `program` with `commandLine` (nullptr: none of its own) in folder_ and waits for its
  // end, watching for its window meanwhile. `whileRunning` runs once the process exists.
  PackageOutcome Run(const std::wstring& program, const wchar_t* commandLine, const std::wstring& caption,
                     const std::function<void(HANDLE)>& whileRunning = nullptr) {
    PackageOutcome outcome;
    wchar_t buffer[128] = {};
    if (commandLine) wcsncpy_s(buffer, commandLine, _TRUNCATE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    outcome.started = CreateProcessW(program.c_str(), commandLine ? buffer : nullptr, nullptr, nullptr, FALSE, 0,
                                     nullptr, folder_.c_str(), &startup, &process) != FALSE;
    if (!outcome.started) {
      ADD_FAILURE() << "CreateProcessW failed: error " << GetLastError();
      return outcome;
    }
    if (whileRunning) whileRunning(process.hProcess);
    outcome.ended = PumpUntil(
        [&] {
          if (!outcome.windowSeen && CaptionVisible(caption)) outcome.windowSeen = true;
          return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        },
        kPackageEndMs);
    if (!outcome.ended) {
      TerminateProcess(process.hProcess, 99);
      WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return outcome;
  }

  TempDir temp_;
  std::wstring packages_;
  std::wstring folder_;
  std::wstring record_;
  bool hadKey_ = false;
  bool hadVersion_ = false;
  std::wstring savedVersion_;
};

struct PackageCase {
  const char* name;
  const wchar_t* package;     // file in the packages' folder
  const wchar_t* version;     // the version it was built with
  const wchar_t* commandLine; // the InstConfig text; nullptr: started without a command line
  bool preexisting;           // installed_version holds kSeedVersion before the run (else absent)
  DWORD exitCode;
  bool silent; // the package took /S
  bool writes; // installed_version holds `version` afterwards; else it is as before
};

const PackageCase kPackageCases[] = {
    // The updater's usual InstConfig: the program name, then the switch.
    {"silent 1.0.0.6", L"vrel_setup_1.0.0.6.exe", L"1.0.0.6", L"vrel_setup.exe /S", true, 0, true, true},
    {"silent 1.0.0.7, no earlier version", L"vrel_setup_1.0.0.7.exe", L"1.0.0.7", L"vrel_setup.exe /S", false, 0, true,
     true},
    {"silent 1.0.0.5 downgrades", L"vrel_setup_1.0.0.5.exe", L"1.0.0.5", L"vrel_setup.exe /S", true, 0, true, true},
    // NSIS takes the first token for the program's name, so a bare "/S" is not a switch: the
    // package shows its progress page, which closes by itself when done.
    {"bare /S is not silent", L"vrel_setup_1.0.0.6.exe", L"1.0.0.6", L"/S", true, 0, false, true},
    // No InstConfig: Windows makes the program's path the command line.
    {"no command line", L"vrel_setup_1.0.0.6.exe", L"1.0.0.6", nullptr, true, 0, false, true},
    // NSIS cuts a trailing /D= from its $CMDLINE; the record keeps the whole line.
    {"switches, quotes and an equals sign", L"vrel_setup_1.0.0.7.exe", L"1.0.0.7",
     L"\"vrel_setup.exe\" /NCRC /S /D=C:\\Program Files\\Plinthw\u00e4re", true, 0, true, true},
    {"failing package, silent", L"vrel_setup_fail.exe", L"1.0.0.6", L"vrel_setup.exe /S", true, 2, true, false},
    {"failing package, no value before", L"vrel_setup_fail.exe", L"1.0.0.6", L"vrel_setup.exe /S", false, 2, true,
     false},
    {"failing package, not silent", L"vrel_setup_fail.exe", L"1.0.0.6", L"vrel_setup.exe", true, 2, false, false},
};

TEST_F(PackageTest, RunsAsTheUpdaterStartsIt) {
  for (const PackageCase& c : kPackageCases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(record_.c_str());
    ASSERT_TRUE(SetInstalledVersion(c.preexisting ? kSeedVersion : nullptr));
    const std::wstring program = Place(c.package);
    const PackageOutcome outcome =
        Run(program, c.commandLine, L"Plinthware " + std::wstring(c.version) + L" Setup");
    ASSERT_TRUE(outcome.ended) << "the package did not end within " << kPackageEndMs << " ms";
    EXPECT_EQ(c.exitCode, outcome.exitCode);

    bool present = false;
    const std::wstring version = ReadInstalledVersion(&present);
    if (c.writes) {
      EXPECT_TRUE(present) << "no installed_version after the run";
      EXPECT_EQ(Narrow(c.version), Narrow(version));
    } else if (c.preexisting) {
      EXPECT_TRUE(present && version == kSeedVersion) << "installed_version changed to \"" << Narrow(version) << "\"";
    } else {
      EXPECT_FALSE(present) << "installed_version appeared: \"" << Narrow(version) << "\"";
    }

    const auto runs = package_record::ReadPackageRecord(record_);
    ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
    const PackageRun& run = runs[0];
    // The package receives the text given as its whole command line; with none, its own path,
    // which Wine puts in quotes (it holds a blank).
    const std::wstring expected = c.commandLine ? std::wstring(c.commandLine) : L"\"" + program + L"\"";
    EXPECT_EQ(Narrow(expected), Narrow(run.commandLine));
    EXPECT_EQ(Narrow(folder_), Narrow(run.currentDirectory));
    EXPECT_EQ(c.silent, run.silent);
    EXPECT_EQ(Narrow(c.version), Narrow(run.packageVersion));
    EXPECT_EQ(c.writes, run.wroteVersion);
    EXPECT_EQ(static_cast<int>(c.exitCode), run.exitCode);
    EXPECT_EQ("none", Narrow(run.held));
    // The failing package quits before any page; the others show theirs only without /S.
    const bool showsWindow = !c.silent && c.exitCode == 0;
    EXPECT_EQ(showsWindow, outcome.windowSeen);
  }
}

// A test can keep a package running, to look at the updater meanwhile: the package announces
// itself, installs nothing until released, then finishes as usual.
TEST_F(PackageTest, WaitsWhileHeld) {
  ASSERT_TRUE(SetInstalledVersion(kSeedVersion));
  const std::wstring name = L"plinthware-package-hold-" + std::to_wstring(GetCurrentProcessId());
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, (name + L".started").c_str());
  HANDLE recorded = CreateEventW(nullptr, TRUE, FALSE, package_record::kRecordedEvent);
  ASSERT_TRUE(release && started && recorded);
  ASSERT_TRUE(SetEnvironmentVariableW(package_record::kHoldVariable, name.c_str()));

  const std::wstring program = Place(L"vrel_setup_1.0.0.7.exe");
  const PackageOutcome outcome = Run(program, L"vrel_setup.exe /S", L"Plinthware 1.0.0.7 Setup", [&](HANDLE process) {
    HANDLE waits[] = {started, process};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, kPackageEndMs))
        << "the package neither announced itself nor kept running";
    bool present = false;
    EXPECT_EQ(Narrow(kSeedVersion), Narrow(ReadInstalledVersion(&present))) << "written before the release";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(recorded, 0)) << "recorded before the release";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 0)) << "ended while held";
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(recorded, kPackageEndMs)) << "no record after the release";
  });
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(0u, outcome.exitCode);
  bool present = false;
  EXPECT_EQ("1.0.0.7", Narrow(ReadInstalledVersion(&present)));
  const auto runs = package_record::ReadPackageRecord(record_);
  ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
  EXPECT_EQ("released", Narrow(runs[0].held));
  CloseHandle(release);
  CloseHandle(started);
  CloseHandle(recorded);
}

// Every run appends a block of its own, so a test sees how often the updater ran the package.
TEST_F(PackageTest, AppendsOneBlockPerRun) {
  Place(L"vrel_setup_1.0.0.5.exe");
  ASSERT_TRUE(Run(folder_ + L"\\vrel_setup.exe", L"vrel_setup.exe /S", L"-").ended);
  Place(L"vrel_setup_fail.exe");
  ASSERT_TRUE(Run(folder_ + L"\\vrel_setup.exe", L"vrel_setup.exe /S first", L"-").ended);
  Place(L"vrel_setup_1.0.0.6.exe");
  ASSERT_TRUE(Run(folder_ + L"\\vrel_setup.exe", L"vrel_setup.exe /S second", L"-").ended);
  const auto runs = package_record::ReadPackageRecord(record_);
  ASSERT_EQ(3u, runs.size()) << package_record::DescribePackageRecord(record_);
  EXPECT_EQ("1.0.0.5", Narrow(runs[0].packageVersion));
  EXPECT_EQ(0, runs[0].exitCode);
  EXPECT_EQ("vrel_setup.exe /S first", Narrow(runs[1].commandLine));
  EXPECT_EQ(2, runs[1].exitCode);
  EXPECT_EQ("1.0.0.6", Narrow(runs[2].packageVersion));
  EXPECT_EQ("vrel_setup.exe /S second", Narrow(runs[2].commandLine));
}

// Without PLINTHWARE_PACKAGE_RECORD the record goes to the temporary folder, where the demo finds it.
TEST_F(PackageTest, RecordsInTheTemporaryFolderByDefault) {
  const std::wstring fallback = package_record::DefaultRecordPath();
  ASSERT_FALSE(fallback.empty());
  DeleteFileW(fallback.c_str());
  SetEnvironmentVariableW(package_record::kRecordVariable, nullptr);
  const std::wstring program = Place(L"vrel_setup_1.0.0.6.exe");
  ASSERT_TRUE(Run(program, L"vrel_setup.exe /S", L"-").ended);
  const auto runs = package_record::ReadPackageRecord(fallback);
  ASSERT_EQ(1u, runs.size()) << Narrow(fallback) << ": " << package_record::DescribePackageRecord(fallback);
  EXPECT_EQ("vrel_setup.exe /S", Narrow(runs[0].commandLine));
  EXPECT_FALSE(FileExists(record_));
  DeleteFileW(fallback.c_str());
}

} // namespace
