// Locating the Language file: the locate step for given executable names (existing files in a
// temporary folder decide), the real step for this test program's own folder, and a stand-in
// executable started under chosen names and folders. Checks the exact debugger output.
#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "debug_output.h"
#include "text/language_file.h"
#include "text/text_table.h"

using testing_support::DebugOutputCapture;
using testing_support::FileExists;
using testing_support::Narrow;
using testing_support::ProgramFolder;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteUtf16File;
using text_testing::LocateOutput;
using text_testing::Show;

namespace {

std::wstring LanguageFileName(LANGID language) {
  wchar_t name[16] = {};
  StringCchPrintfW(name, ARRAYSIZE(name), L"qentra.%04x", static_cast<unsigned>(language));
  return name;
}

std::vector<std::string> OutputUntilMarker(const DebugOutputCapture& capture) {
  bool arrived = false;
  std::vector<std::string> messages = text_testing::OutputUntilMarker(capture, &arrived);
  EXPECT_TRUE(arrived) << "the end marker never arrived";
  return messages;
}

struct LocateCase {
  const char* name;
  LANGID language;
  std::vector<std::wstring> files; // present beside the executable
  std::wstring chosen;             // the file name the path must end with
  bool fellBack;                   // the 0409 path was written after the language's own
};

const LocateCase kLocateCases[] = {
    {"own language present", 0x0407, {L"qentra.0407", L"qentra.0409"}, L"qentra.0407", false},
    {"only the English file", 0x0407, {L"qentra.0409"}, L"qentra.0409", true},
    {"neither file", 0x0407, {}, L"qentra.0409", true},
    {"other languages do not count", 0x0407, {L"qentra.040c", L"qentra.04070"}, L"qentra.0409", true},
    {"lower-case hexadecimal", 0x0c0a, {L"qentra.0c0a"}, L"qentra.0c0a", false},
    {"English user without a file", 0x0409, {}, L"qentra.0409", true},
    {"English user with a file", 0x0409, {L"qentra.0409"}, L"qentra.0409", false},
    {"language 0", 0x0000, {L"qentra.0000"}, L"qentra.0000", false},
    {"language ffff", 0xffff, {}, L"qentra.0409", true},
};

TEST(LocateLanguageFile, ChoosesByLanguageAndFallsBackToEnglish) {
  for (const LocateCase& c : kLocateCases) {
    TempDir dir;
    for (const std::wstring& file : c.files) ASSERT_TRUE(WriteBytes(dir.file(file), "[strings]\r\n")) << c.name;
    std::wstring modulePath = dir.file(L"PlinthwareUpdater.exe");

    DebugOutputCapture capture;
    wchar_t path[kLanguageFilePathChars] = {};
    LocateLanguageFileFor(modulePath.c_str(), L"PlinthwareUpdater.exe", c.language, path);
    std::vector<std::string> output = OutputUntilMarker(capture);

    EXPECT_EQ(dir.file(c.chosen), path) << c.name;
    std::vector<std::wstring> written = {dir.file(LanguageFileName(c.language))};
    if (c.fellBack) written.push_back(dir.file(L"qentra.0409"));
    EXPECT_EQ(LocateOutput(dir.path(), written), output) << c.name << ", output:" << Show(output);
  }
}

struct NamesCase {
  const char* name;
  std::wstring modulePath;
  std::wstring baseName;
  std::wstring folder; // empty: the names do not fit and nothing is located
};

std::wstring PathOfLength(size_t length, const std::wstring& baseName) {
  // "C:\ddd...d\" + base name
  return L"C:\\" + std::wstring(length - 4 - baseName.size(), L'd') + L"\\" + baseName;
}

const std::wstring kBase127 = std::wstring(123, L'n') + L".exe";
const std::wstring kBase128 = std::wstring(124, L'n') + L".exe";

const NamesCase kNamesCases[] = {
    {"path of 511", PathOfLength(511, L"x.exe"), L"x.exe", PathOfLength(511, L"x.exe").substr(0, 511 - 6)},
    {"path of 512", PathOfLength(512, L"x.exe"), L"x.exe", L""},
    {"path of 5000", PathOfLength(5000, L"x.exe"), L"x.exe", L""},
    {"base name of 127", L"C:\\p\\" + kBase127, kBase127, L"C:\\p"},
    {"base name of 128", L"C:\\p\\" + kBase128, kBase128, L""},
    {"empty path", L"", L"x.exe", L""},
    {"empty base name", L"C:\\p\\x.exe", L"", L""},
    {"base name longer than the path", L"C:\\x.exe", L"PlinthwareUpdater.exe", L""},
    {"base name as long as the path", L"x.exe", L"x.exe", L""},
    {"no folder left", L"\\x.exe", L"x.exe", L""},
    {"one-character folder", L"C\\x.exe", L"x.exe", L"C"},
};

TEST(LocateLanguageFile, NamesThatDoNotFitLeaveThePathEmpty) {
  for (const NamesCase& c : kNamesCases) {
    DebugOutputCapture capture;
    wchar_t path[kLanguageFilePathChars];
    for (wchar_t& unit : path) unit = L'#'; // whatever was there before
    LocateLanguageFileFor(c.modulePath.c_str(), c.baseName.c_str(), 0x0407, path);
    std::vector<std::string> output = OutputUntilMarker(capture);
    if (c.folder.empty()) {
      EXPECT_STREQ(L"", path) << c.name;
      EXPECT_TRUE(output.empty()) << c.name << ", output:" << Show(output);
    } else {
      EXPECT_EQ(c.folder + L"\\qentra.0409", path) << c.name;
      EXPECT_EQ(LocateOutput(c.folder, {c.folder + L"\\qentra.0407", c.folder + L"\\qentra.0409"}), output)
          << c.name << ", output:" << Show(output);
    }
  }
}

TEST(LocateLanguageFile, MissingNamesLeaveThePathEmpty) {
  wchar_t path[kLanguageFilePathChars] = L"stale";
  LocateLanguageFileFor(nullptr, L"x.exe", 0x0407, path);
  EXPECT_STREQ(L"", path);
  StringCchCopyW(path, ARRAYSIZE(path), L"stale");
  LocateLanguageFileFor(L"C:\\p\\x.exe", nullptr, 0x0407, path);
  EXPECT_STREQ(L"", path);
}

// A file beside this test program for the length of one test.
class FileBesideProgram {
public:
  FileBesideProgram(const std::wstring& name, const std::string& bytes) : path_(ProgramFolder() + L"\\" + name) {
    ok_ = WriteBytes(path_, bytes);
  }
  ~FileBesideProgram() { DeleteFileW(path_.c_str()); }
  bool ok() const { return ok_; }

private:
  std::wstring path_;
  bool ok_;
};

class OwnFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    language_ = GetUserDefaultLangID();
    // The English fallback would hide a lookup that ignored the language.
    ASSERT_EQ(0x0407, language_) << "this program must run with LC_ALL=de_DE.UTF-8 (CTest sets it)";
    folder_ = ProgramFolder();
    // Left over from an interrupted run, they would decide the outcome.
    DeleteFileW((folder_ + L"\\" + LanguageFileName(language_)).c_str());
    DeleteFileW((folder_ + L"\\qentra.0409").c_str());
  }
  void TearDown() override {
    ReleaseOverrideTable();
    g_languageFilePath[0] = L'\0';
  }
  LANGID language_ = 0;
  std::wstring folder_;
};

TEST_F(OwnFolderTest, FileForTheUsersLanguageIsUsed) {
  FileBesideProgram file(LanguageFileName(language_), "[strings]\r\n4=Later, in my language\r\n");
  ASSERT_TRUE(file.ok());
  DebugOutputCapture capture;
  LocateLanguageFile();
  std::vector<std::string> output = OutputUntilMarker(capture);

  std::wstring expected = folder_ + L"\\" + LanguageFileName(language_);
  EXPECT_EQ(expected, g_languageFilePath);
  EXPECT_EQ(LocateOutput(folder_, {expected}), output) << "output:" << Show(output);

  g_overrideTable = BuildOverrideTable();
  EXPECT_STREQ(L"Later, in my language", LookupText(kTextDownloadLater));
  EXPECT_STREQ(L"Download Now", LookupText(kTextDownloadNow));
}

TEST_F(OwnFolderTest, WithoutFilesTheEnglishPathAndTheBuiltInTexts) {
  DebugOutputCapture capture;
  LocateLanguageFile();
  std::vector<std::string> output = OutputUntilMarker(capture);

  std::wstring english = folder_ + L"\\qentra.0409";
  EXPECT_EQ(english, g_languageFilePath);
  EXPECT_EQ(LocateOutput(folder_, {folder_ + L"\\" + LanguageFileName(language_), english}), output)
      << "output:" << Show(output);

  g_overrideTable = BuildOverrideTable();
  ASSERT_NE(nullptr, g_overrideTable);
  EXPECT_EQ(0, g_overrideTable->count);
  EXPECT_STREQ(L"Download Later", LookupText(kTextDownloadLater));
}

// What the stand-in executable found: language, path, entry count and the 16 texts.
struct ProbeResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::wstring> lines;
};

ProbeResult RunProbe(const std::wstring& executable, const std::wstring& resultFile) {
  ProbeResult result;
  std::wstring commandLine = L"\"" + executable + L"\" \"" + resultFile + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(executable.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << Narrow(executable) << ": error " << GetLastError();
    return result;
  }
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the probe did not end within 30 s";
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  std::string bytes = ReadBytes(resultFile);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  size_t start = 0;
  for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
    result.lines.push_back(text.substr(start, end - start));
  return result;
}

struct ProbeCase {
  const char* name;
  std::wstring subfolder; // below the temporary folder, or empty
  std::wstring exeName;
  bool located;           // false: the names do not fit, no Language file is read
};

const ProbeCase kProbeCases[] = {
    {"ordinary name", L"", L"PlinthwareUpdater.exe", true},
    {"folder with blanks and umlaut", L"Plinthwäre Tools", L"PlinthwareUpdater.exe", true},
    {"base name of 127", L"", kBase127, true},
    {"base name of 128", L"", kBase128, false},
};

TEST(LocateLanguageFileInProcess, RealExecutableNamesDecide) {
  std::wstring probe = ProgramFolder() + L"\\text_locate_probe.exe";
  ASSERT_TRUE(FileExists(probe)) << Narrow(probe);
  LANGID language = GetUserDefaultLangID();
  ASSERT_EQ(0x0407, language) << "this program must run with LC_ALL=de_DE.UTF-8 (CTest sets it)";
  for (const ProbeCase& c : kProbeCases) {
    TempDir dir;
    std::wstring folder = dir.path();
    if (!c.subfolder.empty()) {
      folder += L"\\" + c.subfolder;
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << c.name;
    }
    std::wstring executable = folder + L"\\" + c.exeName;
    ASSERT_TRUE(CopyFileW(probe.c_str(), executable.c_str(), FALSE)) << c.name << ": error " << GetLastError();
    std::wstring languageFile = folder + L"\\" + LanguageFileName(language);
    ASSERT_TRUE(WriteUtf16File(languageFile, L"[strings]\r\n3=Jetzt laden\r\n15=Fehlgeschlagen\r\n")) << c.name;

    ProbeResult result = RunProbe(executable, dir.file(L"result.txt"));
    ASSERT_EQ(0u, result.exitCode) << c.name;
    ASSERT_EQ(3u + kTextCount, result.lines.size()) << c.name;
    if (c.located) {
      EXPECT_EQ(languageFile, result.lines[1]) << c.name << ": got " << Narrow(result.lines[1]);
      EXPECT_EQ(L"2", result.lines[2]) << c.name;
      EXPECT_EQ(L"Jetzt laden", result.lines[3 + kTextDownloadNow]) << c.name;
      EXPECT_EQ(L"Fehlgeschlagen", result.lines[3 + kTextInstallFailed]) << c.name;
    } else {
      EXPECT_EQ(L"", result.lines[1]) << c.name << ": got " << Narrow(result.lines[1]);
      EXPECT_EQ(L"0", result.lines[2]) << c.name;
      EXPECT_EQ(L"Download Now", result.lines[3 + kTextDownloadNow]) << c.name;
    }
    EXPECT_EQ(L"Download Later", result.lines[3 + kTextDownloadLater]) << c.name;
  }
}

} // namespace
