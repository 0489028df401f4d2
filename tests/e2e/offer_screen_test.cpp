// The Offer screen of PlinthwareUpdater.exe started without arguments, driven from outside: what
// it shows, its support link, Download Later and the close box, and the main window's menu
// commands About and Exit.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

using driver::ControlState;

const wchar_t kOfferText[] =
    L"More advanced features can be accessed by downloading the Orvane Plinthware. You can download it now or "
    L"download it later form <A HREF=\"http://www.orvane.com/support/plinthware/\">"
    L"http://www.orvane.com/support/plinthware/</A>";
const wchar_t kSupportPage[] = L"http://www.orvane.com/support/plinthware/";

struct ControlExpectation {
  int id;
  bool visible;
  const wchar_t* text;
};

// The Offer screen, control by control: the texts every control was given at initialisation.
const ControlExpectation kOfferScreen[] = {
    {driver::kDownloadNow, true, L"Download Now"},
    {driver::kDownloadLater, true, L"Download Later"},
    {driver::kPercent, false, L""},
    {driver::kProgress, false, L""},
    {driver::kLabel, false, L""},
    {driver::kStatusLink, true, L"The basic driver was installed."},
    {driver::kInstall, false, L"Install"},
    {driver::kIgnore, false, L"Ignore"},
    {driver::kRestartNow, false, L"Restart Now"},
    {driver::kRestartLater, false, L"Restart Later"},
    {driver::kOfferLink, true, kOfferText},
};

class OfferScreen : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::UpdaterPath().empty()) << "PLINTHWARE_UPDATER_EXE names no program";
    e2e::DeleteInstallMarker();
    ASSERT_TRUE(e2e::RemoveCompanion()) << "a qentraSvc.exe stays in the system directory";
  }

  // Starts the updater and waits for the Offer screen.
  void StartOffer(const driver::LaunchOptions& options) {
    ASSERT_TRUE(updater_.Start(options)) << driver::Utf8(updater_.startError());
    dialog_ = updater_.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog_) << "no visible updater dialog\n" << updater_.Describe();
  }

  void ExpectOfferScreen() {
    EXPECT_EQ(L"Plinthware Updater", driver::ReadWindowText(dialog_)) << updater_.Describe();
    for (const ControlExpectation& e : kOfferScreen) {
      ControlState state = driver::ReadControl(dialog_, e.id);
      EXPECT_TRUE(state.exists) << "control " << e.id;
      EXPECT_EQ(e.visible, state.visible) << "visibility of control " << e.id << "\n" << updater_.Describe();
      EXPECT_EQ(e.text, state.text) << "text of control " << e.id;
    }
  }

  // Waits for the program's end and checks what every orderly end leaves behind.
  void ExpectOrderlyEnd(bool companionStarts) {
    DWORD exitCode = 1;
    ASSERT_TRUE(updater_.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater_.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater_.DebugMessages(), companionStarts));
    EXPECT_FALSE(updater_.MainWindowEverVisible());
  }

  void ExpectInstallMarker() {
    driver::RegistryValue installed = e2e::ReadInstallMarker();
    EXPECT_TRUE(installed.exists) << "no value installed under HKLM\\SOFTWARE\\Orvane\\autolaunch";
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), installed.type);
    EXPECT_EQ(1u, installed.dword);
  }

  driver::UpdaterProcess updater_;
  HWND dialog_ = nullptr;
};

TEST_F(OfferScreen, ShowsTheOfferWithItsTextsAndOnlyTheOfferButtons) {
  StartOffer(e2e::UpdaterOptions());
  ExpectOfferScreen();

  driver::LinkState link = updater_.ReadLink(driver::kOfferLink, 0);
  EXPECT_TRUE(link.exists);
  EXPECT_EQ(kSupportPage, link.url);
  EXPECT_FALSE(updater_.ReadLink(driver::kOfferLink, 1).exists) << "the offer text has one link only";
  EXPECT_FALSE(updater_.ReadLink(driver::kStatusLink, 0).exists) << "the status text has no link";

  HWND main = updater_.MainWindow();
  ASSERT_NE(nullptr, main) << updater_.Describe();
  EXPECT_EQ(L"veltrana", driver::ReadWindowText(main));
  EXPECT_FALSE(updater_.MainWindowEverVisible()) << updater_.Describe();
}

// The offer text's one link, which follows a sentence: first from the keyboard (three Tabs from
// Download Now reach it, Enter opens it), then by a real click. Each time the shell is asked to open
// the support page (the prefix's link handler records it), and the updater names it.
TEST_F(OfferScreen, SupportLinkOpensTheSupportPageAndTheOfferStays) {
  e2e::CommandRecord opened;
  driver::LaunchOptions options = e2e::UpdaterOptions();
  options.environment.push_back(opened.Setting());
  StartOffer(options);
  // The address and then a line feed, as two outputs, `times` times.
  std::string page = driver::Utf8(kSupportPage);
  auto named = [&](int times) {
    return updater_.WaitUntil(
        [&] {
          std::vector<std::string> m = updater_.DebugMessages();
          int count = 0;
          for (size_t i = 0; i + 1 < m.size(); ++i) count += m[i] == page && m[i + 1] == "\n";
          return count >= times;
        },
        e2e::kAnswerMs);
  };
  ASSERT_TRUE(updater_.WaitForFocus(driver::kDownloadNow, e2e::kAnswerMs)) << updater_.Describe();
  for (int tab = 0; tab < 3; ++tab) ASSERT_TRUE(updater_.PressKey(VK_TAB));
  ASSERT_TRUE(updater_.WaitForFocus(driver::kOfferLink, e2e::kAnswerMs)) << updater_.Describe();
  ASSERT_TRUE(updater_.PressKey(VK_RETURN));
  EXPECT_TRUE(named(1)) << "Enter on the focused link opened nothing\n" << updater_.Describe();
  ASSERT_TRUE(updater_.ClickLink(driver::kOfferLink, 0)) << "no point over the offer link\n" << updater_.Describe();
  EXPECT_TRUE(named(2)) << "the click opened nothing\n" << updater_.Describe();
  ExpectOfferScreen();
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ((std::vector<std::string>{page, page}), opened.OpenedAddresses()) << opened.Text();
}

TEST_F(OfferScreen, DownloadLaterWritesTheMarkerAndStopsAndUnregistersTheCompanion) {
  e2e::PlacedCompanion companion;
  ASSERT_TRUE(companion.placed()) << "qentraSvc.exe could not be placed in " << driver::Utf8(e2e::SystemDirectory());
  driver::LaunchOptions options = e2e::UpdaterOptions();
  options.environment.push_back(companion.record().Setting());
  StartOffer(options);

  ASSERT_TRUE(driver::PressButton(dialog_, driver::kDownloadLater));
  ExpectOrderlyEnd(true);
  ExpectInstallMarker();
  ASSERT_TRUE(companion.record().WaitForRecord(e2e::kEndMs)) << "qentraSvc.exe never ran";
  EXPECT_EQ("[ -d]\r\n", companion.record().Text()) << "the companion's command line, between brackets";
}

TEST_F(OfferScreen, DownloadLaterReportsACompanionProgramThatCannotStart) {
  StartOffer(e2e::UpdaterOptions());
  ASSERT_TRUE(driver::PressButton(dialog_, driver::kDownloadLater));
  ExpectOrderlyEnd(false);
  ExpectInstallMarker();
}

// The close box, and the keys that end the Offer: Esc is the close box; Enter presses the focused
// button. Keys are typed into the focused control, which is Download Now when the Offer appears.
TEST_F(OfferScreen, CloseBoxAndItsKeysActAsDownloadLater) {
  struct CloseCase {
    const char* name;
    bool closeMessage;
    const char* keys;       // virtual keys typed instead (Tab 0x09, Enter 0x0D, Esc 0x1B), or null
    int focusBeforeLastKey; // the control that has the focus when the last key is typed
  };
  const CloseCase kCases[] = {{"WM_SYSCOMMAND SC_CLOSE", false, nullptr, 0},
                              {"WM_CLOSE", true, nullptr, 0},
                              {"Esc", false, "\x1b", driver::kDownloadNow},
                              {"Tab, then Enter on Download Later", false, "\t\r", driver::kDownloadLater}};
  for (const CloseCase& c : kCases) {
    SCOPED_TRACE(c.name);
    e2e::DeleteInstallMarker();
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(e2e::UpdaterOptions())) << driver::Utf8(updater.startError());
    ASSERT_NE(nullptr, updater.WaitForVisibleDialog(e2e::kShowMs)) << updater.Describe();
    if (!c.keys) {
      ASSERT_TRUE(updater.CloseDialog(c.closeMessage));
    }
    for (const char* key = c.keys; key && *key; ++key) {
      int focus = key == c.keys ? driver::kDownloadNow : c.focusBeforeLastKey;
      ASSERT_TRUE(updater.WaitForFocus(focus, e2e::kAnswerMs)) << "no focus on " << focus << "\n" << updater.Describe();
      ASSERT_TRUE(updater.PressKey(static_cast<WORD>(*key)));
    }
    // Download Now would have ended in the network-error box: nothing answers the proxy.
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), false));
    ExpectInstallMarker();
  }
}

TEST_F(OfferScreen, MenuAboutOpensTheAboutBoxAndExitEndsWithoutTheMarker) {
  StartOffer(e2e::UpdaterOptions());

  // About, closed with OK; then again, closed with its close box (IDCANCEL).
  for (bool closeBox : {false, true}) {
    SCOPED_TRACE(closeBox ? "closed with the close box" : "closed with OK");
    ASSERT_TRUE(updater_.PostMainCommand(driver::kAboutCommand));
    HWND about = updater_.WaitForAboutBox(e2e::kAnswerMs);
    ASSERT_NE(nullptr, about) << "no About box\n" << updater_.Describe();
    EXPECT_EQ(L"OK", driver::ReadControl(about, IDOK).text);
    bool versionShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      versionShown = versionShown || driver::ReadWindowText(child) == L"veltrana, Version 1.0";
    EXPECT_TRUE(versionShown) << updater_.Describe();
    ASSERT_TRUE(closeBox ? PostMessageW(about, WM_CLOSE, 0, 0) : driver::PressButton(about, IDOK));
    EXPECT_TRUE(updater_.WaitUntil([&] { return !IsWindow(about); }, e2e::kAnswerMs))
        << "the About box stays\n" << updater_.Describe();
  }
  // The updater goes on showing its Offer.
  ExpectOfferScreen();
  EXPECT_TRUE(IsWindowVisible(dialog_));

  ASSERT_TRUE(updater_.PostMainCommand(driver::kExitCommand));
  ExpectOrderlyEnd(false);
  EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "Exit does not write the install marker";
}

} // namespace
