// Constants shared between PlinthwareUpdater.rc and the C++ code: every resource and control ID
// of the program, with the numbers that stored Language files, tests and tools rely on.
#pragma once

// String table
#define IDS_APP_TITLE 103 // "veltrana": the hidden main window's title
#define IDS_MAIN_CLASS 109 // "VELTRANA": the main window's class name

// Icons
#define IDI_PLINTHWARE 131

// Menu and accelerators of the main window
#define IDM_MAIN 109
#define IDA_MAIN 109
#define IDM_ABOUT 104
#define IDM_EXIT 105

// About box
#define IDD_ABOUT 103

// Updater dialog and its controls
#define IDD_UPDATER 129
#define IDC_UPDATER_DOWNLOAD_NOW 1 // IDOK
#define IDC_UPDATER_DOWNLOAD_LATER 2 // IDCANCEL; the close box arrives here too
#define IDC_UPDATER_PERCENT (-1) // the only control with ID -1
#define IDC_UPDATER_PROGRESS 1000
#define IDC_UPDATER_LABEL 1001 // never shown; emptied when the Info file download begins
#define IDC_UPDATER_STATUS 1002 // SysLink: the main status text of each screen
#define IDC_UPDATER_INSTALL 1006
#define IDC_UPDATER_IGNORE 1007
#define IDC_UPDATER_RESTART_NOW 1008
#define IDC_UPDATER_RESTART_LATER 1009
#define IDC_UPDATER_OFFER 1010 // SysLink: the offer text with the support link
