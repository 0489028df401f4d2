// The Language file beside the executable: finding it by the user's language and reading its
// "strings" section into the Override table. User-interface thread, at start-up and shutdown.
#pragma once
#include <windows.h>
#include "text/text_table.h"

extern wchar_t g_languageFilePath[1024]; // written once by LocateLanguageFile

// Sets g_languageFilePath for the running executable and the user's default language.
void LocateLanguageFile();

// Reads g_languageFilePath into a new table; never null unless the record itself cannot be
// allocated. A failed entries allocation gives an empty table.
OverrideTable* BuildOverrideTable();

// Frees g_overrideTable (entries, then record) and clears the reference.
void ReleaseOverrideTable();
