// The built-in English Text table and the Text lookup over it and the Override table.
// User-interface thread only; the lookup allocates nothing and takes no lock.
#include "text/text_table.h"

#include <windows.h>
#include <strsafe.h>
#include <wchar.h>

OverrideTable* g_overrideTable = nullptr;

// Fixed slots of 512 code units, so that no built-in text can outgrow what callers expect.
static const wchar_t kBuiltInTexts[kTextCount][kBuiltInTextChars] = {
    L"Plinthware Updater",
    L"The basic driver was installed.",
    L"More advanced features can be accessed by downloading the Orvane Plinthware. You can download "
    L"it now or download it later form "
    L"<A HREF=\"http://www.orvane.com/support/plinthware/\">http://www.orvane.com/support/plinthware/</A>",
    L"Download Now",
    L"Download Later",
    L"Downloading Plinthware:",
    L"Installing Plinthware:",
    L"Plinthware installed successfully. Before you can use Plinthware, you must restart your computer.",
    L"Restart Now",
    L"Restart Later",
    L"An network error has occurred. Please retry later.",
    L"A new version of Plinthware is available:",
    L"Install",
    L"Ignore",
    L"You are using the latest version.",
    L"Plinthware could not be installed. Please retry later.",
};

const wchar_t* LookupText(int index) {
  if (index < 0 || index >= kTextCount) return L"";

  wchar_t decimal[8] = {};
  StringCchPrintfW(decimal, ARRAYSIZE(decimal), L"%d", index);

  const OverrideTable* table = g_overrideTable;
  if (table && table->count > 0 && table->entries) {
    for (int i = 0; i < table->count; ++i) {
      // Whole-string comparison bounded by the key field: "1" matches neither "10" nor "01".
      if (wcsncmp(table->entries[i].key, decimal, kOverrideKeyChars) == 0) return table->entries[i].value;
    }
  }
  return kBuiltInTexts[index];
}
