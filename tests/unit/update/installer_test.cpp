// The Installer thread with a real stand-in package: its command line and folder, the marquee
// while it runs, the wait for its end, the exit-code rule, refused and failed starts, and the
// elevated start through the shell when the direct start needs elevation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/workflow.h"
#include "download/download_jobs.h"
#include "installer_harness.h"
#include "support/test_support.h"
#include "update/installer.h"

namespace {

using installer_harness::HasMarqueeStyle;
using installer_harness::PercentVisible;
using installer_harness::InstallerRun;
using testing_support::FileExists;
using testing_support::Narrow;
using testing_support::Widen;

std::string Info(const std::string& instConfigLine) {
  return "[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/vrel_setup.exe\r\n" +
         instConfigLine + "\r\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// --- Seams, recording what the Installer thread asked for.
struct DirectStart {
  int count = 0;
  bool nullCommandLine = false;
  std::wstring application, commandLine, directory;
};
DirectStart g_direct;

void Remember(LPCWSTR application, LPWSTR commandLine, LPCWSTR directory) {
  ++g_direct.count;
  g_direct.nullCommandLine = commandLine == nullptr;
  g_direct.application = application ? application : L"";
  g_direct.commandLine = commandLine ? commandLine : L"";
  g_direct.directory = directory ? directory : L"";
}

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                   LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                   LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process) {
  Remember(application, commandLine, directory);
  return CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags, environment,
                        directory, startup, process);
}

// As Windows answers a package that needs administrator rights.
BOOL WINAPI ElevationRequired(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL, DWORD, LPVOID, LPCWSTR directory, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  Remember(application, commandLine, directory);
  SetLastError(740); // ERROR_ELEVATION_REQUIRED
  return FALSE;
}

BOOL WINAPI AccessDenied(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                         DWORD, LPVOID, LPCWSTR directory, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  Remember(application, commandLine, directory);
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

struct ShellStart {
  int count = 0;
  ULONG mask = 0;
  int show = -1;
  HWND owner = nullptr;
  bool nullParameters = false;
  std::wstring verb, file, parameters, directory;
};
ShellStart g_shell;

void Remember(const SHELLEXECUTEINFOW* info) {
  ++g_shell.count;
  g_shell.mask = info->fMask;
  g_shell.show = info->nShow;
  g_shell.owner = info->hwnd;
  g_shell.nullParameters = info->lpParameters == nullptr;
  g_shell.verb = info->lpVerb ? info->lpVerb : L"";
  g_shell.file = info->lpFile ? info->lpFile : L"";
  g_shell.parameters = info->lpParameters ? info->lpParameters : L"";
  g_shell.directory = info->lpDirectory ? info->lpDirectory : L"";
}

BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* info) {
  Remember(info);
  return ShellExecuteExW(info);
}

// As the shell answers when the user declines the consent prompt.
BOOL WINAPI UserDeclines(SHELLEXECUTEINFOW* info) {
  Remember(info);
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}

class Installer : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installer_harness::CreateWindows()); }
  void SetUp() override {
    g_direct = DirectStart();
    g_shell = ShellStart();
    g_createProcess = RecordingCreateProcess;
    g_shellExecuteEx = RecordingShellExecute;
  }
  void TearDown() override {
    g_createProcess = CreateProcessW;
    g_shellExecuteEx = ShellExecuteExW;
  }
};

// --- The direct start.

TEST_F(Installer, PassesInstConfigAsTheWholeCommandLine) {
  const std::string kCommandLines[] = {
      "vrel_setup.exe /S",
      "/S",
      "\"C:\\Program Files\\Orvane\\vrel setup.exe\" /S /D=C:\\Orvane",
      "vrel_setup.exe /LOG=" + std::string(127 - 20, 'x'), // 127 characters: the most that fits
  };
  for (const std::string& commandLine : kCommandLines) {
    SCOPED_TRACE(commandLine);
    InstallerRun run(Info("InstConfig=" + commandLine));
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
    EXPECT_EQ(1, run.report().count);
    EXPECT_EQ(1u, run.ThreadExitCode());
    std::vector<std::string> record = Lines(run.Record());
    ASSERT_GE(record.size(), 2u) << "record: " << run.Record();
    EXPECT_EQ(commandLine, record[0]) << "the package's command line";
    EXPECT_EQ(Narrow(run.folder()), record[1]) << "the package's current folder";
    EXPECT_EQ(Narrow(run.package()), Narrow(g_direct.application));
    EXPECT_EQ(Narrow(run.folder() + L"\\"), Narrow(g_direct.directory));
    EXPECT_EQ(0, g_shell.count);
  }
}

TEST_F(Installer, RunsFromATempFolderWithSpaces) {
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"), L"Temp Folder With Spaces");
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
  std::vector<std::string> record = Lines(run.Record());
  ASSERT_GE(record.size(), 2u) << "record: " << run.Record();
  EXPECT_EQ("vrel_setup.exe /S", record[0]);
  EXPECT_EQ(Narrow(run.folder()), record[1]);
}

TEST_F(Installer, WithoutInstConfigStartsWithANullCommandLine) {
  const std::string kInfoLines[] = {"", "InstConfig=", "InstConfig=   "};
  for (const std::string& line : kInfoLines) {
    SCOPED_TRACE("Info line \"" + line + "\"");
    InstallerRun run(Info(line));
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
    EXPECT_TRUE(g_direct.nullCommandLine) << "command line passed: " << Narrow(g_direct.commandLine);
    // Windows then uses the Installer path as the command line; Wine puts it in quotes.
    std::vector<std::string> record = Lines(run.Record());
    ASSERT_GE(record.size(), 2u) << "record: " << run.Record();
    std::string path = Narrow(run.package());
    EXPECT_TRUE(record[0] == path || record[0] == "\"" + path + "\"") << "command line: " << record[0];
  }
}

TEST_F(Installer, RefusesAnInstConfigThatDoesNotFit) {
  for (size_t length : {128u, 129u, 1000u}) {
    SCOPED_TRACE("InstConfig of " + std::to_string(length) + " characters");
    InstallerRun run(Info("InstConfig=vrel_setup.exe /LOG=" + std::string(length - 20, 'x')));
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerFailed, run.report().outcome);
    EXPECT_EQ(0, g_direct.count) << "the package was started with: " << Narrow(g_direct.commandLine);
    EXPECT_FALSE(run.PackageRan());
    EXPECT_FALSE(HasMarqueeStyle());
  }
}

struct ExitCase {
  DWORD exitCode;
  LPARAM outcome;
};

const ExitCase kExitCodes[] = {
    {0, kInstallerSucceeded},    {3010, kInstallerSucceeded}, {1641, kInstallerSucceeded},
    {1, kInstallerFailed},       {2, kInstallerFailed},       {740, kInstallerFailed},
    {0xC0000005, kInstallerFailed},
};

TEST_F(Installer, ReportsTheOutcomeByExitCode) {
  for (const ExitCase& c : kExitCodes) {
    SCOPED_TRACE("exit code " + std::to_string(c.exitCode));
    InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
    run.SetExitCode(c.exitCode);
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(c.outcome, run.report().outcome);
    EXPECT_TRUE(run.PackageRan());
    EXPECT_EQ(0, g_shell.count) << "only a start that needs elevation goes through the shell";
  }
}

TEST_F(Installer, MissingPackageFailsAtOnce) {
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  ASSERT_TRUE(DeleteFileW(run.package().c_str()));
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_EQ(1, run.report().count);
  EXPECT_EQ(1, g_direct.count);
  EXPECT_EQ(0, g_shell.count);
  EXPECT_FALSE(HasMarqueeStyle());
}

TEST_F(Installer, OtherStartFailuresDoNotElevate) {
  g_createProcess = AccessDenied;
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_EQ(0, g_shell.count);
  EXPECT_FALSE(run.PackageRan());
}

TEST_F(Installer, MarqueeRunsUntilThePackageEnds) {
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  ASSERT_TRUE(PercentVisible());
  run.Hold();
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.WaitStarted(20000)) << "the package never started";
  EXPECT_TRUE(HasMarqueeStyle()) << "no marquee while the package runs";
  EXPECT_FALSE(PercentVisible()) << "the percentage still shows while the package runs";
  EXPECT_EQ(0, run.report().count) << "code 5 arrived while the package was still running";
  run.Release();
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
  EXPECT_FALSE(run.report().marqueeAtReport) << "the marquee is switched off before code 5";
  EXPECT_NE(std::string::npos, run.report().recordAtReport.find("released"))
      << "code 5 came before the package ended; its record then held: " << run.report().recordAtReport;
  EXPECT_FALSE(HasMarqueeStyle());
}

// --- The elevated start, after the direct start answers ERROR_ELEVATION_REQUIRED.

struct ElevationCase {
  const char* infoLine;
  const wchar_t* parameters; // null: none are passed
};

const ElevationCase kElevations[] = {
    {"", nullptr},
    {"InstConfig=", nullptr},
    {"InstConfig=vrel_setup.exe", nullptr},
    {"InstConfig=vrel_setup.exe /S", L"/S"},
    {"InstConfig=\"C:\\Program Files\\Orvane\\vrel setup.exe\" /S /D=C:\\Orvane", L"/S /D=C:\\Orvane"},
    {"InstConfig=vrel_setup.exe    /S   /NCRC", L"/S   /NCRC"},
};

TEST_F(Installer, ElevatesThroughTheShellWhenRequired) {
  ASSERT_NE(nullptr, g_dialog);
  for (const ElevationCase& c : kElevations) {
    SCOPED_TRACE(std::string("Info line \"") + c.infoLine + "\"");
    g_direct = DirectStart();
    g_shell = ShellStart();
    g_createProcess = ElevationRequired;
    InstallerRun run(Info(c.infoLine));
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
    EXPECT_EQ(1, g_direct.count) << "the direct start comes first";
    ASSERT_EQ(1, g_shell.count);
    EXPECT_EQ("runas", Narrow(g_shell.verb));
    EXPECT_EQ(g_dialog, g_shell.owner) << "the consent prompt is not owned by the dialog";
    EXPECT_EQ(Narrow(run.package()), Narrow(g_shell.file));
    EXPECT_EQ(Narrow(run.folder() + L"\\"), Narrow(g_shell.directory));
    EXPECT_EQ(static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI), g_shell.mask);
    EXPECT_EQ(SW_SHOWNORMAL, g_shell.show);
    if (c.parameters) {
      EXPECT_EQ(Narrow(c.parameters), Narrow(g_shell.parameters));
    } else {
      EXPECT_TRUE(g_shell.nullParameters) << "parameters passed: \"" << Narrow(g_shell.parameters) << "\"";
    }
    // What the package itself received, through the shell.
    std::vector<std::string> record = Lines(run.Record());
    ASSERT_GE(record.size(), 2u) << "record: " << run.Record();
    EXPECT_EQ(Narrow(c.parameters ? c.parameters : L""), Narrow(SkipProgramName(Widen(record[0]).c_str())))
        << "command line: " << record[0];
    EXPECT_NE(std::string::npos, record[0].find("vrel_setup.exe")) << "command line: " << record[0];
    EXPECT_EQ(Narrow(run.folder()), record[1]);
  }
}

TEST_F(Installer, ElevatedPackageExitCodesCountAlike) {
  for (const ExitCase& c : kExitCodes) {
    SCOPED_TRACE("exit code " + std::to_string(c.exitCode));
    g_createProcess = ElevationRequired;
    InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
    run.SetExitCode(c.exitCode);
    ASSERT_TRUE(run.Complete());
    EXPECT_EQ(c.outcome, run.report().outcome);
    EXPECT_TRUE(run.PackageRan());
  }
}

TEST_F(Installer, WaitsForTheElevatedPackage) {
  g_createProcess = ElevationRequired;
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  run.Hold();
  ASSERT_TRUE(run.Start());
  ASSERT_TRUE(run.WaitStarted(20000)) << "the elevated package never started";
  EXPECT_TRUE(HasMarqueeStyle());
  EXPECT_EQ(0, run.report().count) << "code 5 arrived while the elevated package was still running";
  run.Release();
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerSucceeded, run.report().outcome);
  EXPECT_NE(std::string::npos, run.report().recordAtReport.find("released"))
      << "record at code 5: " << run.report().recordAtReport;
  EXPECT_FALSE(HasMarqueeStyle());
}

TEST_F(Installer, DeclinedElevationFailsAndKeepsThePackage) {
  g_createProcess = ElevationRequired;
  g_shellExecuteEx = UserDeclines;
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_EQ(1, g_shell.count);
  EXPECT_FALSE(run.PackageRan());
  EXPECT_TRUE(FileExists(run.package())) << "the downloaded package stays where it is";
  EXPECT_FALSE(HasMarqueeStyle());
}

TEST_F(Installer, ElevationOfAMissingPackageFails) {
  g_createProcess = ElevationRequired;
  InstallerRun run(Info("InstConfig=vrel_setup.exe /S"));
  ASSERT_TRUE(DeleteFileW(run.package().c_str()));
  ASSERT_TRUE(run.Complete());
  EXPECT_EQ(kInstallerFailed, run.report().outcome);
  EXPECT_EQ(1, g_shell.count);
}

// --- The parameters of the elevated start.

struct SkipCase {
  const wchar_t* commandLine;
  const wchar_t* parameters;
};

const SkipCase kSkips[] = {
    {L"", L""},
    {L"vrel_setup.exe", L""},
    {L"vrel_setup.exe /S", L"/S"},
    {L"vrel_setup.exe    /S   /v  ", L"/S   /v  "},
    {L"   vrel_setup.exe /S", L"/S"},
    {L"\tvrel_setup.exe\t/S", L"/S"},
    {L"\"C:\\Program Files\\Orvane\\vrel setup.exe\" /S /D=C:\\x", L"/S /D=C:\\x"},
    {L"\"C:\\Program Files\\Orvane\\vrel setup.exe\"", L""},
    {L"\"C:\\Program Files\\vrel setup.exe\"/S", L"/S"},
    {L"\"unclosed quote /S", L""},
    {L"\"\" /S", L"/S"},
    {L"/S", L""},
    {L"   ", L""},
};

TEST(SkipProgramName, LeavesTheParameters) {
  for (const SkipCase& c : kSkips) {
    EXPECT_EQ(Narrow(c.parameters), Narrow(SkipProgramName(c.commandLine))) << "command line \"" << Narrow(c.commandLine) << "\"";
  }
}

} // namespace
