// How PlinthwareUpdater.exe starts, driven from outside: unsupported Windows editions end it
// silently, and in Update mode the dialog stays hidden while the check runs (here with no server
// answering, so the check ends with the network-error box).
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

// A refused connection is reported as soon as the download call returns, not by the Watchdog
// 20 seconds later; this leaves Wine time to start the program.
const DWORD kRefusedMs = 10000;

struct PlatformCase {
  const wchar_t* wineVersion; // what Wine reports: see WINE-NOTES
  bool supported;
};

const PlatformCase kPlatforms[] = {
    {L"winxp64", false}, // 5.2 workstation
    {L"win2003", false}, // 5.2 server
    {L"win2008", false}, // 6.0 server
    {L"vista", true},    // 6.0 workstation: the same program does start
};

TEST(Startup, UnsupportedEditionsEndSilentlyWithoutTheServiceCommands) {
  ASSERT_FALSE(e2e::UpdaterPath().empty()) << "PLINTHWARE_UPDATER_EXE names no program";
  for (const PlatformCase& c : kPlatforms) {
    SCOPED_TRACE(driver::Utf8(c.wineVersion));
    e2e::DeleteInstallMarker();
    e2e::ScopedWineVersion version(L"PlinthwareUpdater.exe", c.wineVersion);
    ASSERT_TRUE(version.set());
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::UpdaterOptions())) << driver::Utf8(updater.startError());

    if (c.supported) {
      EXPECT_NE(nullptr, updater.WaitForVisibleDialog(e2e::kShowMs)) << updater.Describe();
      EXPECT_TRUE(updater.AnyWindowEverMade()) << "no window reported: the check below would see nothing";
      continue; // ended with the process by the driver
    }
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(updater.AnyWindowEverMade()) << "a window was made";
    EXPECT_TRUE(e2e::HasNoServiceCommands(updater.DebugMessages()));
    EXPECT_FALSE(e2e::ReadInstallMarker().exists);
  }
}

TEST(Startup, UpdateModeWithoutAServerShowsOnlyTheNetworkErrorBox) {
  ASSERT_FALSE(e2e::UpdaterPath().empty()) << "PLINTHWARE_UPDATER_EXE names no program";
  ASSERT_TRUE(e2e::RemoveCompanion());
  e2e::DeleteInstallMarker();
  driver::UpdaterProcess updater;
  ASSERT_TRUE(updater.Start(e2e::UpdaterOptions(L"-UPDATE"))) << driver::Utf8(updater.startError());

  HWND box = updater.WaitForMessageBox(kRefusedMs);
  ASSERT_NE(nullptr, box) << "no message box\n" << updater.Describe();
  driver::MessageBoxState state = updater.ReadMessageBox(box);
  EXPECT_EQ(L"Plinthware Updater", state.caption);
  EXPECT_EQ(L"An network error has occurred. Please retry later.", state.text);
  EXPECT_TRUE(state.hasIcon) << "the network-error box carries the error icon";
  EXPECT_EQ(std::vector<int>{IDOK}, state.buttons);

  // The hidden dialog went through Download Now: the check's texts, no offer, no buttons.
  HWND dialog = updater.UpdaterDialog();
  ASSERT_NE(nullptr, dialog) << updater.Describe();
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_EQ(L"Downloading Plinthware:", driver::ReadControl(dialog, driver::kStatusLink).text);
  driver::ControlState offer = driver::ReadControl(dialog, driver::kOfferLink);
  EXPECT_EQ(L"", offer.text) << "Update mode shows no offer text";
  EXPECT_FALSE(offer.visible);
  EXPECT_FALSE(driver::ReadControl(dialog, driver::kDownloadNow).visible);
  EXPECT_FALSE(driver::ReadControl(dialog, driver::kDownloadLater).visible);

  ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
  DWORD exitCode = 1;
  ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
  EXPECT_EQ(0u, exitCode);
  EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), false));
  // Sampled every 20 ms (Wine raises no EVENT_OBJECT_SHOW), which suffices: nothing in the program
  // hides the dialog again, so one shown before the box was answered stayed visible through the
  // wait for the box and the look at it above.
  EXPECT_FALSE(updater.DialogEverVisible()) << "the dialog was shown in Update mode";
  EXPECT_FALSE(updater.MainWindowEverVisible());
  EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "a network error writes no install marker";
}

} // namespace
