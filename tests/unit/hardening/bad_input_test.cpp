// Randomised bad input: many generated version texts, Info files, Language files and command
// lines fed to the real readers, each outcome checked against a model written here, and every
// output buffer followed by a guard that must stay untouched. Seeds are fixed and printed.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <strsafe.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/startup.h"
#include "download/download_jobs.h"
#include "support/test_support.h"
#include "system/install_marker.h"
#include "text/language_file.h"
#include "text/text_table.h"
#include "info/platform.h"
#include "update/version_check.h"

namespace {

const uint32_t kSeed = 20261208;
const wchar_t kGuard = 0xFDFD;

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[12];
      snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    }
    if (out.size() > 300) return out + "...";
  }
  return out;
}

// --- Model of the version rule: "%d.%d.%d.%d" read with 32-bit wrapping arithmetic. ---
bool IsScanSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

bool ModelVersion(const std::wstring& text, unsigned* value) {
  size_t i = 0;
  unsigned fields[4] = {};
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (i >= text.size() || text[i] != L'.') return false;
      ++i;
    }
    while (i < text.size() && IsScanSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i >= text.size() || text[i] < L'0' || text[i] > L'9') return false;
    unsigned number = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') number = number * 10u + unsigned(text[i++] - L'0');
    fields[field] = negative ? 0u - number : number;
  }
  *value = fields[0] * 1000u + fields[1] * 100u + fields[2] * 10u + fields[3];
  return true;
}

std::wstring RandomVersionText(std::mt19937& random) {
  static const wchar_t kAlphabet[] = L"0123456789....  \t-+ax\x00e9\xff11\x0661";
  std::uniform_int_distribution<int> shape(0, 9);
  std::wstring text;
  int form = shape(random);
  if (form < 4) {
    // Four numbers, some of them huge or signed, with an odd tail.
    for (int field = 0; field < 4; ++field) {
      if (field) text += L'.';
      int kind = shape(random);
      if (kind == 0) text += L' ';
      if (kind == 1) text += L'-';
      int digits = kind == 2 ? 15 + shape(random) * 3 : 1 + shape(random) % 3;
      for (int d = 0; d < digits; ++d) text += wchar_t(L'0' + shape(random));
    }
    if (form == 3) text += L".9 junk";
  } else {
    int length = form == 9 ? 5000 : shape(random) * 3;
    std::uniform_int_distribution<size_t> pick(0, ARRAYSIZE(kAlphabet) - 2);
    for (int c = 0; c < length; ++c) text += kAlphabet[pick(random)];
  }
  return text;
}

TEST(BadInput, VersionTextsReadAsTheModelReadsThem) {
  std::mt19937 random(kSeed);
  int fourNumbers = 0;
  for (int n = 0; n < 20000; ++n) {
    std::wstring text = RandomVersionText(random);
    unsigned expected = 0;
    bool readable = ModelVersion(text, &expected);
    fourNumbers += readable;
    unsigned scanned = 12345;
    bool scannedOk = ScanVersionNumber(text.c_str(), &scanned);
    ASSERT_EQ(readable, scannedOk) << "seed " << kSeed << " case " << n << ": " << Utf8(text);
    ASSERT_EQ(readable ? expected : 0u, scanned) << "seed " << kSeed << " case " << n << ": " << Utf8(text);
    ASSERT_EQ(readable ? expected : 0u, ParseVersionNumber(text.c_str()))
        << "seed " << kSeed << " case " << n << ": " << Utf8(text);
  }
  // Both outcomes must really occur, or the generator tests nothing.
  EXPECT_GT(fourNumbers, 5000);
  EXPECT_LT(fourNumbers, 15000);
}

// --- Files: random INI texts in UTF-16 (with a byte-order mark) or ANSI bytes. ---
struct IniLine {
  std::wstring text;
};

std::wstring RandomValue(std::mt19937& random) {
  static const wchar_t kAlphabet[] = L"0123456789.. =;[]abcXYZ\x00e4\x3042\t";
  std::uniform_int_distribution<int> shape(0, 11);
  int form = shape(random);
  static const int kLengths[] = {0, 1, 5, 63, 64, 65, 1023, 1024, 1025, 5000, 7, 3};
  int length = kLengths[form];
  std::uniform_int_distribution<size_t> pick(0, ARRAYSIZE(kAlphabet) - 2);
  std::wstring value;
  if (shape(random) < 4) value = L"2.0.0.1";
  for (int c = 0; c < length; ++c) value += kAlphabet[pick(random)];
  return value;
}

void WriteIni(const std::wstring& path, const std::wstring& text, bool utf16, std::mt19937& random) {
  std::string bytes;
  if (utf16) {
    bytes = "\xFF\xFE";
    for (wchar_t c : text) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
  } else {
    for (wchar_t c : text) bytes += static_cast<char>(c < 0x100 ? c : L'?');
  }
  // Now and then raw noise and NULs in the middle.
  std::uniform_int_distribution<int> shape(0, 9);
  if (shape(random) == 0 && !bytes.empty()) {
    std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
    for (int k = 0; k < 8; ++k) bytes[at(random)] = static_cast<char>(shape(random) < 5 ? 0 : random() & 0xFF);
  }
  ASSERT_TRUE(testing_support::WriteBytes(path, bytes));
}

// The whole value as Windows' own INI reader gives it, with room to spare.
std::wstring ReadWhole(const wchar_t* section, const wchar_t* key, const std::wstring& path) {
  std::vector<wchar_t> buffer(16384);
  DWORD length = GetPrivateProfileStringW(section, key, L"", buffer.data(), DWORD(buffer.size()), path.c_str());
  return std::wstring(buffer.data(), length);
}

class InstalledVersion {
public:
  InstalledVersion() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)) return;
    set_ = RegSetValueExW(key, L"installed_version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1.0.0.0"),
                          sizeof L"1.0.0.0") == 0;
    RegCloseKey(key);
  }
  ~InstalledVersion() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed_version"); }
  bool set() const { return set_; }

private:
  bool set_ = false;
};

TEST(BadInput, InfoFilesGiveTheDecidedVersionOutcome) {
  InstalledVersion installed;
  ASSERT_TRUE(installed.set());
  testing_support::TempDir folder;
  std::wstring path = folder.file(L"vrel_info");
  ASSERT_TRUE(SUCCEEDED(StringCchCopyW(g_infoFilePath, kPathChars, path.c_str())));
  ASSERT_TRUE(SUCCEEDED(StringCchCopyW(g_platformSection, kPlatformSectionChars, L"platform_win7")));
  static const wchar_t* const kSections[] = {L"platform_win7", L"platform_win8", L"PLATFORM_WIN7", L"", L"x"};
  static const wchar_t* const kKeys[] = {L"Version", L"version", L"Location", L"InstConfig", L"Version ", L"Sha256"};
  std::mt19937 random(kSeed + 1);
  std::uniform_int_distribution<int> count(0, 6);
  int usable = 0, newer = 0;
  for (int n = 0; n < 1500; ++n) {
    std::wstring text;
    int sections = count(random);
    for (int s = 0; s < sections; ++s) {
      text += L"[" + std::wstring(kSections[count(random) % ARRAYSIZE(kSections)]) + L"]\r\n";
      int keys = count(random);
      for (int k = 0; k < keys; ++k) {
        text += std::wstring(kKeys[count(random) % ARRAYSIZE(kKeys)]) + L"=" + RandomValue(random) + L"\r\n";
      }
    }
    bool utf16 = count(random) % 2 == 0;
    WriteIni(path, text, utf16, random);
    LoadPlatformValues();

    std::wstring whole = ReadWhole(L"platform_win7", L"Version", path);
    unsigned number = 0;
    bool expectUsable = whole.size() < size_t(kVersionChars) && ModelVersion(whole, &number);
    struct {
      wchar_t version[kVersionChars];
      wchar_t guard[16];
    } out;
    wmemset(out.version, L'#', kVersionChars);
    wmemset(out.guard, kGuard, 16);
    bool isNewer = IsNewerPackageAvailable(out.version);
    std::string where = "seed " + std::to_string(kSeed + 1) + " case " + std::to_string(n) +
                        (utf16 ? " (UTF-16)" : " (ANSI)") + ", Version read: " + Utf8(whole);
    for (wchar_t g : out.guard) ASSERT_EQ(kGuard, g) << "written past the Version buffer; " << where;
    ASSERT_LT(wcsnlen(out.version, kVersionChars), size_t(kVersionChars)) << "unterminated; " << where;
    EXPECT_EQ(expectUsable ? whole : L"", std::wstring(out.version)) << where;
    EXPECT_EQ(expectUsable && number > 1000u, isNewer) << where;
    usable += expectUsable;
    newer += isNewer;
  }
  EXPECT_GT(usable, 100);
  EXPECT_GT(newer, 50);
}

// The Language file's key names as the table takes them: names of at most three characters whose
// NUL, and the list's final NUL, fit into kKeyListChars. An empty name (a line "=text") is passed
// over, not taken for the list's end.
std::vector<std::wstring> ModelKeys(const std::wstring& path) {
  std::vector<wchar_t> list(65536);
  DWORD length = GetPrivateProfileStringW(L"strings", nullptr, L"", list.data(), DWORD(list.size()), path.c_str());
  std::vector<std::wstring> taken;
  size_t position = 0;
  while (position < length) {
    std::wstring name(list.data() + position);
    if (name.empty()) {
      if (position + 1 >= length || position + 1 >= size_t(kKeyListChars - 1)) break;
      ++position;
      continue;
    }
    size_t terminator = position + name.size();
    if (terminator > size_t(kKeyListChars - 2)) break;
    if (name.size() <= size_t(kKeyNameMaxChars)) taken.push_back(name);
    position = terminator + 1;
  }
  return taken;
}

TEST(BadInput, LanguageFilesGiveTheDecidedTexts) {
  std::wstring builtIn[kTextCount + 1];
  ReleaseOverrideTable();
  for (int i = 0; i <= kTextCount; ++i) builtIn[i] = LookupText(i);
  testing_support::TempDir folder;
  std::wstring path = folder.file(L"qentra.0409");
  ASSERT_TRUE(SUCCEEDED(StringCchCopyW(g_languageFilePath, kLanguageFilePathChars, path.c_str())));
  std::mt19937 random(kSeed + 2);
  std::uniform_int_distribution<int> shape(0, 9);
  int overridden = 0, cut = 0;
  for (int n = 0; n < 600; ++n) {
    std::wstring text;
    int sections = 1 + shape(random) % 3;
    for (int s = 0; s < sections; ++s) {
      text += shape(random) < 7 ? L"[strings]\r\n" : L"[other]\r\n";
      // Long key names first push the numbered keys out of the 1024-character list in some files.
      int longNames = shape(random) < 3 ? shape(random) * 8 : 0;
      for (int k = 0; k < longNames; ++k) text += L"name_of_a_key_" + std::to_wstring(k) + L"_xxxxxxxxxxxxxxx=v\r\n";
      int keys = shape(random) * 2;
      for (int k = 0; k < keys; ++k) {
        int index = static_cast<int>(random() % 18);
        std::wstring key = index == 17 ? L"0123" : std::to_wstring(index);
        text += key + L"=" + RandomValue(random) + L"\r\n";
      }
    }
    WriteIni(path, text, shape(random) < 6, random);

    std::vector<std::wstring> keys = ModelKeys(path);
    ReleaseOverrideTable();
    g_overrideTable = BuildOverrideTable();
    ASSERT_NE(nullptr, g_overrideTable);
    std::string where = "seed " + std::to_string(kSeed + 2) + " case " + std::to_string(n);
    ASSERT_EQ(int(keys.size()), g_overrideTable->count) << where;
    for (int e = 0; e < g_overrideTable->count; ++e) {
      const OverrideEntry& entry = g_overrideTable->entries[e];
      ASSERT_LE(wcsnlen(entry.key, kOverrideKeyChars), size_t(kKeyNameMaxChars)) << where;
      ASSERT_LT(wcsnlen(entry.value, kOverrideValueChars), size_t(kOverrideValueChars)) << where;
    }
    for (int i = 0; i <= kTextCount; ++i) {
      std::wstring expected = builtIn[i];
      bool found = false;
      for (const std::wstring& key : keys) found = found || (i < kTextCount && key == std::to_wstring(i));
      if (found) {
        expected = ReadWhole(L"strings", std::to_wstring(i).c_str(), path).substr(0, kOverrideValueChars - 1);
        ++overridden;
        cut += expected.size() == size_t(kOverrideValueChars - 1);
      }
      ASSERT_EQ(Utf8(expected), Utf8(LookupText(i))) << where << ", text " << i;
    }
  }
  ReleaseOverrideTable();
  EXPECT_GT(overridden, 400);
  EXPECT_GT(cut, 20);
}

TEST(BadInput, CommandLinesAndPathsStayWithinTheirBuffers) {
  std::mt19937 random(kSeed + 3);
  static const wchar_t* const kPieces[] = {L"-update", L"-UPDATE", L"-UpDaTe", L"\"-update\"", L" ", L"\"",
                                           L"\\", L"x", L"-update-", L"\t", L"\x00e4"};
  std::uniform_int_distribution<int> shape(0, 9);
  int updates = 0;
  for (int n = 0; n < 3000; ++n) {
    std::wstring line = L"PlinthwareUpdater.exe";
    int pieces = shape(random) * 3;
    for (int p = 0; p < pieces; ++p) line += kPieces[random() % ARRAYSIZE(kPieces)];
    if (shape(random) == 0) line += std::wstring(100 + shape(random) * 1000, L'u');
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
    bool expected = false;
    if (argv && argc > 1) {
      std::wstring first = argv[1];
      for (wchar_t& c : first) c = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
      expected = first == L"-update";
    }
    LocalFree(argv);
    updates += expected;
    ASSERT_EQ(expected ? 1 : 0, ReadCommandLine(line.c_str())) << "seed " << kSeed + 3 << " case " << n << ": "
                                                               << Utf8(line);
  }
  EXPECT_GT(updates, 50);

  // Executable paths and names of every length around the limits, and random ones.
  for (int n = 0; n < 2000; ++n) {
    size_t folderLength = n < 600 ? size_t(n) : size_t(random() % 1200);
    size_t nameLength = n < 600 ? 5 + size_t(n) % 140 : size_t(random() % 200);
    std::wstring name(nameLength, L'n');
    std::wstring modulePath = std::wstring(folderLength, L'f') + L"\\" + name;
    struct {
      wchar_t path[kLanguageFilePathChars];
      wchar_t guard[16];
    } out;
    wmemset(out.path, L'#', kLanguageFilePathChars);
    wmemset(out.guard, kGuard, 16);
    LocateLanguageFileFor(modulePath.c_str(), name.c_str(), 0x0407, out.path);
    std::string where = "case " + std::to_string(n) + ": folder " + std::to_string(folderLength) + ", name " +
                        std::to_string(nameLength);
    for (wchar_t g : out.guard) ASSERT_EQ(kGuard, g) << "written past the path; " << where;
    bool fits = modulePath.size() < size_t(kModulePathChars) && nameLength > 0 &&
                nameLength < size_t(kModuleBaseNameChars) && folderLength > 0;
    std::wstring folder = modulePath.substr(0, folderLength);
    // The German file does not exist there, so the English one is named.
    EXPECT_EQ(Utf8(fits ? folder + L"\\qentra.0409" : L""), Utf8(out.path)) << where;
  }
}

} // namespace
