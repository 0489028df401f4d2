// The Language files shipped in lang/ and the facts about each that the tests check; shared by
// the tests of this folder. Test thread only.
#pragma once
#include <windows.h>

#include <string>

struct ShippedLanguage {
  const wchar_t* id;           // the file name's language part, "%04x"
  const char* name;            // for failure messages
  const wchar_t* downloadNow;  // text 3 as written: proves that non-ASCII letters read whole
};

extern const ShippedLanguage kShippedLanguages[9];

extern const wchar_t kSupportAddress[];
extern const wchar_t kSupportAnchor[]; // text 2 ends with exactly this

// Folder of the shipped Language files (lang/ at the repository root), as a Windows path.
std::wstring ShippedLanguageFolder();
std::wstring ShippedLanguageFile(const ShippedLanguage& language);

// A Windows path for a path from the Unix environment (Wine maps the Unix root to Z:).
std::wstring WindowsPathFromEnvironment(const wchar_t* name);
