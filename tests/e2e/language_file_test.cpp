// A Language file beside the program, chosen by the user's language: this program runs with
// LC_ALL=de_DE.UTF-8 (language 0x0407) and a generated de_DE locale (LOCPATH), which the updater
// it starts inherits. The updater is copied into a folder whose name has a blank and an umlaut,
// with a "qentra.0407", only a "qentra.0409" or no Language file at all beside it.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

const wchar_t kGermanOffer[] =
    L"Weitere Funktionen bietet Orvane Plinthware. Laden Sie es jetzt oder sp\u00e4ter von "
    L"<A HREF=\"http://www.orvane.com/support/plinthware/\">der Support-Seite</A> herunter.";
const wchar_t kTwoAnchors[] =
    L"<A HREF=\"http://example.invalid/hilfe\">Hilfe</A>: Der Basistreiber wurde installiert. "
    L"<A HREF=\"http://example.invalid/mehr\">Mehr</A>";
// Text before the first link, and a second link to the same address.
const wchar_t kSameAddressTwice[] =
    L"Siehe <A HREF=\"http://example.invalid/hilfe\">Hilfe</A> oder <A HREF=\"http://example.invalid/hilfe\">hier</A>.";

// The Language file's "strings" section; key 4 stays out, so button 2 keeps its English text.
std::wstring GermanStrings(const std::wstring& statusText) {
  return L"[strings]\r\n"
         L"0=Plinthware-Aktualisierung\r\n"
         L"1=" + statusText + L"\r\n"
         L"2=" + std::wstring(kGermanOffer) + L"\r\n"
         L"3=Jetzt herunterladen\r\n"
         L"9=Sp\u00e4ter neu starten\r\n"
         L"13=Ignorieren\r\n";
}

// What a debugger text holds for `text`: the updater's outputs arrive in the ANSI code page.
std::string Ansi(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
  return out;
}

class LanguageFile : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(0x0407, GetUserDefaultLangID()) << "this program must run with LC_ALL=de_DE.UTF-8";
    folder_ = temp_.file(L"Plinthw\u00e4re Test");
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr))
        << "no folder with an umlaut: is the de_DE locale generated (LOCPATH)? error " << GetLastError();
    program_ = folder_ + L"\\PlinthwareUpdater.exe";
    ASSERT_TRUE(CopyFileW(e2e::UpdaterPath().c_str(), program_.c_str(), FALSE)) << GetLastError();
  }

  void Start(const std::wstring& statusText) {
    ASSERT_TRUE(testing_support::WriteUtf16File(folder_ + L"\\qentra.0407", GermanStrings(statusText)));
    Launch();
  }

  // Starts the copy with whatever Language files lie beside it and waits for the Offer.
  void Launch() {
    ASSERT_TRUE(updater_.Start(e2e::UpdaterOptions(L"", program_))) << driver::Utf8(updater_.startError());
    dialog_ = updater_.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog_) << "no visible updater dialog\n" << updater_.Describe();
  }

  // The locate step's outputs: the folder line, the 0407 path and, when that file is missing,
  // the 0409 path; the next output is no path of a Language file.
  void ExpectLocateOutputs(bool fallback) {
    std::vector<std::string> m = updater_.DebugMessages();
    std::vector<std::string> expected = {"this execute file is in folder : ", Ansi(folder_), "\n",
                                         Ansi(folder_ + L"\\qentra.0407")};
    if (fallback) expected.push_back(Ansi(folder_ + L"\\qentra.0409"));
    ASSERT_GE(m.size(), expected.size()) << updater_.Describe();
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], m[i]) << "output " << i;
    if (m.size() > expected.size()) {
      EXPECT_EQ(std::string::npos, m[expected.size()].find("qentra.")) << driver::Printable(m[expected.size()]);
    }
  }

  void CloseAndWait() {
    ASSERT_TRUE(updater_.CloseDialog(false));
    EXPECT_TRUE(updater_.WaitForExit(e2e::kEndMs)) << updater_.Describe();
  }

  testing_support::TempDir temp_; // outlives the updater, which runs from it
  std::wstring folder_;
  std::wstring program_;
  driver::UpdaterProcess updater_;
  HWND dialog_ = nullptr;
};

TEST_F(LanguageFile, ItsTextsReplaceTheBuiltInOnesAndTheRestStay) {
  Start(L"Der Basistreiber wurde installiert.");
  struct Expected {
    int id;
    const wchar_t* text;
  };
  const Expected kTexts[] = {
      {driver::kStatusLink, L"Der Basistreiber wurde installiert."},
      {driver::kOfferLink, kGermanOffer},
      {driver::kDownloadNow, L"Jetzt herunterladen"},
      {driver::kDownloadLater, L"Download Later"},
      {driver::kRestartLater, L"Sp\u00e4ter neu starten"},
      {driver::kIgnore, L"Ignorieren"},
      {driver::kInstall, L"Install"},
      {driver::kRestartNow, L"Restart Now"},
  };
  EXPECT_EQ(L"Plinthware-Aktualisierung", driver::ReadWindowText(dialog_));
  for (const Expected& e : kTexts)
    EXPECT_EQ(e.text, driver::ReadControl(dialog_, e.id).text) << "control " << e.id << "\n" << updater_.Describe();

  // The locate step names the folder, then the German file, and needs no fallback.
  std::vector<std::string> m = updater_.DebugMessages();
  ASSERT_GE(m.size(), 4u) << updater_.Describe();
  EXPECT_EQ("this execute file is in folder : ", m[0]);
  EXPECT_EQ(Ansi(folder_), m[1]);
  EXPECT_EQ("\n", m[2]);
  EXPECT_EQ(Ansi(folder_ + L"\\qentra.0407"), m[3]);
  for (const std::string& message : m) EXPECT_EQ(std::string::npos, message.find("qentra.0409")) << message;

  ASSERT_TRUE(updater_.CloseDialog(false));
  EXPECT_TRUE(updater_.WaitForExit(e2e::kEndMs)) << updater_.Describe();
}

// The second of two links opens nothing, with an address of its own or the first one's; the first
// opens once. What the shell was asked to open is the record of the prefix's link handler.
TEST_F(LanguageFile, OnlyTheFirstOfTwoLinksInTheStatusTextOpens) {
  for (const wchar_t* text : {kTwoAnchors, kSameAddressTwice}) {
    SCOPED_TRACE(driver::Utf8(text));
    ASSERT_TRUE(testing_support::WriteUtf16File(folder_ + L"\\qentra.0407", GermanStrings(text)));
    e2e::CommandRecord opened;
    driver::LaunchOptions options = e2e::UpdaterOptions(L"", program_);
    options.environment.push_back(opened.Setting());
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog) << updater.Describe();
    EXPECT_EQ(text, driver::ReadControl(dialog, driver::kStatusLink).text);
    EXPECT_TRUE(updater.ReadLink(driver::kStatusLink, 1).exists);

    // The second link first: the first link's output, which follows it in the same queue, shows
    // that the second click has been handled by then.
    ASSERT_TRUE(updater.ClickLink(driver::kStatusLink, 1)) << updater.Describe();
    ASSERT_TRUE(updater.ClickLink(driver::kStatusLink, 0)) << updater.Describe();
    ASSERT_TRUE(updater.WaitForDebugText("http://example.invalid/hilfe", e2e::kAnswerMs)) << updater.Describe();
    int named = 0;
    for (const std::string& message : updater.DebugMessages()) {
      EXPECT_EQ(std::string::npos, message.find("example.invalid/mehr")) << "the second link was opened";
      named += message == "http://example.invalid/hilfe";
    }
    EXPECT_EQ(1, named) << updater.Describe();
    EXPECT_TRUE(IsWindowVisible(dialog)) << "a link click leaves the dialog as it was";

    ASSERT_TRUE(updater.CloseDialog(false));
    EXPECT_TRUE(updater.WaitForExit(e2e::kEndMs)) << updater.Describe();
    EXPECT_EQ(std::vector<std::string>{"http://example.invalid/hilfe"}, opened.OpenedAddresses()) << opened.Text();
  }
}

// Without "qentra.0407" the English file "qentra.0409" is read: it may replace English texts too.
TEST_F(LanguageFile, WithoutTheUsersFileTheEnglishFileIsUsed) {
  ASSERT_TRUE(testing_support::WriteUtf16File(folder_ + L"\\qentra.0409",
                                              L"[strings]\r\n3=Get It Now\r\n4=Not Yet\r\n"));
  Launch();
  EXPECT_EQ(L"Get It Now", driver::ReadControl(dialog_, driver::kDownloadNow).text) << updater_.Describe();
  EXPECT_EQ(L"Not Yet", driver::ReadControl(dialog_, driver::kDownloadLater).text);
  EXPECT_EQ(L"Plinthware Updater", driver::ReadWindowText(dialog_));
  EXPECT_EQ(L"The basic driver was installed.", driver::ReadControl(dialog_, driver::kStatusLink).text);
  ExpectLocateOutputs(true);
  CloseAndWait();
}

TEST_F(LanguageFile, WithoutAnyFileTheBuiltInTextsShow) {
  Launch();
  struct Expected {
    int id;
    const wchar_t* text;
  };
  const Expected kTexts[] = {
      {driver::kStatusLink, L"The basic driver was installed."}, {driver::kDownloadNow, L"Download Now"},
      {driver::kDownloadLater, L"Download Later"},               {driver::kInstall, L"Install"},
      {driver::kIgnore, L"Ignore"},                              {driver::kRestartNow, L"Restart Now"},
      {driver::kRestartLater, L"Restart Later"},
  };
  EXPECT_EQ(L"Plinthware Updater", driver::ReadWindowText(dialog_));
  for (const Expected& e : kTexts)
    EXPECT_EQ(e.text, driver::ReadControl(dialog_, e.id).text) << "control " << e.id << "\n" << updater_.Describe();
  ExpectLocateOutputs(true);
  CloseAndWait();
}

// A UTF-16 file carries any letters: umlauts, a sharp s and Japanese are shown exactly. A key
// with nothing after its equals sign is an override too: button 1 shows an empty caption.
TEST_F(LanguageFile, NonAsciiTextsShowExactlyAndAnEmptyValueOverrides) {
  const wchar_t kTitle[] = L"Plinthware-Aktualisierung \u00fcber \u00c4nderungen";
  const wchar_t kLater[] = L"Sp\u00e4ter \u2013 Gr\u00f6\u00dfe";
  const wchar_t kStatus[] = L"\u57fa\u672c\u30c9\u30e9\u30a4\u30d0\u30fc\u304c\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb"
                            L"\u3055\u308c\u307e\u3057\u305f\u3002";
  ASSERT_TRUE(testing_support::WriteUtf16File(folder_ + L"\\qentra.0407",
                                              std::wstring(L"[strings]\r\n0=") + kTitle + L"\r\n1=" + kStatus +
                                                  L"\r\n3=\r\n4=" + kLater + L"\r\n"));
  Launch();
  EXPECT_EQ(kTitle, driver::ReadWindowText(dialog_));
  EXPECT_EQ(kStatus, driver::ReadControl(dialog_, driver::kStatusLink).text) << updater_.Describe();
  EXPECT_EQ(kLater, driver::ReadControl(dialog_, driver::kDownloadLater).text);
  driver::ControlState now = driver::ReadControl(dialog_, driver::kDownloadNow);
  EXPECT_TRUE(now.visible);
  EXPECT_EQ(L"", now.text) << "key 3 with an empty value";
  ExpectLocateOutputs(false);
  CloseAndWait();
}

} // namespace
