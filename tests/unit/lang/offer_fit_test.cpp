// Every shipped language on the real updater dialog, created in this process from template 129
// with the Override table built from the Language file: each text fits its control as the
// template sizes it, measured in the control's own font, and the offer's link opens the support
// page. The template is never resized for a language: wordings are chosen to fit. CTest runs it at
// 96 DPI and, in a prefix of its own, at 120, 144 and 192 (PLINTHWARE_EXPECTED_DPI).
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <strsafe.h>

#include <string>

#include "app/startup.h"
#include "driver/driver.h"
#include "app/workflow.h"
#include "res/resource.h"
#include "shipped_languages.h"
#include "support/test_support.h"
#include "text/language_file.h"
#include "text/text_table.h"
#include "ui/updater_dialog.h"

namespace {

using testing_support::Narrow;

#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE LM_GETIDEALHEIGHT // the same message with a width; older SDK headers lack the name
#endif

// Space a push button keeps between its frame and its caption on each side, at 96 DPI.
const int kButtonMarginPixels = 4;


class OfferFit : public testing::Test {
protected:
  void Open(const ShippedLanguage& language) {
    StringCchCopyW(g_languageFilePath, ARRAYSIZE(g_languageFilePath), ShippedLanguageFile(language).c_str());
    g_overrideTable = BuildOverrideTable();
    ASSERT_NE(nullptr, g_overrideTable);
    ASSERT_EQ(kTextCount, g_overrideTable->count) << language.name;
    g_instance = GetModuleHandleW(nullptr);
    g_updateMode = 0;
    dialog_ = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_UPDATER), nullptr, UpdaterDialogProc, 0);
    ASSERT_NE(nullptr, dialog_) << GetLastError();
    ShowWindow(dialog_, SW_SHOW);
    UpdateWindow(dialog_);
    HDC dc = GetDC(dialog_);
    dpi_ = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(dialog_, dc);
    // The DPI this run is meant for, or the run proves nothing.
    std::wstring expected = WindowsPathFromEnvironment(L"PLINTHWARE_EXPECTED_DPI");
    ASSERT_EQ(expected.empty() ? 96 : _wtoi(expected.c_str()), dpi_) << "the screen's DPI";
    // The caption icon is as large as the DPI asks (16 pixels at 96).
    ICONINFO icon = {};
    BITMAP image = {};
    ASSERT_TRUE(GetIconInfo(g_smallIcon, &icon));
    GetObjectW(icon.hbmColor, sizeof image, &image);
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);
    EXPECT_EQ(MulDiv(16, dpi_, 96), image.bmWidth) << "the caption icon";
  }

  void TearDown() override {
    if (dialog_) DestroyWindow(dialog_);
    if (g_smallIcon) DestroyIcon(g_smallIcon);
    g_smallIcon = nullptr;
    ReleaseOverrideTable();
  }

  // The text's layout in a SysLink as wide as the control, and the control's client area.
  SIZE IdealLinkSize(int controlId, const wchar_t* text, RECT* client) {
    HWND link = GetDlgItem(dialog_, controlId);
    SendMessageW(link, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    GetClientRect(link, client);
    SIZE ideal = {};
    SendMessageW(link, LM_GETIDEALSIZE, static_cast<WPARAM>(client->right), reinterpret_cast<LPARAM>(&ideal));
    return ideal;
  }

  // A text must need no more room than the control has.
  void ExpectLinkFits(const ShippedLanguage& language, int controlId, const wchar_t* text, const char* what) {
    RECT client = {};
    SIZE ideal = IdealLinkSize(controlId, text, &client);
    EXPECT_GT(ideal.cy, 0) << language.name << " " << what;
    EXPECT_LE(ideal.cy, client.bottom) << language.name << " " << what << " needs " << ideal.cx << "x" << ideal.cy
                                       << " pixels in a " << client.right << "x" << client.bottom
                                       << " control: " << Narrow(text);
    EXPECT_LE(ideal.cx, client.right) << language.name << " " << what << ": " << Narrow(text);
  }

  void ExpectButtonFits(const ShippedLanguage& language, int controlId) {
    HWND button = GetDlgItem(dialog_, controlId);
    wchar_t caption[256] = {};
    GetWindowTextW(button, caption, ARRAYSIZE(caption));
    RECT client = {};
    GetClientRect(button, &client);
    HDC dc = GetDC(button);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, caption, lstrlenW(caption), &extent);
    SelectObject(dc, old);
    ReleaseDC(button, dc);
    int room = client.right - 2 * (GetSystemMetrics(SM_CXEDGE) + MulDiv(kButtonMarginPixels, dpi_, 96));
    EXPECT_GT(extent.cx, 0) << language.name << " button " << controlId;
    EXPECT_LE(extent.cx, room) << language.name << " button " << controlId << " \"" << Narrow(caption) << "\" is "
                               << extent.cx << " pixels wide, the button has room for " << room;
    EXPECT_LE(extent.cy, client.bottom) << language.name << " button " << controlId;
  }

  HWND dialog_ = nullptr;
  int dpi_ = 96;
};

// The measure itself: English fits, and a text one line longer than the offer link holds does not.
TEST_F(OfferFit, TheMeasureTellsAFittingTextFromAnOverlongOne) {
  g_languageFilePath[0] = L'\0';
  g_overrideTable = BuildOverrideTable();
  g_instance = GetModuleHandleW(nullptr);
  g_updateMode = 0;
  dialog_ = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_UPDATER), nullptr, UpdaterDialogProc, 0);
  ASSERT_NE(nullptr, dialog_);
  RECT client = {};
  SIZE english = IdealLinkSize(IDC_UPDATER_OFFER, LookupText(kTextOffer), &client);
  EXPECT_GT(english.cy, 0);
  EXPECT_LE(english.cy, client.bottom) << english.cx << "x" << english.cy;
  std::wstring longer = std::wstring(LookupText(kTextInstalled)) + L" " + LookupText(kTextOffer);
  SIZE overlong = IdealLinkSize(IDC_UPDATER_OFFER, longer.c_str(), &client);
  EXPECT_GT(overlong.cy, client.bottom) << "needs " << overlong.cx << "x" << overlong.cy << " in " << client.right
                                        << "x" << client.bottom;
  SIZE oneLine = IdealLinkSize(IDC_UPDATER_STATUS, LookupText(kTextDownloadNow), &client);
  EXPECT_LT(oneLine.cy, english.cy) << "one line measured as tall as three";
}

TEST_F(OfferFit, EveryTextFitsItsControlInEveryLanguage) {
  const int kButtons[] = {IDC_UPDATER_DOWNLOAD_NOW, IDC_UPDATER_DOWNLOAD_LATER, IDC_UPDATER_INSTALL,
                          IDC_UPDATER_IGNORE,       IDC_UPDATER_RESTART_NOW,    IDC_UPDATER_RESTART_LATER};
  for (const ShippedLanguage& language : kShippedLanguages) {
    SCOPED_TRACE(language.name);
    Open(language);
    ASSERT_FALSE(HasFatalFailure());

    wchar_t title[256] = {};
    GetWindowTextW(dialog_, title, ARRAYSIZE(title));
    EXPECT_STREQ(LookupText(kTextTitle), title);

    // The status link shows each of its texts over the workflow; the offer link shows text 2.
    wchar_t newVersion[512] = {};
    StringCchPrintfW(newVersion, ARRAYSIZE(newVersion), L"%s %s", LookupText(kTextNewVersion), L"10.20.30.40");
    ExpectLinkFits(language, IDC_UPDATER_OFFER, LookupText(kTextOffer), "offer (text 2)");
    ExpectLinkFits(language, IDC_UPDATER_STATUS, LookupText(kTextDownloading), "status (text 5)");
    ExpectLinkFits(language, IDC_UPDATER_STATUS, LookupText(kTextInstalling), "status (text 6)");
    ExpectLinkFits(language, IDC_UPDATER_STATUS, LookupText(kTextInstalled), "status (text 7)");
    ExpectLinkFits(language, IDC_UPDATER_STATUS, newVersion, "status (text 11 and a version)");
    ExpectLinkFits(language, IDC_UPDATER_STATUS, LookupText(kTextDriverInstalled), "status (text 1)");
    for (int id : kButtons) ExpectButtonFits(language, id);

    // The Offer screen as the user sees it, kept for review (docs/screens/lang).
    SendMessageW(GetDlgItem(dialog_, IDC_UPDATER_STATUS), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(LookupText(kTextDriverInstalled)));
    std::wstring screens = WindowsPathFromEnvironment(L"PLINTHWARE_SCREENS_DIR");
    if (!screens.empty()) {
      CreateDirectoryW(screens.c_str(), nullptr);
      SetForegroundWindow(dialog_);
      RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      testing_support::PumpUntil([] { return false; }, 0);
      EXPECT_TRUE(driver::SaveWindowImage(dialog_, screens + L"\\offer-" + language.id + L".bmp"));
    }

    TearDown();
    dialog_ = nullptr;
  }
}

TEST_F(OfferFit, TheOfferLinkOpensTheSupportPageInEveryLanguage) {
  for (const ShippedLanguage& language : kShippedLanguages) {
    SCOPED_TRACE(language.name);
    Open(language);
    ASSERT_FALSE(HasFatalFailure());
    HWND offer = GetDlgItem(dialog_, IDC_UPDATER_OFFER);
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_ITEMID | LIF_URL;
    item.iLink = 0;
    ASSERT_TRUE(SendMessageW(offer, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_STREQ(kSupportAddress, item.szUrl);
    LITEM second = item;
    second.iLink = 1;
    EXPECT_FALSE(SendMessageW(offer, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&second))) << "more than one link";

    // A real click on the link, which the control reports in its own numbering: the dialog opens
    // the address and says so.
    RECT client = {};
    GetClientRect(offer, &client);
    LPARAM where = -1;
    for (int y = 1; where < 0 && y < client.bottom; y += 2) {
      for (int x = 0; where < 0 && x < client.right; x += 2) {
        LHITTESTINFO hit = {{x, y}, {}};
        if (SendMessageW(offer, LM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) && hit.item.iLink == 0)
          where = MAKELPARAM(x, y);
      }
    }
    ASSERT_NE(-1, where) << "no point over the link";
    testing_support::DebugOutputCapture output;
    SendMessageW(offer, WM_LBUTTONDOWN, MK_LBUTTON, where);
    SendMessageW(offer, WM_LBUTTONUP, 0, where);
    EXPECT_TRUE(output.WaitFor("http://www.orvane.com/support/plinthware/", 5000)) << output.joined();

    TearDown();
    dialog_ = nullptr;
  }
}

} // namespace
