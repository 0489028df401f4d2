// The shipped Language files read through the real Override table: every file gives all 16
// texts, in limits, with text 2's support link intact and text 11 ready for "%s %s".
#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>

#include <string>

#include "shipped_languages.h"
#include "support/test_support.h"
#include "text/language_file.h"
#include "text/text_table.h"

namespace {

const int kStatusTextChars = 512; // the workflow composes text 11 and the version into this

// Builds the Override table from one shipped file, as start-up does, and releases it after.
class ShippedTable {
public:
  explicit ShippedTable(const std::wstring& path) {
    StringCchCopyW(g_languageFilePath, ARRAYSIZE(g_languageFilePath), path.c_str());
    g_overrideTable = BuildOverrideTable();
  }
  ~ShippedTable() { ReleaseOverrideTable(); }
  ShippedTable(const ShippedTable&) = delete;
  ShippedTable& operator=(const ShippedTable&) = delete;
};

int Count(const std::wstring& text, const std::wstring& part) {
  int found = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

TEST(ShippedLanguageFiles, AreUtf16WithAByteOrderMark) {
  for (const ShippedLanguage& language : kShippedLanguages) {
    std::string bytes = testing_support::ReadBytes(ShippedLanguageFile(language));
    ASSERT_GE(bytes.size(), 4u) << language.name << ": " << testing_support::Narrow(ShippedLanguageFile(language));
    EXPECT_EQ("\xff\xfe", bytes.substr(0, 2)) << language.name;
    EXPECT_EQ(0u, bytes.size() % 2) << language.name;
  }
}

TEST(ShippedLanguageFiles, EachGivesAllSixteenTextsInOrderAndWithinLimits) {
  for (const ShippedLanguage& language : kShippedLanguages) {
    ShippedTable table(ShippedLanguageFile(language));
    ASSERT_NE(nullptr, g_overrideTable) << language.name;
    ASSERT_EQ(kTextCount, g_overrideTable->count) << language.name;
    for (int index = 0; index < kTextCount; ++index) {
      const OverrideEntry& entry = g_overrideTable->entries[index];
      std::wstring value = entry.value;
      EXPECT_EQ(std::to_wstring(index), entry.key) << language.name;
      EXPECT_FALSE(value.empty()) << language.name << " text " << index;
      // Shorter than the value field's 1023 characters, so nothing was cut on reading; built-in
      // texts keep to 511, and so do these.
      EXPECT_LT(value.size(), static_cast<size_t>(kBuiltInTextChars)) << language.name << " text " << index;
      EXPECT_EQ(value, LookupText(index)) << language.name << " text " << index;
      if (index != kTextOffer) {
        EXPECT_EQ(std::wstring::npos, value.find(L'<')) << language.name << " text " << index
                                                        << " would be read as markup: " << testing_support::Narrow(value);
      }
    }
    EXPECT_EQ(std::wstring(language.downloadNow), LookupText(kTextDownloadNow))
        << language.name << " read as: " << testing_support::Narrow(LookupText(kTextDownloadNow));
  }
}

TEST(ShippedLanguageFiles, TextTwoEndsInTheOneSupportAnchor) {
  const std::wstring anchor = kSupportAnchor;
  for (const ShippedLanguage& language : kShippedLanguages) {
    ShippedTable table(ShippedLanguageFile(language));
    std::wstring offer = LookupText(kTextOffer);
    ASSERT_GT(offer.size(), anchor.size()) << language.name << ": " << testing_support::Narrow(offer);
    EXPECT_EQ(anchor, offer.substr(offer.size() - anchor.size())) << language.name << ": " << testing_support::Narrow(offer);
    EXPECT_EQ(1, Count(offer, L"<A ")) << language.name;
    EXPECT_EQ(1, Count(offer, L"</A>")) << language.name;
    // The sentence runs into the link: no line break, and a blank or colon before it.
    std::wstring sentence = offer.substr(0, offer.size() - anchor.size());
    EXPECT_EQ(std::wstring::npos, sentence.find_first_of(L"\r\n")) << language.name;
    wchar_t last = sentence.back();
    EXPECT_TRUE(last == L' ' || last == L'\uff1a') << language.name << " ends its sentence in U+" << std::hex
                                                   << static_cast<int>(last);
  }
}

TEST(ShippedLanguageFiles, TextElevenComposesWithTheNewVersion) {
  for (const ShippedLanguage& language : kShippedLanguages) {
    ShippedTable table(ShippedLanguageFile(language));
    const wchar_t* newVersion = LookupText(kTextNewVersion);
    wchar_t status[kStatusTextChars] = {};
    // The longest version text the Info file can name.
    EXPECT_EQ(S_OK, StringCchPrintfW(status, ARRAYSIZE(status), L"%s %s", newVersion, L"4294967295.9.9.9"))
        << language.name;
    std::wstring text = newVersion;
    EXPECT_EQ(std::wstring::npos, text.find(L'%')) << language.name;
    EXPECT_NE(L' ', text.back()) << language.name << ": the composition adds the blank itself";
    EXPECT_EQ(text + L" 4294967295.9.9.9", status) << language.name;
  }
}

} // namespace
