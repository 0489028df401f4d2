// The update's file paths and the judged Info-file record; see update_files.h.
#include "info/update_files.h"

wchar_t g_tempFolderBuffer[kPathChars] = {};
wchar_t g_destinationBuffer[kPathChars] = {};
wchar_t g_infoFilePath[kPathChars] = {};
PlatformValues g_platformValues = {};
