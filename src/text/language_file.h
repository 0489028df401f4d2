// The Language file beside the executable: finding it by the user's language and reading its
// "strings" section into the Override table. User-interface thread, at start-up and shutdown.
#pragma once
#include <windows.h>
#include "text/text_table.h"

const int kLanguageFilePathChars = 1024;
const int kModulePathChars = 512;     // the executable's full path: at most 511 characters
const int kModuleBaseNameChars = 128; // its base file name: at most 127 characters
const int kKeyListChars = 1024;       // the key names of the section, each with its NUL, and one NUL
const int kKeyNameMaxChars = 3;       // longer key names can never be a Text index

// Written once by LocateLanguageFile before BuildOverrideTable reads it; empty when the
// executable's names do not fit.
extern wchar_t g_languageFilePath[kLanguageFilePathChars];

// Heap that holds the Override table; null means the process heap. Nothing in the program sets
// it; a test puts a small heap of its own here to see allocations fail. Read by Build and Release.
extern HANDLE g_overrideHeap;

// Sets g_languageFilePath for the running executable and the user's default language.
void LocateLanguageFile();

// The locate step for the given executable names and language identifier, writing `path`
// (kLanguageFilePathChars) and the debugger output. A full path over 511 characters, a base name
// over 127, an empty name, or a path that leaves no folder once the base name and its backslash
// are taken off, leaves `path` empty and writes nothing.
void LocateLanguageFileFor(const wchar_t* modulePath, const wchar_t* baseName, LANGID language, wchar_t* path);

// Reads g_languageFilePath into a new table; null only when the record itself cannot be
// allocated. A failed entries allocation gives an empty table.
OverrideTable* BuildOverrideTable();

// Frees g_overrideTable (entries, then record) and clears the reference.
void ReleaseOverrideTable();
