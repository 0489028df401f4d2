// The table of shipped Language files and where the tests find them. Test thread only.
#include "shipped_languages.h"

#include <strsafe.h>

const ShippedLanguage kShippedLanguages[9] = {
    {L"0407", "German", L"Jetzt herunterladen"},
    {L"040c", "French", L"T\u00e9l\u00e9charger maintenant"},
    {L"0c0a", "Spanish", L"Descargar ahora"},
    {L"0410", "Italian", L"Scarica ora"},
    {L"0416", "Brazilian Portuguese", L"Baixar agora"},
    {L"0419", "Russian", L"\u0417\u0430\u0433\u0440\u0443\u0437\u0438\u0442\u044c \u0441\u0435\u0439\u0447\u0430\u0441"},
    {L"0411", "Japanese", L"\u4eca\u3059\u3050\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9"},
    {L"0804", "Simplified Chinese", L"\u7acb\u5373\u4e0b\u8f7d"},
    {L"0412", "Korean", L"\uc9c0\uae08 \ub2e4\uc6b4\ub85c\ub4dc"},
};

const wchar_t kSupportAddress[] = L"http://www.orvane.com/support/plinthware/";
const wchar_t kSupportAnchor[] =
    L"<A HREF=\"http://www.orvane.com/support/plinthware/\">http://www.orvane.com/support/plinthware/</A>";

std::wstring WindowsPathFromEnvironment(const wchar_t* name) {
  wchar_t value[2048] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value)) return std::wstring();
  std::wstring path(value, length);
  if (path[0] != L'/') return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return L"Z:" + path;
}

std::wstring ShippedLanguageFolder() { return WindowsPathFromEnvironment(L"PLINTHWARE_LANG_DIR"); }

std::wstring ShippedLanguageFile(const ShippedLanguage& language) {
  return ShippedLanguageFolder() + L"\\qentra." + language.id;
}
