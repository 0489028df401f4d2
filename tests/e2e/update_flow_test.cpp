// The update check against the test web server (fixture `http_server`), which answers for the
// maker's download server at the compiled-in Info-file address: the latest version, an update
// offered in Update mode (with the percentage it keeps) and ignored or installed, and a whole
// first run through the download, the installation and the restart offer; the spellings of the
// switch, and the Info-file section each workstation platform reads. The installer package served
// is qentraSvc.exe, which records its command line and exits with 0.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "base/owners.h"
#include "e2e/e2e_support.h"
#include "e2e/served_files.h"

namespace {

using e2e::kInstalledText;

using e2e::TempFile;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/e2e-tests/vrel_setup.exe";

// Wine reports Windows 7 (6.1 workstation) when no version is set for the program.
std::string InfoFile(const char* version) {
  return std::string("[platform_win7]\r\nVersion=") + version + "\r\nLocation=http://download.orvane.com" +
         kPackagePath + "\r\nInstConfig=vrel_setup.exe /S\r\n";
}

struct Visibility {
  int id;
  bool visible;
};

// A minimised window of this test owned by a hidden one with the updater's class and title: what
// any program could make to be raised in the updater's place. Ends with the test program.
HWND MakeDecoy() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {0, DefWindowProcW, 0, 0, instance, nullptr, nullptr, nullptr, nullptr, L"VELTRANA"};
  RegisterClassW(&windowClass);
  HWND main = CreateWindowExW(0, L"VELTRANA", L"veltrana", 0, 0, 0, 99, 99, nullptr, nullptr, instance, nullptr);
  HWND owned = CreateWindowExW(0, L"VELTRANA", L"", WS_OVERLAPPEDWINDOW, 0, 0, 99, 99, main, nullptr, instance,
                               nullptr);
  ShowWindow(owned, SW_SHOWMINNOACTIVE);
  return IsIconic(owned) ? owned : nullptr;
}

// "Global\PlinthwareUpdater-" and this user's SID: the name an updater once claimed, which any
// user may create first.
std::wstring SquattedName() {
  HANDLE token = nullptr;
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  wchar_t* sid = nullptr;
  bool read = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
              ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
  if (token) CloseHandle(token);
  std::wstring name = read ? L"Global\\PlinthwareUpdater-" + std::wstring(sid) : L"";
  LocalFree(sid);
  return name;
}

class UpdateFlow : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no test web server (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_TRUE(e2e::RemoveCompanion());
    ASSERT_TRUE(installed_.set());
    ASSERT_TRUE(record_.ready());
    e2e::DeleteInstallMarker();
  }

  void Start(const std::wstring& arguments) {
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(arguments);
    options.environment.push_back(record_.Setting());
    ASSERT_TRUE(updater_.Start(options)) << driver::Utf8(updater_.startError());
  }

  void ExpectVisibility(HWND dialog, std::initializer_list<Visibility> controls) {
    for (const Visibility& c : controls)
      EXPECT_EQ(c.visible, driver::ReadControl(dialog, c.id).visible) << "control " << c.id << "\n"
                                                                      << updater_.Describe();
  }

  // Installs the served package and checks the Restart offered screen it leads to.
  void ExpectRestartOffered() {
    ASSERT_TRUE(updater_.WaitForControlText(driver::kStatusLink, kInstalledText, e2e::kShowMs))
        << "no restart offer\n" << updater_.Describe();
    HWND dialog = updater_.UpdaterDialog();
    EXPECT_TRUE(IsWindowVisible(dialog));
    ExpectVisibility(dialog, {{driver::kRestartNow, true}, {driver::kRestartLater, true}, {driver::kProgress, false},
                              {driver::kPercent, false}, {driver::kDownloadNow, false}, {driver::kDownloadLater, false},
                              {driver::kInstall, false}, {driver::kIgnore, false}, {driver::kOfferLink, false}});
    ASSERT_TRUE(record_.WaitForRecord(e2e::kAnswerMs)) << "the package never ran";
    EXPECT_EQ("[vrel_setup.exe /S]\r\n", record_.Text()) << "the package's command line, between brackets";
    EXPECT_EQ(testing_support::ReadBytes(e2e::CompanionPath()), testing_support::ReadBytes(TempFile(L"vrel_setup.exe")))
        << "the package in the temporary folder differs from the one served";
  }

  void ExpectOrderlyEnd(bool markerWritten) {
    DWORD exitCode = 1;
    ASSERT_TRUE(updater_.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater_.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater_.DebugMessages(), false));
    EXPECT_FALSE(updater_.MainWindowEverVisible());
    driver::RegistryValue marker = e2e::ReadInstallMarker();
    EXPECT_EQ(markerWritten, marker.exists && marker.type == REG_DWORD && marker.dword == 1);
  }

  e2e::ServedFiles served_;
  e2e::ScopedInstalledVersion installed_{L"1.0.0.0"};
  e2e::CommandRecord record_;
  driver::UpdaterProcess updater_;
};

TEST_F(UpdateFlow, UpdateModeReportsTheLatestVersionWithoutShowingTheDialog) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("1.0.0.0")));
  Start(L"-update");
  HWND box = updater_.WaitForMessageBox(e2e::kShowMs);
  ASSERT_NE(nullptr, box) << "no message box\n" << updater_.Describe();
  driver::MessageBoxState state = updater_.ReadMessageBox(box);
  EXPECT_EQ(L"Plinthware Updater", state.caption);
  EXPECT_EQ(L"You are using the latest version.", state.text);
  EXPECT_FALSE(state.hasIcon);
  EXPECT_EQ(std::vector<int>{IDOK}, state.buttons);
  EXPECT_EQ(InfoFile("1.0.0.0"), testing_support::ReadBytes(TempFile(L"vrel_info")))
      << "the Info file is stored as vrel_info in the temporary folder";

  ASSERT_TRUE(updater_.AnswerMessageBox(IDOK));
  ExpectOrderlyEnd(false);
  EXPECT_FALSE(updater_.DialogEverVisible()) << "the dialog was shown although nothing is newer";
}

TEST_F(UpdateFlow, UpdateModeOffersTheNewerVersionAndIgnoreEndsIt) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  Start(L"-update");
  HWND dialog = updater_.WaitForVisibleDialog(e2e::kShowMs);
  ASSERT_NE(nullptr, dialog) << "no update offer\n" << updater_.Describe();
  EXPECT_EQ(L"A new version of Plinthware is available: 2.0.0.1", driver::ReadControl(dialog, driver::kStatusLink).text);
  EXPECT_EQ(L"", driver::ReadControl(dialog, driver::kOfferLink).text);
  ExpectVisibility(dialog, {{driver::kInstall, true}, {driver::kIgnore, true}, {driver::kPercent, true},
                            {driver::kProgress, false}, {driver::kDownloadNow, false}, {driver::kDownloadLater, false},
                            {driver::kRestartNow, false}, {driver::kRestartLater, false}, {driver::kOfferLink, false}});

  ASSERT_TRUE(driver::PressButton(dialog, driver::kIgnore));
  ExpectOrderlyEnd(true);
  EXPECT_EQ("", record_.Text()) << "Ignore ran the package";
}

// The Info file arrives in pieces, so the progress sink reports data and sets a percentage; the
// Update offered screen keeps that last percentage beside Install and Ignore, the bar hidden.
// (Sent in one go over the loopback, Wine makes no data report and the text stays empty.)
TEST_F(UpdateFlow, UpdateOfferedKeepsThePercentageOfTheInfoFileDownload) {
  // Comment lines make the file large enough for several reads of WinINet's.
  std::string info = InfoFile("2.0.0.1");
  for (int line = 0; line < 512; ++line) info += ";" + std::string(61, '-') + "\r\n";
  ASSERT_TRUE(served_.Serve(kInfoPath, info)); // first: it clears a stale fault
  ASSERT_TRUE(served_.ServeFault(kInfoPath, "drip 0.1 " + std::to_string(info.size() / 4 + 1)));
  int infoRequests = e2e::RequestCount(kInfoPath);
  Start(L"-update");
  HWND dialog = updater_.WaitForVisibleDialog(e2e::kShowMs);
  ASSERT_NE(nullptr, dialog) << "no update offer\n" << updater_.Describe();
  driver::ControlState percent = driver::ReadControl(dialog, driver::kPercent);
  EXPECT_TRUE(percent.visible) << updater_.Describe();
  EXPECT_EQ(L"100%", percent.text) << "the percentage of the Info file download\n" << updater_.Describe();
  EXPECT_FALSE(driver::ReadControl(dialog, driver::kProgress).visible) << updater_.Describe();
  EXPECT_TRUE(driver::ReadControl(dialog, driver::kInstall).visible);
  EXPECT_TRUE(driver::ReadControl(dialog, driver::kIgnore).visible);
  EXPECT_EQ(infoRequests + 1, e2e::RequestCount(kInfoPath));

  // Esc is the close box; the focus is on Install.
  ASSERT_TRUE(updater_.WaitForFocus(driver::kInstall, e2e::kAnswerMs)) << updater_.Describe();
  ASSERT_TRUE(updater_.PressKey(VK_ESCAPE));
  ExpectOrderlyEnd(true);
}

// Install pressed with Enter, the focus on it: the screen's default, never the hidden Download Now
// that the dialog began with (which would fetch the Info file again and keep Install shown).
TEST_F(UpdateFlow, UpdateModeInstallRunsThePackageAndOffersTheRestart) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, e2e::CompanionPath()));
  int infoRequests = e2e::RequestCount(kInfoPath);
  Start(L"-update");
  HWND dialog = updater_.WaitForVisibleDialog(e2e::kShowMs);
  ASSERT_NE(nullptr, dialog) << "no update offer\n" << updater_.Describe();
  ASSERT_TRUE(updater_.WaitForFocus(driver::kInstall, e2e::kAnswerMs)) << updater_.Describe();
  ASSERT_TRUE(updater_.PressKey(VK_RETURN));
  ExpectRestartOffered();
  EXPECT_EQ(infoRequests + 1, e2e::RequestCount(kInfoPath)) << "the Info file was fetched again";

  ASSERT_TRUE(driver::PressButton(dialog, driver::kRestartLater));
  ExpectOrderlyEnd(true);
}

// From the keyboard alone: Enter on Download Now, then Esc on the restart offer, whose focus is on
// Restart Now, ends as the close box does (the marker, no restart). A second Enter, queued behind
// the first, finds the Checking screen, which has no button: it commands nothing.
TEST_F(UpdateFlow, FirstRunDownloadsInstallsAndOffersTheRestart) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("2.0.0.1")));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, e2e::CompanionPath()));
  int infoRequests = e2e::RequestCount(kInfoPath);
  Start(L"");
  HWND dialog = updater_.WaitForVisibleDialog(e2e::kShowMs);
  ASSERT_NE(nullptr, dialog) << "no Offer screen\n" << updater_.Describe();
  // A second start while the Offer shows, in Update mode (which fetches at once), ends at once
  // with 0 and fetches nothing; this one still installs. It restores this updater's minimised
  // dialog, never a window of another program made to look like it.
  HWND decoy = MakeDecoy();
  ASSERT_NE(nullptr, decoy);
  ShowWindow(dialog, SW_MINIMIZE);
  std::wstring second = L"\"" + e2e::UpdaterPath() + L"\" -update";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &second[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  // Served meanwhile: the decoy's thread is this one.
  EXPECT_TRUE(updater_.WaitUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; },
                                 e2e::kAtOnceMs))
      << "the second start still runs";
  EXPECT_FALSE(IsIconic(dialog)) << "the running updater's dialog was not brought forward";
  EXPECT_TRUE(IsIconic(decoy)) << "another program's window was brought forward";
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  TerminateProcess(process.hProcess, 1); // when it still runs
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(0u, exitCode);
  EXPECT_EQ(infoRequests, e2e::RequestCount(kInfoPath)) << "the second start fetched the Info file";
  ASSERT_TRUE(updater_.WaitForFocus(driver::kDownloadNow, e2e::kAnswerMs)) << updater_.Describe();
  ASSERT_TRUE(updater_.PressKey(VK_RETURN));
  ASSERT_TRUE(updater_.PressKey(VK_RETURN));
  ExpectRestartOffered();
  EXPECT_EQ(infoRequests + 1, e2e::RequestCount(kInfoPath)) << "Enter started Download Now again";
  EXPECT_TRUE(updater_.DialogEverVisible());

  ASSERT_TRUE(updater_.WaitForFocus(driver::kRestartNow, e2e::kAnswerMs)) << updater_.Describe();
  ASSERT_TRUE(updater_.PressKey(VK_ESCAPE));
  ExpectOrderlyEnd(true);
}

// What another user or a process of lower integrity can hold does not stop a start: the name an
// updater once claimed, made first with a NULL DACL (as another user's object would be, opened
// rather than refused), and the lock file held open by a program that lets no one read it, or
// that names as its holder a process not running (this test's ID with another creation time), as
// a process could that opened a leftover lock for reading. Wine has one user and no integrity
// levels, so this test holds them itself; that another user cannot reach the user's temporary
// folder at all, nor a process of lower integrity create the lock in it, only Windows can show.
TEST_F(UpdateFlow, WhatOthersCanHoldDoesNotStopTheStart) {
  SECURITY_DESCRIPTOR everyone = {};
  ASSERT_TRUE(InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&everyone, TRUE, nullptr, FALSE));
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &everyone, FALSE};
  const DWORD record[3] = {GetCurrentProcessId(), 1, 0}; // this test's ID, created at another time
  const struct {
    const char* name;
    bool lock;   // else the name
    DWORD share; // what the lock's holder shares
  } rows[] = {{"the name, made first with a NULL DACL", false, 0},
              {"the lock, held sharing nothing", true, 0},
              {"the lock, naming another process as holder", true, FILE_SHARE_READ}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DWORD written = 0;
    ScopedHandle held(!row.lock ? CreateMutexW(&attributes, TRUE, SquattedName().c_str())
                                : CreateFileW(TempFile(L"PlinthwareUpdater.lock").c_str(), GENERIC_WRITE | DELETE,
                                              row.share, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(!row.lock ? held.get() != nullptr : WriteFile(held.get(), record, sizeof record, &written, nullptr));
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::UpdaterOptions())) << driver::Utf8(updater.startError());
    ASSERT_NE(nullptr, updater.WaitForVisibleDialog(e2e::kShowMs)) << "the start was stopped\n" << updater.Describe();
    std::vector<std::string> messages = updater.DebugMessages();
    EXPECT_EQ(row.lock, std::count(messages.begin(), messages.end(),
                                   "the updater lock is held by another program: running without it\n"))
        << updater.Describe();
    ASSERT_TRUE(updater.PostMainCommand(driver::kExitCommand));
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs)) << "still running\n" << updater.Describe();
  }
}

// The switch is "-update" in any letter case, and only as the first argument.
struct SwitchCase {
  const wchar_t* arguments;
  bool updateMode;
};

const SwitchCase kSwitches[] = {
    {L"-update", true},    {L"-UPDATE", true}, {L"-Update", true},        {L"-update2", false},
    {L"/update", false},   {L"update", false}, {L"extra -update", false}, {L"--update", false},
};

TEST_F(UpdateFlow, OnlyTheUpdateSwitchInAnyCaseSelectsUpdateMode) {
  ASSERT_TRUE(served_.Serve(kInfoPath, InfoFile("1.0.0.0")));
  for (const SwitchCase& c : kSwitches) {
    SCOPED_TRACE(driver::Utf8(c.arguments));
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::ServedUpdaterOptions(c.arguments))) << driver::Utf8(updater.startError());
    if (c.updateMode) {
      // Nothing newer: the box alone, the dialog never shown.
      HWND box = updater.WaitForMessageBox(e2e::kShowMs);
      ASSERT_NE(nullptr, box) << "no message box\n" << updater.Describe();
      EXPECT_EQ(L"You are using the latest version.", updater.ReadMessageBox(box).text);
      ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
      ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs)) << "still running\n" << updater.Describe();
      EXPECT_FALSE(updater.DialogEverVisible()) << "the dialog was shown";
    } else {
      // Update mode would show the latest-version box and never the dialog (the Offer fetches
      // nothing before Download Now, so no box could come while it shows).
      HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
      ASSERT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
      EXPECT_TRUE(driver::ReadControl(dialog, driver::kDownloadNow).visible) << updater.Describe();
    }
  }
}

// Each workstation platform reads its own section of the Info file; the version offered names it.
struct PlatformCase {
  const wchar_t* wineVersion;
  const wchar_t* offered;
};

const PlatformCase kPlatforms[] = {
    {L"vista", L"6.0.0.1"},
    {L"win2008r2", L"6.1.0.1"}, // Wine 8.0 reports 6.1 workstation for this one, a server for "win7"
    {L"win8", L"6.2.0.1"},
};

TEST_F(UpdateFlow, EachWorkstationPlatformReadsItsOwnSection) {
  std::string info;
  const char* kSections[][2] = {
      {"platform_winxp", "5.1.0.1"}, {"platform_winvista", "6.0.0.1"}, {"platform_win7", "6.1.0.1"}, {"platform_win8", "6.2.0.1"}};
  for (const auto& section : kSections)
    info += std::string("[") + section[0] + "]\r\nVersion=" + section[1] +
            "\r\nLocation=http://download.orvane.com/e2e-tests/" + section[0] + ".exe\r\nInstConfig=vrel_setup.exe /S\r\n\r\n";
  ASSERT_TRUE(served_.Serve(kInfoPath, info));
  for (const PlatformCase& c : kPlatforms) {
    SCOPED_TRACE(driver::Utf8(c.wineVersion));
    e2e::ScopedWineVersion version(L"PlinthwareUpdater.exe", c.wineVersion);
    ASSERT_TRUE(version.set());
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::ServedUpdaterOptions(L"-update"))) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog) << "no update offer\n" << updater.Describe();
    EXPECT_EQ(std::wstring(L"A new version of Plinthware is available: ") + c.offered,
              driver::ReadControl(dialog, driver::kStatusLink).text);
  }
}

} // namespace
