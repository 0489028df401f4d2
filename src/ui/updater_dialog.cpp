// The updater dialog: sets every text at initialisation, opens the first link of its two SysLink
// controls, carries out its six buttons, keeps the keyboard's default and focus on the buttons of
// the screen shown, and its caption icon sharp at the DPI it is shown at. UI thread.
#include "ui/updater_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include "base/dialog_controls.h"
#include "base/shell_state.h"
#include "base/window_dpi.h"
#include "download/download_jobs.h"
#include "info/location_check.h"
#include "res/resource.h"
#include "system/install_marker.h"
#include "text/text_table.h"
#include "update/restart.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0 // Windows 8.1 on; headers for older targets lack it
#endif

HICON g_smallIcon = nullptr;

// Posted to the dialog after it was activated, once the dialog manager has restored the focus.
static const UINT kCheckFocusMessage = WM_APP + 1;
// The default ID of screens without buttons: no control has it, so Enter there commands nothing
// (without a default the dialog manager would send IDOK, the hidden Download Now).
static const int kNoButton = 0x7FFF;

// Loads the caption icon at the size for the dialog's DPI; the one it replaces is destroyed.
static void LoadSmallIcon(HWND dialog) {
  UINT dpi = WindowDpi(dialog);
  HICON icon = static_cast<HICON>(LoadImageW(g_instance, MAKEINTRESOURCEW(IDI_PLINTHWARE), IMAGE_ICON,
                                             SystemMetricForDpi(SM_CXSMICON, dpi),
                                             SystemMetricForDpi(SM_CYSMICON, dpi), LR_DEFAULTCOLOR));
  if (!icon) return;
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  if (g_smallIcon) DestroyIcon(g_smallIcon);
  g_smallIcon = icon;
}

static INT_PTR OnInitDialog(HWND dialog) {
  SetControlText(dialog, IDC_UPDATER_PERCENT, L"");
  SetWindowTextW(dialog, LookupText(kTextTitle));
  SetControlText(dialog, IDC_UPDATER_STATUS, LookupText(kTextDriverInstalled));
  SetControlText(dialog, IDC_UPDATER_OFFER, g_updateMode ? L"" : LookupText(kTextOffer));
  SetControlText(dialog, IDC_UPDATER_DOWNLOAD_NOW, LookupText(kTextDownloadNow));
  SetControlText(dialog, IDC_UPDATER_DOWNLOAD_LATER, LookupText(kTextDownloadLater));
  SetControlText(dialog, IDC_UPDATER_INSTALL, LookupText(kTextInstall));
  SetControlText(dialog, IDC_UPDATER_IGNORE, LookupText(kTextIgnore));
  SetControlText(dialog, IDC_UPDATER_RESTART_NOW, LookupText(kTextRestartNow));
  SetControlText(dialog, IDC_UPDATER_RESTART_LATER, LookupText(kTextRestartLater));
  LoadSmallIcon(dialog);
  return TRUE;
}

// The index a notification `code` gives the control's first link. Windows counts links only, so
// 0. Wine's SysLink numbers a mouse click by every piece of the text, so there the first link of a
// text that does not open with an anchor (one piece of text before it) comes as 1; any other
// link has a higher number on both.
static int FirstLinkIndex(HWND control, UINT code) {
  if (code != NM_CLICK || !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return 0;
  wchar_t opening[3] = {};
  GetWindowTextW(control, opening, ARRAYSIZE(opening));
  return _wcsnicmp(opening, L"<a", 2) == 0 ? 0 : 1;
}

// Whether the notified link is the control's first one: its index decides; the address and ID
// must also be the control's own, so that only what the control shows is opened.
static bool IsFirstLink(HWND control, const NMLINK& link) {
  if (link.item.iLink != FirstLinkIndex(control, link.hdr.code)) return false;
  LITEM first = {};
  first.mask = LIF_ITEMINDEX | LIF_ITEMID | LIF_URL;
  first.iLink = 0;
  if (!SendMessageW(control, LM_GETITEM, 0, reinterpret_cast<LPARAM>(&first))) return false;
  return wcscmp(first.szUrl, link.item.szUrl) == 0 && wcscmp(first.szID, link.item.szID) == 0;
}

// Only the first anchor of either SysLink opens, clicked or by Enter while it has the focus; every
// other click and notification is ignored.
// The texts may come from a Language file that anybody can place beside the program, so only a
// web page is opened: the shell would start a program, open a share or run any protocol's handler.
static void OnNotify(HWND dialog, const NMHDR* header) {
  if (header->code != NM_CLICK && header->code != NM_RETURN) return;
  const NMLINK* link = reinterpret_cast<const NMLINK*>(header);
  bool ourLink = header->hwndFrom == GetDlgItem(dialog, IDC_UPDATER_STATUS) ||
                 header->hwndFrom == GetDlgItem(dialog, IDC_UPDATER_OFFER);
  if (!ourLink || !IsFirstLink(header->hwndFrom, *link)) return;
  if (!IsAllowedLocation(link->item.szUrl)) {
    OutputDebugStringW(L"link refused: not an http:// or https:// address\n");
    return;
  }
  ShellExecuteW(nullptr, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOW);
  OutputDebugStringW(link->item.szUrl);
  OutputDebugStringW(L"\n");
}

static void ShowProgress(HWND dialog) {
  ShowControl(dialog, IDC_UPDATER_PROGRESS, SW_SHOW);
  ShowControl(dialog, IDC_UPDATER_PERCENT, SW_SHOW);
}

static void OnDownloadNow(HWND dialog) {
  SetControlText(dialog, IDC_UPDATER_STATUS, LookupText(kTextDownloading));
  ShowControl(dialog, IDC_UPDATER_OFFER, SW_HIDE);
  ShowProgress(dialog);
  ShowControl(dialog, IDC_UPDATER_DOWNLOAD_NOW, SW_HIDE);
  ShowControl(dialog, IDC_UPDATER_DOWNLOAD_LATER, SW_HIDE);
  SetScreenButton(dialog, 0);
  BeginInfoFileDownload();
}

static void OnInstall(HWND dialog) {
  ShowControl(dialog, IDC_UPDATER_OFFER, SW_HIDE);
  ShowControl(dialog, IDC_UPDATER_INSTALL, SW_HIDE);
  ShowControl(dialog, IDC_UPDATER_IGNORE, SW_HIDE);
  SetScreenButton(dialog, 0);
  ShowProgress(dialog);
  BeginInstallerDownload();
}

// Download Later, Ignore, Restart Now and Restart Later: the marker, then the end of the program.
static void OnEndingCommand(HWND dialog, int command) {
  if (command == IDC_UPDATER_DOWNLOAD_LATER || command == IDC_UPDATER_IGNORE) InterlockedExchange(&g_cancelFlag, 1);
  ShowControl(dialog, IDC_UPDATER_OFFER, SW_HIDE);
  WriteInstallMarker();
  if (command == IDC_UPDATER_RESTART_NOW) RestartWindows();
  EndUpdater(command);
}

static INT_PTR OnCommand(HWND dialog, int command) {
  switch (command) {
  case IDC_UPDATER_DOWNLOAD_NOW:
    OnDownloadNow(dialog);
    return FALSE;
  case IDC_UPDATER_INSTALL:
    OnInstall(dialog);
    return FALSE;
  case IDC_UPDATER_DOWNLOAD_LATER:
  case IDC_UPDATER_IGNORE:
  case IDC_UPDATER_RESTART_NOW:
  case IDC_UPDATER_RESTART_LATER:
    OnEndingCommand(dialog, command);
    return TRUE;
  }
  return FALSE;
}

void SetScreenButton(HWND dialog, int button) {
  SendMessageW(dialog, DM_SETDEFID, button ? button : kNoButton, 0);
  if (button && GetActiveWindow() == dialog)
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, button)), TRUE);
}

// A dialog activated with the focus nowhere visible (restored to a button hidden meanwhile, or
// left on the dialog when its button was hidden) moves it to the screen's button, if it has one.
static void CheckFocus(HWND dialog) {
  HWND focus = GetFocus();
  if (focus && IsChild(dialog, focus) && IsWindowVisible(focus)) return;
  LRESULT defaultId = SendMessageW(dialog, DM_GETDEFID, 0, 0);
  HWND button = HIWORD(defaultId) == DC_HASDEFID ? GetDlgItem(dialog, LOWORD(defaultId)) : nullptr;
  if (button && IsWindowVisible(button))
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

INT_PTR CALLBACK UpdaterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG:
    return OnInitDialog(dialog);
  case WM_NOTIFY:
    OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
    return FALSE;
  case WM_COMMAND:
    return OnCommand(dialog, LOWORD(wParam));
  case WM_ACTIVATE:
    if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(dialog, kCheckFocusMessage, 0, 0);
    return FALSE; // the dialog manager restores the focus first
  case kCheckFocusMessage:
    CheckFocus(dialog);
    return TRUE;
  case WM_DPICHANGED:
    // The dialog manager of a per-monitor (v2) dialog resizes it and its controls and fonts.
    LoadSmallIcon(dialog);
    return FALSE;
  }
  return FALSE;
}
