// The two downloads (the Info file, then the installer package) and the Download thread that
// performs one blocking transfer and reports its end to the main window.
// The begin operations run on the user-interface thread; each transfer runs on its own thread.
#pragma once
#include <windows.h>

const int kPathChars = 1024;

// Process-wide buffers, written by the begin operations on the UI thread before the thread that
// reads them starts; every write is bounded by kPathChars.
extern wchar_t g_urlBuffer[kPathChars];        // what the running download fetches
extern wchar_t g_tempFolderBuffer[kPathChars]; // GetTempPathW, with its trailing backslash
extern wchar_t g_destinationBuffer[kPathChars];// where it is stored; the package to run in stage 2
extern wchar_t g_infoFilePath[kPathChars];     // the stage-1 destination, kept for later reads

extern HANDLE g_downloadThread; // the latest Download thread; closed (never waited for) at shutdown

// Identity of the latest download. A Download thread or Watchdog reports only while the report
// of its own download is still pending, so an abandoned or superseded download never posts.
extern volatile LONG g_downloadIdentity;

// The compiled-in address of the Info file.
extern const wchar_t kInfoFileUrl[];

void BeginInfoFileDownload();
void BeginInstallerDownload();

// Claims the one report of download `identity`: returns true exactly once per download, to the
// first of its Download thread and its Watchdog that asks.
bool ClaimDownloadReport(LONG identity);
