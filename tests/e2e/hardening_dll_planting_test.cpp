// DLL planting: copies of a DLL that leaves a marker when loaded lie beside the updater under the
// name of every DLL the updater's process loads that is not one of Windows' KnownDLLs (the
// Downloads-folder case), and Wine is told to search for those as Windows does. A program without
// the restriction loads them (the control); the updater, through a whole first run from the Offer
// screen to the restart offer, a whole Update-mode run, and a first run of the build pinned to the
// test publisher that checks a signed package (wintrust, crypt32) under the trusted test root,
// never does.
// Left out: names that Wine's own system DLLs import before any code of the program runs, so that
// under that setting every program loads a planted copy before its first instruction: version (by
// user32), imm32, sechost, shlwapi, and Wine's own zlib1, win32u and ucrtbase. On Windows the first
// four are KnownDLLs and the others are not imported that way; the updater imports only KnownDLLs
// (hardening_pe_tests). version.dll is therefore searched as Windows does for the control only.
// Also left out: msimg32, which Wine's own comctl32 imports (for AlphaBlend) and which Wine 8.0
// looks for beside the program when it loads the side-by-side comctl32 for the dialog, although
// the search was restricted; it does not follow the restriction for that one import. Likewise
// dbghelp, which Wine's wintrust brings by delay-loading imagehlp (a KnownDLL on Windows) through
// the same kind of helper: a planted copy is loaded although wintrust came from the system directory.
// What holds the promise for version.dll, and is tested: the executable imports only Windows'
// KnownDLLs, which are never searched for (hardening_pe_tests, ImportsOnlyKnownDlls: an import of
// version.dll fails it), and every other library is loaded through LoadSystemLibrary, the path
// that the planted names above take here.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "support/trusted_root.h"

namespace {

using e2e::FromEnvironment;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/e2e-tests/hardening/vrel_setup.exe";
// Found with WINEDEBUG=+loaddll over the three runs (the pinned one adds wintrust), and the crypto
// providers that libssp's start-up loaded before the entry point seeded the canary itself.
const wchar_t* const kPlanted[] = {L"urlmon.dll",  L"version.dll",  L"wininet.dll", L"bcrypt.dll",
                                   L"crypt32.dll", L"rsaenh.dll",   L"cryptsp.dll", L"cryptbase.dll",
                                   L"uxtheme.dll", L"dwmapi.dll",   L"winhttp.dll", L"secur32.dll",
                                   L"iertutil.dll", L"xmllite.dll", L"taskschd.dll",
                                   L"mpr.dll",     L"userenv.dll",  L"iphlpapi.dll", L"dnsapi.dll",
                                   L"propsys.dll", L"jsproxy.dll",  L"windowscodecs.dll", L"wintrust.dll"};
// Searched as Windows does for the updater: every planted name but version.
const wchar_t* const kUpdaterNativeFirst[] = {L"urlmon",  L"wininet", L"bcrypt",   L"crypt32",  L"rsaenh",
                                              L"cryptsp", L"cryptbase", L"uxtheme", L"dwmapi",  L"winhttp",
                                              L"secur32", L"iertutil", L"xmllite",  L"taskschd",
                                              L"mpr",     L"userenv",  L"iphlpapi", L"dnsapi",   L"propsys",
                                              L"jsproxy", L"windowscodecs", L"wintrust"};

// Wine's per-program DLL overrides (HKCU\Software\Wine\AppDefaults\<exe>\DllOverrides): the
// named DLLs searched as Windows does, native first, for the life of this object.
// (WINEDLLOVERRIDES in the environment block of a child started from a Wine program was not
// honoured here; the registry setting is.)
class ScopedNativeFirst {
public:
  template <typename Names>
  ScopedNativeFirst(const std::wstring& exeName, const Names& names)
      : key_(L"Software\\Wine\\AppDefaults\\" + exeName + L"\\DllOverrides") {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0) return;
    static const wchar_t kOrder[] = L"native,builtin";
    set_ = true;
    for (const wchar_t* name : names) {
      set_ = set_ && RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder) == 0;
    }
    RegCloseKey(key);
  }
  ~ScopedNativeFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  ScopedNativeFirst(const ScopedNativeFirst&) = delete;
  ScopedNativeFirst& operator=(const ScopedNativeFirst&) = delete;
  bool set() const { return set_; }

private:
  std::wstring key_;
  bool set_ = false;
};

class DllPlanting : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no test web server (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_TRUE(e2e::RemoveCompanion());
    ASSERT_TRUE(installed_.set());
    downloads_ = folder_.file(L"Downloads");
    markers_ = folder_.file(L"markers");
    ASSERT_TRUE(CreateDirectoryW(downloads_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(markers_.c_str(), nullptr));
    std::wstring dll = FromEnvironment(L"PLINTHWARE_PLANTED_DLL");
    ASSERT_FALSE(dll.empty()) << "PLINTHWARE_PLANTED_DLL is not set";
    for (const wchar_t* name : kPlanted) {
      ASSERT_TRUE(CopyFileW(dll.c_str(), (downloads_ + L"\\" + name).c_str(), FALSE)) << driver::Utf8(name);
    }
  }

  std::string Markers() const {
    std::string found;
    for (const wchar_t* name : kPlanted) {
      if (testing_support::FileExists(markers_ + L"\\" + name + L".loaded")) found += driver::Utf8(name) + " ";
    }
    return found;
  }

  testing_support::TempDir folder_;
  std::wstring downloads_, markers_;
  e2e::ServedFiles served_;
  e2e::ScopedInstalledVersion installed_{L"1.0.0.0"};
};

TEST_F(DllPlanting, PlantedDllsAreNeverLoadedDuringAFirstRun) {
  // The control: an unrestricted program in the same folder loads all three planted copies, so
  // the search order really reaches this folder.
  std::wstring probe = downloads_ + L"\\load_probe.exe";
  ASSERT_TRUE(CopyFileW(FromEnvironment(L"PLINTHWARE_LOAD_PROBE").c_str(), probe.c_str(), FALSE));
  SetEnvironmentVariableW(L"PLINTHWARE_PLANT_MARKERS", markers_.c_str());
  const wchar_t* const probeNames[] = {L"urlmon", L"version", L"wininet"};
  ScopedNativeFirst probeOverrides(L"load_probe.exe", probeNames);
  ASSERT_TRUE(probeOverrides.set());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + probe + L"\"";
  BOOL started = CreateProcessW(probe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                downloads_.c_str(), &startup, &process);
  SetEnvironmentVariableW(L"PLINTHWARE_PLANT_MARKERS", nullptr);
  ASSERT_TRUE(started) << GetLastError();
  WaitForSingleObject(process.hProcess, e2e::kEndMs);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  ASSERT_EQ("urlmon.dll version.dll wininet.dll ", Markers()) << "the control did not load the planted DLLs";
  for (const wchar_t* name : kPlanted) DeleteFileW((markers_ + L"\\" + name + L".loaded").c_str());

  // The updater from the same folder: a first run through download, installation and restart
  // offer, then an Update-mode run that installs the offered package, then the pinned build's.
  std::wstring updater = downloads_ + L"\\PlinthwareUpdater.exe";
  ASSERT_TRUE(served_.Serve(kInfoPath, "[platform_win7]\r\nVersion=2.0.0.1\r\nLocation=http://download.orvane.com" +
                                           std::string(kPackagePath) + "\r\nInstConfig=vrel_setup.exe /S\r\n"));
  testing_support::ScopedTrustedRoot root(FromEnvironment(L"PLINTHWARE_TEST_CERTS_DIR") + L"\\root.der");
  ASSERT_TRUE(root.trusted());
  ScopedNativeFirst updaterOverrides(L"PlinthwareUpdater.exe", kUpdaterNativeFirst);
  ASSERT_TRUE(updaterOverrides.set());
  struct Run {
    const char* name;
    const wchar_t* arguments;
    std::wstring program, package;
  };
  const Run runs[] = {{"first run", L"", e2e::UpdaterPath(), e2e::CompanionPath()},
                      {"Update mode", L"-update", e2e::UpdaterPath(), e2e::CompanionPath()},
                      {"pinned build, signed package", L"", FromEnvironment(L"PLINTHWARE_PINNED_UPDATER_EXE"),
                       e2e::PackageFile(L"vrel_setup_1.0.0.6_publisher.exe")}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    ASSERT_TRUE(CopyFileW(run.program.c_str(), updater.c_str(), FALSE));
    ASSERT_TRUE(served_.ServeFile(kPackagePath, run.package));
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(run.arguments);
    options.program = updater;
    options.currentDirectory = downloads_;
    options.environment.push_back({L"PLINTHWARE_PLANT_MARKERS", markers_});
    driver::UpdaterProcess process;
    ASSERT_TRUE(process.Start(options)) << driver::Utf8(process.startError());
    HWND dialog = process.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog) << "no Offer screen\n" << process.Describe();
    ASSERT_TRUE(driver::PressButton(dialog, *run.arguments ? driver::kInstall : driver::kDownloadNow));
    ASSERT_TRUE(process.WaitForControlText(
        driver::kStatusLink,
        L"Plinthware installed successfully. Before you can use Plinthware, you must restart your computer.",
        e2e::kShowMs))
        << "no restart offer: the download or the installation failed; planted DLLs loaded: " << Markers() << "\n"
        << process.Describe();
    ASSERT_TRUE(driver::PressButton(dialog, driver::kRestartLater));
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(e2e::kEndMs, &exitCode)) << process.Describe();
    EXPECT_EQ("", Markers()) << "planted DLLs were loaded by the updater";
  }
}

} // namespace
