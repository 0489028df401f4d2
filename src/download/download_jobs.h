// The two downloads (the Info file, then the installer package): their begin operations and
// Download start, the top of the download engine. UI thread. A transfer runs from here down, one
// way: Download thread (download_thread.h), sink (progress_sink.h), Watchdog (watchdog.h), and
// the claim of its one report (download_report.h), which this header also makes available.
#pragma once
#include <windows.h>

#include "download/download_report.h"
#include "info/update_files.h"

// Process-wide, written by the begin operations on the UI thread; bounded by kPathChars. The
// Download thread works on its own copy of the URL and destination, so a transfer that was
// abandoned never reads them again. The paths and the judged values live in info/update_files.h.
extern wchar_t g_urlBuffer[kPathChars]; // what the latest download fetches

// Reads g_platformValues from g_infoFilePath, as the Download thread does; for tests that write
// an Info file of their own.
void LoadPlatformValues();

extern HANDLE g_downloadThread; // the latest Download thread; closed (never waited for) at shutdown

// The compiled-in address of the Info file.
extern const wchar_t kInfoFileUrl[];

void BeginInfoFileDownload();
// Fetches the package from the Location read with the Info file; a Location that did not fit, was
// empty, or is not an absolute http:// or https:// address is refused before any transfer (code 3
// at once), and so is a Size that is not a usable byte count, and, in a build with a public key, a
// package without Sha256.
void BeginInstallerDownload();

// IsAllowedLocation, the rule Begin installer download applies, lives in location_check.h.
