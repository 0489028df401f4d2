// The Language file: choosing its path beside the executable by the user's language, reading its
// "strings" section into the Override table, and releasing that table. UI thread only.
#include "text/language_file.h"

#include "base/system_libraries.h"

#include <strsafe.h>
#include <wchar.h>

wchar_t g_languageFilePath[kLanguageFilePathChars] = {};
HANDLE g_overrideHeap = nullptr;

void LocateLanguageFile() {
  LANGID language = GetUserDefaultLangID();
  // One code unit beyond the longest accepted name, so that any longer name fills the array and is
  // refused, whatever the API returns when it cuts a name.
  wchar_t modulePath[kModulePathChars + 1] = {};
  wchar_t baseName[kModuleBaseNameChars + 1] = {};
  DWORD pathLength = ModuleFullPath(nullptr, modulePath, ARRAYSIZE(modulePath));
  DWORD nameLength = ModuleBaseName(nullptr, baseName, ARRAYSIZE(baseName));
  // A cut base name is not terminated; these keep both strings terminated within their arrays.
  modulePath[pathLength < ARRAYSIZE(modulePath) ? pathLength : ARRAYSIZE(modulePath) - 1] = L'\0';
  baseName[nameLength < ARRAYSIZE(baseName) ? nameLength : ARRAYSIZE(baseName) - 1] = L'\0';
  LocateLanguageFileFor(modulePath, baseName, language, g_languageFilePath);
}

void LocateLanguageFileFor(const wchar_t* modulePath, const wchar_t* baseName, LANGID language, wchar_t* path) {
  path[0] = L'\0';
  if (!modulePath || !baseName) return;
  size_t pathLength = wcsnlen(modulePath, kModulePathChars);
  size_t nameLength = wcsnlen(baseName, kModuleBaseNameChars);
  if (pathLength == 0 || pathLength >= kModulePathChars) return;
  if (nameLength == 0 || nameLength >= kModuleBaseNameChars) return;
  // Nothing would be left of the folder: such a path does not name a file beside the executable.
  if (nameLength + 1 >= pathLength) return;

  // The folder is the path without the base name and the backslash before it.
  wchar_t folder[kModulePathChars] = {};
  StringCchCopyNW(folder, ARRAYSIZE(folder), modulePath, pathLength - (nameLength + 1));
  OutputDebugStringW(L"this execute file is in folder : ");
  OutputDebugStringW(folder);
  OutputDebugStringW(L"\n");

  StringCchPrintfW(path, kLanguageFilePathChars, L"%s\\qentra.%04x", folder, static_cast<unsigned>(language));
  OutputDebugStringW(path);

  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path, &found);
  if (find != INVALID_HANDLE_VALUE) {
    FindClose(find);
    return;
  }
  // The English file is the fallback whether or not it exists; a missing one yields no overrides.
  StringCchPrintfW(path, kLanguageFilePathChars, L"%s\\qentra.0409", folder);
  OutputDebugStringW(path);
}

static HANDLE OverrideHeap() { return g_overrideHeap ? g_overrideHeap : GetProcessHeap(); }

static void LoadEntry(const OverrideTable* table, const wchar_t* name, OverrideEntry* entry) {
  StringCchCopyW(entry->key, ARRAYSIZE(entry->key), name);
  // A longer value is cut to 1023 characters by the read itself.
  GetPrivateProfileStringW(table->section, entry->key, L"", entry->value, ARRAYSIZE(entry->value), table->path);
}

// Walks the key names of the table's section: counts them when `entries` is null, otherwise loads
// the k-th name into entries[k], at most `capacity` of them. Returns the names counted or loaded.
// Only names of at most 3 characters that fit whole into a list of kKeyListChars are taken.
static int ScanKeyNames(const OverrideTable* table, OverrideEntry* entries, int capacity) {
  if (!table->path[0] || !table->section[0]) return 0;

  // Two code units beyond the list's capacity: a name the read cut short then lies past the
  // list's end, so it cannot be mistaken for a whole name that ends exactly there.
  wchar_t list[kKeyListChars + 2] = {};
  GetPrivateProfileStringW(table->section, nullptr, L"", list, ARRAYSIZE(list), table->path);

  int taken = 0;
  int position = 0;
  while (position < kKeyListChars) {
    if (list[position] == L'\0') {
      if (position == kKeyListChars - 1 || list[position + 1] == L'\0') break;
      ++position;
      continue;
    }
    const wchar_t* name = list + position;
    int length = static_cast<int>(wcsnlen(name, ARRAYSIZE(list) - position));
    int terminator = position + length;
    // The name's NUL and the list's final NUL must both fit into kKeyListChars.
    if (terminator > kKeyListChars - 2) break;
    if (length <= kKeyNameMaxChars) {
      if (entries) {
        if (taken >= capacity) break;
        LoadEntry(table, name, &entries[taken]);
      }
      ++taken;
    }
    position = terminator + 1;
  }
  return taken;
}

OverrideTable* BuildOverrideTable() {
  HANDLE heap = OverrideHeap();
  OverrideTable* table = static_cast<OverrideTable*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(OverrideTable)));
  if (!table) return nullptr;
  StringCchCopyW(table->path, ARRAYSIZE(table->path), g_languageFilePath);
  StringCchCopyW(table->section, ARRAYSIZE(table->section), L"strings");

  int counted = ScanKeyNames(table, nullptr, 0);
  if (counted <= 0) return table;

  OverrideEntry* entries =
      static_cast<OverrideEntry*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(OverrideEntry) * static_cast<size_t>(counted)));
  if (!entries) return table; // no room for the texts: the built-in ones serve

  // The file is read again and may have changed since the count: never more than counted.
  int loaded = ScanKeyNames(table, entries, counted);
  if (loaded <= 0) {
    HeapFree(heap, 0, entries);
    return table;
  }
  table->entries = entries;
  table->count = loaded;
  return table;
}

void ReleaseOverrideTable() {
  OverrideTable* table = g_overrideTable;
  if (!table) return;
  g_overrideTable = nullptr;
  HANDLE heap = OverrideHeap();
  if (table->entries) HeapFree(heap, 0, table->entries);
  HeapFree(heap, 0, table);
}
