// The built-in English texts and the Text lookup, which prefers an override from the Language
// file. Read on the user-interface thread only.
#pragma once

enum TextIndex {
  kTextTitle = 0,
  kTextDriverInstalled = 1,
  kTextOffer = 2,
  kTextDownloadNow = 3,
  kTextDownloadLater = 4,
  kTextDownloading = 5,
  kTextInstalling = 6,
  kTextInstalled = 7,
  kTextRestartNow = 8,
  kTextRestartLater = 9,
  kTextNetworkError = 10,
  kTextNewVersion = 11,
  kTextInstall = 12,
  kTextIgnore = 13,
  kTextLatestVersion = 14,
  kTextInstallFailed = 15,
  kTextCount = 16
};

const int kOverrideKeyChars = 32;
const int kOverrideValueChars = 1024;
const int kBuiltInTextChars = 512;

struct OverrideEntry {
  wchar_t key[kOverrideKeyChars];     // at most 3 characters as loaded
  wchar_t value[kOverrideValueChars]; // at most 1023 characters
};

struct OverrideTable {
  int count;                 // number of entries; 0 means no array
  wchar_t section[32];       // "strings"
  wchar_t path[1024];        // the Language file read
  OverrideEntry* entries;    // count entries in load order, or null
};

// Built at start-up before the dialog exists (StartInstance through BuildOverrideTable), read by
// LookupText, released and cleared at shutdown; null when there is none.
extern OverrideTable* g_overrideTable;

// The text for a Text index: an override whose key is the index in decimal, else the built-in
// text. The string belongs to the table: use it at once, never keep or free it. An index outside
// 0..kTextCount-1 gives an empty string and is never looked up among the overrides.
const wchar_t* LookupText(int index);
