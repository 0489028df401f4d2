// The Text lookup over the built-in table and over Override tables laid out in memory exactly as
// the Language file loader lays them out.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <strsafe.h>

#include "support/test_support.h"
#include "text/text_table.h"

using testing_support::Narrow;

namespace {

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

const wchar_t* const kExpectedBuiltIns[kTextCount] = {
    L"Plinthware Updater",
    L"The basic driver was installed.",
    L"More advanced features can be accessed by downloading the Orvane Plinthware. You can download it now "
    L"or download it later form <A HREF=\"http://www.orvane.com/support/plinthware/\">"
    L"http://www.orvane.com/support/plinthware/</A>",
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

// Puts an Override table made of the given entries in place for one test, and takes it away again.
class ScopedOverrides {
public:
  explicit ScopedOverrides(const Entries& entries)
      : entries_(entries.size()) {
    for (size_t i = 0; i < entries.size(); ++i) {
      StringCchCopyW(entries_[i].key, kOverrideKeyChars, entries[i].first.c_str());
      StringCchCopyW(entries_[i].value, kOverrideValueChars, entries[i].second.c_str());
    }
    table_.count = static_cast<int>(entries_.size());
    table_.entries = entries_.empty() ? nullptr : entries_.data();
    g_overrideTable = &table_;
  }
  ~ScopedOverrides() { g_overrideTable = nullptr; }
  OverrideTable& table() { return table_; }
  OverrideEntry& entry(size_t i) { return entries_[i]; }

private:
  std::vector<OverrideEntry> entries_;
  OverrideTable table_ = {};
};

std::string Show(const wchar_t* text) { return text ? "\"" + Narrow(text) + "\"" : "(null)"; }

TEST(TextTable, BuiltInTextsWithoutAnyOverrideTable) {
  ASSERT_EQ(nullptr, g_overrideTable);
  for (int index = 0; index < kTextCount; ++index) {
    EXPECT_STREQ(kExpectedBuiltIns[index], LookupText(index)) << "index " << index << ": " << Show(LookupText(index));
  }
}

TEST(TextTable, BuiltInTextsFitTheirSlots) {
  for (int index = 0; index < kTextCount; ++index) {
    EXPECT_LE(wcslen(LookupText(index)), static_cast<size_t>(kBuiltInTextChars - 1)) << "index " << index;
  }
}

TEST(TextTable, OfferEndsWithOneAnchorWhoseTextIsItsAddress) {
  std::wstring offer = LookupText(kTextOffer);
  const std::wstring sentence =
      L"More advanced features can be accessed by downloading the Orvane Plinthware. You can download it now "
      L"or download it later form ";
  ASSERT_EQ(0u, offer.find(sentence)) << Show(offer.c_str());
  std::wstring anchor = offer.substr(sentence.size());
  const std::wstring open = L"<A HREF=\"";
  ASSERT_EQ(0u, anchor.find(open)) << "after the sentence: " << Show(anchor.c_str());
  size_t hrefEnd = anchor.find(L"\">", open.size());
  ASSERT_NE(std::wstring::npos, hrefEnd) << Show(anchor.c_str());
  std::wstring href = anchor.substr(open.size(), hrefEnd - open.size());
  std::wstring rest = anchor.substr(hrefEnd + 2);
  const std::wstring close = L"</A>";
  ASSERT_GE(rest.size(), close.size()) << Show(rest.c_str());
  EXPECT_EQ(close, rest.substr(rest.size() - close.size())) << "nothing may follow the anchor: " << Show(rest.c_str());
  EXPECT_EQ(href, rest.substr(0, rest.size() - close.size())) << "link text must show the address";
  EXPECT_EQ(L"http://www.orvane.com/support/plinthware/", href);
  EXPECT_EQ(std::wstring::npos, offer.find(L"<A", sentence.size() + 1)) << "exactly one anchor: " << Show(offer.c_str());
}

TEST(TextTable, EmptyOrHeadlessTablesGiveTheBuiltInTexts) {
  OverrideTable empty = {};
  g_overrideTable = &empty;
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
  // A count without an array (never built so, but never trusted either).
  empty.count = 3;
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
  g_overrideTable = nullptr;
}

struct LookupCase {
  const char* name;
  Entries entries;
  int index;
  std::wstring expected;
  int expectedEntry; // the entry whose value must be handed out, or -1 for a built-in text
};

const std::wstring kLongValue(1023, L'w');

const LookupCase kLookupCases[] = {
    {"override wins", {{L"4", L"Später"}}, kTextDownloadLater, L"Später", 0},
    {"other indexes stay built in", {{L"4", L"Später"}}, kTextDownloadNow, L"Download Now", -1},
    {"empty override wins", {{L"3", L""}}, kTextDownloadNow, L"", 0},
    {"first of two equal keys", {{L"5", L"first"}, {L"5", L"second"}}, kTextDownloading, L"first", 0},
    {"later entry found", {{L"x", L"?"}, {L"6", L"six"}}, kTextInstalling, L"six", 1},
    {"leading zero never matches", {{L"05", L"zero five"}}, kTextDownloading, L"Downloading Plinthware:", -1},
    {"1 is not 10", {{L"10", L"ten"}, {L"1", L"one"}}, kTextDriverInstalled, L"one", 1},
    {"10 is not 1", {{L"1", L"one"}, {L"10", L"ten"}}, kTextNetworkError, L"ten", 1},
    {"01 is not 1", {{L"01", L"zero one"}}, kTextDriverInstalled, L"The basic driver was installed.", -1},
    {"trailing blank is another key", {{L"2 ", L"blank"}}, kTextOffer, kExpectedBuiltIns[kTextOffer], -1},
    {"index 15 is overridable", {{L"15", L"Nicht installiert."}}, kTextInstallFailed, L"Nicht installiert.", 0},
    {"x is no index", {{L"x", L"ex"}}, kTextTitle, L"Plinthware Updater", -1},
    {"1023 characters whole", {{L"7", kLongValue}}, kTextInstalled, kLongValue, 0},
    {"index 16 does not exist", {{L"16", L"sixteen"}}, 16, L"", -1},
    {"index -1 does not exist", {{L"-1", L"minus one"}}, -1, L"", -1},
    {"far outside", {{L"1000", L"x"}}, 1000, L"", -1},
    {"INT_MIN", {}, INT_MIN, L"", -1},
    {"INT_MAX", {}, INT_MAX, L"", -1},
};

TEST(TextTable, LookupPrefersTheFirstExactOverride) {
  for (const LookupCase& c : kLookupCases) {
    ScopedOverrides overrides(c.entries);
    const wchar_t* text = LookupText(c.index);
    ASSERT_NE(nullptr, text) << c.name;
    EXPECT_EQ(c.expected, text) << c.name << ": got " << Show(text);
    if (c.expectedEntry >= 0) {
      EXPECT_EQ(overrides.entry(c.expectedEntry).value, text) << c.name << ": must point into the entry";
    }
  }
}

TEST(TextTable, KeyWithoutTerminatorNeverMatches) {
  ScopedOverrides overrides(Entries{{L"1", L"one"}});
  // Fill the whole key field: the comparison stays inside it and finds no match.
  for (wchar_t& unit : overrides.entry(0).key) unit = L'1';
  EXPECT_STREQ(L"The basic driver was installed.", LookupText(kTextDriverInstalled));
}

TEST(TextTable, EveryIndexCanBeOverridden) {
  Entries entries;
  for (int index = kTextCount - 1; index >= 0; --index)
    entries.push_back({std::to_wstring(index), L"text " + std::to_wstring(index)});
  ScopedOverrides overrides(entries);
  for (int index = 0; index < kTextCount; ++index) {
    EXPECT_EQ(L"text " + std::to_wstring(index), LookupText(index)) << "index " << index;
  }
}

} // namespace
