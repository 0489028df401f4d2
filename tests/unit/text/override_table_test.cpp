// Building the Override table from real Language files in a temporary folder: encodings, empty and
// repeated keys, keys that are no Text index, long values, key lists that outgrow their buffer,
// missing files and sections, and heaps that run out.
#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>

#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "text/language_file.h"
#include "text/text_table.h"

using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteUtf16File;

namespace {

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

Entries EntriesOf(const OverrideTable* table) {
  Entries entries;
  if (!table) return entries;
  for (int i = 0; i < table->count; ++i) entries.push_back({table->entries[i].key, table->entries[i].value});
  return entries;
}

std::string Show(const Entries& entries) {
  std::string text = std::to_string(entries.size()) + " entries:";
  for (const auto& entry : entries) {
    std::wstring value = entry.second.size() > 40 ? entry.second.substr(0, 40) + L"..." : entry.second;
    text += " [" + Narrow(entry.first) + "]=\"" + Narrow(value) + "\"";
  }
  return text;
}

// Every test builds through the real entry points, from g_languageFilePath, and releases after.
class OverrideTableTest : public ::testing::Test {
protected:
  void TearDown() override {
    ReleaseOverrideTable();
    g_overrideHeap = nullptr;
    g_languageFilePath[0] = L'\0';
  }

  OverrideTable* Build(const std::wstring& path) {
    StringCchCopyW(g_languageFilePath, ARRAYSIZE(g_languageFilePath), path.c_str());
    ReleaseOverrideTable();
    g_overrideTable = BuildOverrideTable();
    return g_overrideTable;
  }

  // Writes an ANSI file under a fresh name (profile reads may be cached by name) and builds it.
  OverrideTable* BuildAnsi(const std::string& bytes) {
    std::wstring path = dir_.file(L"qentra." + std::to_wstring(++files_));
    EXPECT_TRUE(WriteBytes(path, bytes));
    return Build(path);
  }

  OverrideTable* BuildUtf16(const std::wstring& text) {
    std::wstring path = dir_.file(L"qentra." + std::to_wstring(++files_));
    EXPECT_TRUE(WriteUtf16File(path, text));
    return Build(path);
  }

  TempDir dir_;
  int files_ = 0;
};

std::wstring FromAnsi(const std::string& bytes) {
  wchar_t wide[64] = {};
  MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), -1, wide, ARRAYSIZE(wide));
  return wide;
}

struct FileCase {
  const char* name;
  std::string ansi;      // used when utf16 is empty
  std::wstring utf16;    // written with a byte-order mark
  Entries expected;
};

const FileCase kFileCases[] = {
    {"one text", "[strings]\r\n4=Later, please\r\n", L"", {{L"4", L"Later, please"}}},
    {"LF line ends", "[strings]\n3=Now\n4=Later\n", L"", {{L"3", L"Now"}, {L"4", L"Later"}}},
    {"UTF-16", "", L"[strings]\r\n3=今すぐダウンロード\r\n4=後で\r\n0=Plinthware アップデータ\r\n",
     {{L"3", L"今すぐダウンロード"}, {L"4", L"後で"}, {L"0", L"Plinthware アップデータ"}}},
    {"empty value", "[strings]\r\n7=\r\n8=Jetzt neu starten\r\n", L"", {{L"7", L""}, {L"8", L"Jetzt neu starten"}}},
    {"repeated key", "[strings]\r\n5=first\r\n5=second\r\n",
     L"", {{L"5", L"first"}, {L"5", L"first"}}}, // reading by name always finds the first
    {"keys that are no index", "[strings]\r\n05=zero five\r\n15=fifteen\r\nx=ex\r\n", L"",
     {{L"05", L"zero five"}, {L"15", L"fifteen"}, {L"x", L"ex"}}},
    {"names over 3 characters", "[strings]\r\n1000=a\r\n12=twelve\r\nlongname=b\r\n0001=c\r\n", L"",
     {{L"12", L"twelve"}}},
    {"other sections", "[other]\r\n3=no\r\n[strings]\r\n4=yes\r\n[more]\r\n5=no\r\n", L"", {{L"4", L"yes"}}},
    {"section name in capitals", "[STRINGS]\r\n6=Installation:\r\n", L"", {{L"6", L"Installation:"}}},
    {"blanks around key and value", "[strings]\r\n 9 = Later \r\n", L"", {{L"9", L"Later"}}},
    {"empty section", "[strings]\r\n[other]\r\n3=no\r\n", L"", {}},
    {"no strings section", "[other]\r\n3=no\r\n", L"", {}},
    {"empty file", "", L"", {}},
    {"not an INI file", std::string("\x7f" "ELF\0\0\x01\x02", 8), L"", {}},
};

TEST_F(OverrideTableTest, EntriesFollowTheFileInOrder) {
  for (const FileCase& c : kFileCases) {
    OverrideTable* table = c.utf16.empty() ? BuildAnsi(c.ansi) : BuildUtf16(c.utf16);
    ASSERT_NE(nullptr, table) << c.name;
    EXPECT_STREQ(L"strings", table->section) << c.name;
    EXPECT_STREQ(g_languageFilePath, table->path) << c.name;
    EXPECT_EQ(c.expected, EntriesOf(table)) << c.name << ": " << Show(EntriesOf(table));
    if (c.expected.empty()) {
      EXPECT_EQ(nullptr, table->entries) << c.name << ": no array without entries";
    }
  }
}

TEST_F(OverrideTableTest, AnsiFileIsReadInTheAnsiCodePage) {
  const std::string later = "Sp\xE4ter";
  OverrideTable* table = BuildAnsi("[strings]\r\n4=" + later + "\r\n");
  ASSERT_NE(nullptr, table);
  Entries expected = {{L"4", FromAnsi(later)}};
  EXPECT_EQ(expected, EntriesOf(table)) << Show(EntriesOf(table));
}

TEST_F(OverrideTableTest, LookupSeesWhatTheFileGives) {
  ASSERT_NE(nullptr, BuildAnsi("[strings]\r\n3=\r\n5=first\r\n5=second\r\n05=zero five\r\n15=Failed.\r\nx=ex\r\n"));
  EXPECT_STREQ(L"", LookupText(kTextDownloadNow));
  EXPECT_STREQ(L"first", LookupText(kTextDownloading));
  EXPECT_STREQ(L"Failed.", LookupText(kTextInstallFailed));
  EXPECT_STREQ(L"Download Later", LookupText(kTextDownloadLater));
  EXPECT_STREQ(L"Plinthware Updater", LookupText(kTextTitle));
}

TEST_F(OverrideTableTest, FifteenKeysInFileOrder) {
  // Written backwards, so that file order and index order differ.
  std::string file = "[strings]\r\n";
  Entries expected;
  for (int index = 14; index >= 0; --index) {
    file += std::to_string(index) + "=Text " + std::to_string(index) + "\r\n";
    expected.push_back({std::to_wstring(index), L"Text " + std::to_wstring(index)});
  }
  OverrideTable* table = BuildAnsi(file);
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(15, table->count);
  EXPECT_EQ(expected, EntriesOf(table)) << Show(EntriesOf(table));
  for (int index = 0; index <= 14; ++index) EXPECT_EQ(L"Text " + std::to_wstring(index), LookupText(index));
  EXPECT_STREQ(L"Plinthware could not be installed. Please retry later.", LookupText(kTextInstallFailed));
}

TEST_F(OverrideTableTest, ValuesKeepAtMost1023Characters) {
  for (size_t length : {1022u, 1023u, 1024u, 5000u}) {
    std::string value;
    for (size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
    OverrideTable* table = BuildAnsi("[strings]\r\n2=" + value + "\r\n");
    ASSERT_NE(nullptr, table) << length;
    ASSERT_EQ(1, table->count) << length;
    size_t kept = length < 1023 ? length : 1023;
    EXPECT_EQ(std::wstring(value.begin(), value.begin() + kept), table->entries[0].value)
        << length << " characters: kept " << wcslen(table->entries[0].value);
    EXPECT_EQ(table->entries[0].value, LookupText(kTextOffer)) << length;
  }
}

TEST_F(OverrideTableTest, NoFileNoPathNoEntries) {
  for (const std::wstring& path : {dir_.file(L"qentra.0409"), std::wstring(L""), dir_.path(),
                                   dir_.file(L"missing\\qentra.0409")}) {
    OverrideTable* table = Build(path);
    ASSERT_NE(nullptr, table) << Narrow(path);
    EXPECT_EQ(0, table->count) << Narrow(path);
    EXPECT_EQ(nullptr, table->entries) << Narrow(path);
    EXPECT_STREQ(L"Download Later", LookupText(kTextDownloadLater)) << Narrow(path);
  }
}

// Names of exactly 3 characters, "100", "101", ...: `count` of them make 4 * count list units.
std::string ThreeCharacterKeys(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += std::to_string(100 + i) + "=v" + std::to_string(100 + i) + "\r\n";
  return lines;
}

struct KeyListCase {
  const char* name;
  std::string tail;          // after 255 names of 3 characters (1020 list units)
  std::vector<std::wstring> lastKeys; // the keys expected after those 255
};

const KeyListCase kKeyListCases[] = {
    // 1022 units and the final NUL: fits with one unit to spare.
    {"one to spare", "x=ex\r\n", {L"x"}},
    // 1023 units and the final NUL fill the 1024 exactly.
    {"exact fit", "ab=ab\r\n", {L"ab"}},
    {"exact fit then more", "ab=ab\r\ncd=cd\r\n", {L"ab"}},
    // "abc" and its NUL would need unit 1023, where the final NUL belongs: the read cuts it.
    {"last name cut", "abc=abc\r\n", {}},
    {"many more names", ThreeCharacterKeys(300).substr(ThreeCharacterKeys(255).size()), {}},
};

TEST_F(OverrideTableTest, KeyListTakesTheNamesThatFitWhole) {
  for (const KeyListCase& c : kKeyListCases) {
    OverrideTable* table = BuildAnsi("[strings]\r\n" + ThreeCharacterKeys(255) + c.tail);
    ASSERT_NE(nullptr, table) << c.name;
    Entries entries = EntriesOf(table);
    ASSERT_EQ(255 + c.lastKeys.size(), entries.size())
        << c.name << ": ends with " << Show(Entries(entries.size() > 3 ? entries.end() - 3 : entries.begin(), entries.end()));
    EXPECT_EQ(L"100", entries.front().first) << c.name;
    EXPECT_EQ(L"v100", entries.front().second) << c.name;
    EXPECT_EQ(L"354", entries[254].first) << c.name;
    EXPECT_EQ(L"v354", entries[254].second) << c.name;
    for (size_t i = 0; i < c.lastKeys.size(); ++i) EXPECT_EQ(c.lastKeys[i], entries[255 + i].first) << c.name;
  }
}

TEST_F(OverrideTableTest, CutNameNeverOverridesAShorterIndex) {
  // 254 names and one of 4 characters fill units 0..1020; "14" would end at 1023, and the read
  // cuts it to "1", which must not become an override of index 1.
  OverrideTable* table = BuildAnsi("[strings]\r\n" + ThreeCharacterKeys(254) + "abcd=long\r\n14=fourteen\r\n");
  ASSERT_NE(nullptr, table);
  Entries entries = EntriesOf(table);
  EXPECT_EQ(254u, entries.size()) << "ends with " << Show(Entries(entries.size() > 3 ? entries.end() - 3 : entries.begin(), entries.end()));
  EXPECT_STREQ(L"The basic driver was installed.", LookupText(kTextDriverInstalled));
  EXPECT_STREQ(L"You are using the latest version.", LookupText(kTextLatestVersion));
}

// A fixed-size heap filled until blocks of `blockSize` no longer fit; the blocks stay allocated.
struct FullHeap {
  explicit FullHeap(SIZE_T blockSize) : heap(HeapCreate(0, 0, 64 * 1024)) {
    while (heap && blocks.size() < 100000) {
      void* block = HeapAlloc(heap, 0, blockSize);
      if (!block) break;
      blocks.push_back(block);
    }
  }
  ~FullHeap() {
    if (heap) HeapDestroy(heap);
  }
  HANDLE heap;
  std::vector<void*> blocks;
};

TEST_F(OverrideTableTest, NoRoomForTheRecordMeansNoTable) {
  std::wstring path = dir_.file(L"qentra.0409");
  ASSERT_TRUE(WriteBytes(path, "[strings]\r\n3=Jetzt\r\n"));
  FullHeap full(64);
  ASSERT_NE(nullptr, full.heap);
  ASSERT_EQ(nullptr, HeapAlloc(full.heap, 0, sizeof(OverrideTable))) << "the heap was meant to be full";
  g_overrideHeap = full.heap;
  EXPECT_EQ(nullptr, Build(path));
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
  ReleaseOverrideTable(); // nothing to release: must not touch the heap
}

TEST_F(OverrideTableTest, NoRoomForTheEntriesMeansAnEmptyTable) {
  std::string file = "[strings]\r\n";
  for (int index = 0; index <= 14; ++index) file += std::to_string(index) + "=override\r\n";
  std::wstring path = dir_.file(L"qentra.0409");
  ASSERT_TRUE(WriteBytes(path, file));
  // Leave exactly one record-sized hole; 15 entries need far more.
  FullHeap full(sizeof(OverrideTable));
  ASSERT_FALSE(full.blocks.empty());
  HeapFree(full.heap, 0, full.blocks.back());
  full.blocks.pop_back();
  g_overrideHeap = full.heap;
  OverrideTable* table = Build(path);
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(0, table->count);
  EXPECT_EQ(nullptr, table->entries);
  EXPECT_STREQ(path.c_str(), table->path);
  for (int index = 0; index < kTextCount; ++index) EXPECT_STRNE(L"override", LookupText(index)) << index;
  ReleaseOverrideTable();
  EXPECT_EQ(nullptr, g_overrideTable);
  // The record went back to the heap it came from.
  EXPECT_NE(nullptr, HeapAlloc(full.heap, 0, sizeof(OverrideTable)));
}

TEST_F(OverrideTableTest, ReleaseClearsTheReferenceAndMayBeRepeated) {
  ASSERT_NE(nullptr, BuildAnsi("[strings]\r\n3=Jetzt\r\n"));
  EXPECT_STREQ(L"Jetzt", LookupText(kTextDownloadNow));
  ReleaseOverrideTable();
  EXPECT_EQ(nullptr, g_overrideTable);
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
  ReleaseOverrideTable();
  EXPECT_EQ(nullptr, g_overrideTable);
}

} // namespace
