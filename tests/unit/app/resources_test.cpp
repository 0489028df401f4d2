// The resources as the resource compiler built them: the updater dialog and About box templates
// control by control, the strings, menu and accelerators the shell loads, and the manifest.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "dialog_template.h"
#include "res/resource.h"
#include "support/test_support.h"

using testing_support::Narrow;

namespace {

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

struct ExpectedControl {
  int id;
  const wchar_t* windowClass;
  const wchar_t* text;
  DWORD style; // WS_CHILD included
  short x, y, cx, cy;
};

const ExpectedControl kUpdaterControls[] = {
    {IDOK, L"Button", L"Download Now", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 32, 102, 106, 23},
    {IDCANCEL, L"Button", L"Download Later", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 167, 102, 105, 23},
    {-1, L"Static", L"100% ", WS_CHILD | WS_GROUP | SS_LEFT, 274, 75, 25, 11},
    {1000, L"msctls_progress32", L"", WS_CHILD | WS_BORDER, 7, 69, 262, 20},
    {1001, L"Static", L"", WS_CHILD | WS_GROUP | SS_LEFT, 7, 91, 32, 11},
    {1002, L"SysLink", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 7, 7, 292, 25},
    {1006, L"Button", L"Install", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 32, 102, 105, 23},
    {1007, L"Button", L"Ignore", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 167, 102, 105, 23},
    {1008, L"Button", L"Restart Now", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 32, 102, 105, 23},
    {1009, L"Button", L"Restart Later", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 168, 102, 104, 23},
    {1010, L"SysLink", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 7, 35, 292, 24},
};

const ExpectedControl kAboutControls[] = {
    {-1, L"Static", L"#128", WS_CHILD | WS_VISIBLE | SS_ICON, 14, 14, 21, 20},
    {-1, L"Static", L"veltrana, Version 1.0", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX, 42, 14, 114, 8},
    {-1, L"Static", nullptr, WS_CHILD | WS_VISIBLE | WS_GROUP, 42, 26, 114, 8},
    {IDOK, L"Button", L"OK", WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 113, 41, 50, 14},
};

template <size_t N>
void ExpectControls(const DialogTemplate& dialog, const ExpectedControl (&expected)[N]) {
  ASSERT_EQ(N, dialog.controls.size());
  for (size_t i = 0; i < N; ++i) {
    const TemplateControl& actual = dialog.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (ID " + std::to_string(expected[i].id) + ")");
    EXPECT_EQ(expected[i].id, actual.id);
    EXPECT_EQ(0, _wcsicmp(expected[i].windowClass, actual.windowClass.c_str())) << Narrow(actual.windowClass);
    if (expected[i].text) {
      EXPECT_EQ(std::wstring(expected[i].text), actual.text) << Narrow(actual.text);
    }
    EXPECT_EQ(expected[i].style, actual.style) << std::hex << "style 0x" << actual.style;
    EXPECT_EQ(0u, actual.exStyle) << std::hex << "extended style 0x" << actual.exStyle;
    EXPECT_EQ(expected[i].x, actual.x);
    EXPECT_EQ(expected[i].y, actual.y);
    EXPECT_EQ(expected[i].cx, actual.cx);
    EXPECT_EQ(expected[i].cy, actual.cy);
  }
}

TEST(Resources, UpdaterDialogTemplate) {
  DialogTemplate dialog = LoadDialogTemplate(Module(), IDD_UPDATER);
  ASSERT_TRUE(dialog.valid);
  EXPECT_EQ(0x80C80848u, dialog.style) << std::hex << dialog.style;
  EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), dialog.exStyle);
  EXPECT_EQ(0, dialog.x);
  EXPECT_EQ(0, dialog.y);
  EXPECT_EQ(306, dialog.cx);
  EXPECT_EQ(139, dialog.cy);
  EXPECT_EQ(L"Plinthware Updater", dialog.caption);
  EXPECT_EQ(8, dialog.pointSize);
  EXPECT_EQ(400, dialog.weight);
  EXPECT_EQ(0, dialog.italic);
  EXPECT_EQ(1, dialog.charset);
  EXPECT_EQ(L"MS Shell Dlg", dialog.typeface);
  ExpectControls(dialog, kUpdaterControls);
}

TEST(Resources, AboutDialogTemplate) {
  DialogTemplate dialog = LoadDialogTemplate(Module(), IDD_ABOUT);
  ASSERT_TRUE(dialog.valid);
  EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS),
            dialog.style)
      << std::hex << dialog.style;
  EXPECT_EQ(170, dialog.cx);
  EXPECT_EQ(62, dialog.cy);
  EXPECT_EQ(L"About veltrana", dialog.caption);
  EXPECT_EQ(L"MS Shell Dlg", dialog.typeface);
  ExpectControls(dialog, kAboutControls);
  // The About box names an icon the resources do not hold; its static stays empty.
  EXPECT_EQ(nullptr, FindResourceW(Module(), MAKEINTRESOURCEW(128), reinterpret_cast<LPCWSTR>(RT_GROUP_ICON)));
}

TEST(Resources, StringsMenuAcceleratorsAndIcon) {
  wchar_t text[100];
  ASSERT_GT(LoadStringW(Module(), IDS_APP_TITLE, text, 100), 0);
  EXPECT_STREQ(L"veltrana", text);
  ASSERT_GT(LoadStringW(Module(), IDS_MAIN_CLASS, text, 100), 0);
  EXPECT_STREQ(L"VELTRANA", text);

  HMENU menu = LoadMenuW(Module(), MAKEINTRESOURCEW(IDM_MAIN));
  ASSERT_NE(nullptr, menu);
  ASSERT_EQ(2, GetMenuItemCount(menu));
  GetMenuStringW(menu, 0, text, 100, MF_BYPOSITION);
  EXPECT_STREQ(L"&File", text);
  GetMenuStringW(menu, 1, text, 100, MF_BYPOSITION);
  EXPECT_STREQ(L"&Help", text);
  GetMenuStringW(menu, IDM_EXIT, text, 100, MF_BYCOMMAND);
  EXPECT_STREQ(L"E&xit", text);
  GetMenuStringW(menu, IDM_ABOUT, text, 100, MF_BYCOMMAND);
  EXPECT_STREQ(L"&About ...", text);
  DestroyMenu(menu);

  // Two character accelerators with Alt, both for About: '?' and '/'.
  HACCEL accelerators = LoadAcceleratorsW(Module(), MAKEINTRESOURCEW(IDA_MAIN));
  ASSERT_NE(nullptr, accelerators);
  ACCEL entries[4] = {};
  ASSERT_EQ(2, CopyAcceleratorTableW(accelerators, entries, 4));
  for (const ACCEL& entry : {entries[0], entries[1]}) {
    EXPECT_EQ(IDM_ABOUT, entry.cmd);
    EXPECT_EQ(FALT, entry.fVirt & ~FNOINVERT) << "flags " << int(entry.fVirt);
  }
  EXPECT_EQ('?', entries[0].key);
  EXPECT_EQ('/', entries[1].key);

  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(Module(), MAKEINTRESOURCEW(IDI_PLINTHWARE), IMAGE_ICON, size, size, 0));
    EXPECT_NE(nullptr, icon) << "size " << size;
    if (icon) DestroyIcon(icon);
  }
}

TEST(Resources, ManifestAsksForInvokerRightsAndCommonControlsOnly) {
  HRSRC resource = FindResourceW(Module(), MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_MANIFEST));
  ASSERT_NE(nullptr, resource);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(Module(), resource))),
                       SizeofResource(Module(), resource));
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\"")) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("Microsoft.Windows.Common-Controls")) << manifest;
  EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\"")) << manifest;
  // Declaring supported systems would make Windows after 6.2 report its real version.
  EXPECT_EQ(std::string::npos, manifest.find("supportedOS")) << manifest;
  EXPECT_EQ(std::string::npos, manifest.find("compatibility")) << manifest;
}

TEST(Resources, CommonControlsVersion6Classes) {
  // The manifest's dependency alone supplies these classes; nothing calls InitCommonControlsEx.
  HWND link = CreateWindowExW(0, L"SysLink", L"x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, Module(), nullptr);
  EXPECT_NE(nullptr, link) << "SysLink is a version 6 class";
  if (link) DestroyWindow(link);
}

} // namespace
