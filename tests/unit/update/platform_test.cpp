// DetectPlatform under the Windows versions Wine can report. Wine reads the version for a program
// from HKCU\Software\Wine\AppDefaults\<file name>\Version when the program starts, so each row runs
// the probe under a file name of its own, all rows at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testing_support::Narrow;
using testing_support::ProgramFolder;
using testing_support::ReadBytes;
using testing_support::TempDir;

struct PlatformCase {
  const wchar_t* wineVersion; // null: no setting, Wine's default
  const char* expected;       // "<code> <section>"
};

// What Wine 8.0 reports for each setting is in the comments; the probe carries the updater's
// manifest, which declares no supported systems.
const PlatformCase kPlatforms[] = {
    {nullptr, "61 platform_win7"},         // 6.1 workstation
    {L"vista", "60 platform_winvista"},    // 6.0 workstation
    {L"win8", "62 platform_win8"},         // 6.2 workstation
    {L"win81", "62 platform_win8"},        // 6.3, reported as 6.2 without supportedOS
    {L"win10", "62 platform_win8"},        // 10.0, reported as 6.2 without supportedOS
    {L"winxp", "51 platform_winxp"},       // 5.1 workstation
    {L"winxp64", "0 "},                    // 5.2 workstation
    {L"win2003", "0 "},                    // 5.2 server
    {L"win2008", "0 "},                    // 6.0 server
    {L"win7", "0 "},                       // Wine 8.0 reports 6.1 with a server product type
    {L"win2008r2", "61 platform_win7"},    // Wine 8.0 reports 6.1 workstation
};

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

// The per-program settings made for the probes, removed whatever happens.
class AppDefaultsGuard {
public:
  AppDefaultsGuard() = default;
  ~AppDefaultsGuard() {
    for (const std::wstring& name : names_) RegDeleteKeyW(HKEY_CURRENT_USER, (kAppDefaults + name).c_str());
  }
  AppDefaultsGuard(const AppDefaultsGuard&) = delete;
  AppDefaultsGuard& operator=(const AppDefaultsGuard&) = delete;
  bool Set(const std::wstring& exeName, const wchar_t* version) {
    names_.push_back(exeName);
    RegDeleteKeyW(HKEY_CURRENT_USER, (kAppDefaults + exeName).c_str());
    if (!version) return true;
    return RegSetKeyValueW(HKEY_CURRENT_USER, (kAppDefaults + exeName).c_str(), L"Version", REG_SZ, version,
                           static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

private:
  std::vector<std::wstring> names_;
};

TEST(Platform, DetectsSupportedWorkstationsOnly) {
  TempDir temp;
  AppDefaultsGuard settings;
  const std::wstring probe = ProgramFolder() + L"\\update_probe.exe";
  std::vector<PROCESS_INFORMATION> started;
  std::vector<std::wstring> outputs;
  for (size_t row = 0; row < ARRAYSIZE(kPlatforms); ++row) {
    std::wstring exeName = L"platform_probe_" + std::to_wstring(row) + L".exe";
    std::wstring exe = temp.file(exeName);
    ASSERT_TRUE(CopyFileW(probe.c_str(), exe.c_str(), FALSE)) << Narrow(probe);
    ASSERT_TRUE(settings.Set(exeName, kPlatforms[row].wineVersion));
    outputs.push_back(temp.file(L"platform_" + std::to_wstring(row) + L".txt"));
    std::wstring commandLine = L"\"" + exe + L"\" platform \"" + outputs.back() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    CloseHandle(process.hThread);
    started.push_back(process);
  }
  for (size_t row = 0; row < started.size(); ++row) {
    std::string name = kPlatforms[row].wineVersion ? Narrow(kPlatforms[row].wineVersion) : "(none)";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started[row].hProcess, 30000)) << "probe for " << name;
    DWORD exitCode = 99;
    GetExitCodeProcess(started[row].hProcess, &exitCode);
    CloseHandle(started[row].hProcess);
    EXPECT_EQ(0u, exitCode) << "probe for " << name;
    EXPECT_EQ(kPlatforms[row].expected, ReadBytes(outputs[row])) << "Wine version setting " << name;
  }
}

} // namespace
