// Where one update keeps its files in the user's temporary folder, and the record of the Info
// file's Platform section as judged: process-wide, below the download engine that writes them and
// the update steps that read them. Plain variables; the writers and readers are named per item.
#pragma once
#include <windows.h>

#include "info/info_values.h"

const int kPathChars = 1024;

// Written by the begin operations on the UI thread before the thread that reads them starts;
// every write is bounded by kPathChars.
extern wchar_t g_tempFolderBuffer[kPathChars]; // GetTempPathW, with its trailing backslash; the
                                               // package's working directory (Installer thread)
extern wchar_t g_destinationBuffer[kPathChars];// where the latest download is stored; the package
                                               // the Installer thread checks and starts
extern wchar_t g_infoFilePath[kPathChars];     // the stage-1 destination; the file stays for others

// The Platform section's values of the Info file, read once through the handle that held the
// file from before its judgement (size, signature) until they were read, before code 2 is posted:
// by the Download thread that claims the report of the Info file download. Emptied by Begin Info
// file download on the UI thread. Every later step (version check, package download, package
// check, installer command line) uses these and never reads the file again, which may have been
// changed or deleted since.
extern PlatformValues g_platformValues;
