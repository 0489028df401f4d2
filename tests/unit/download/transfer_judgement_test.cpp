// How the Download thread judges a finished call: result, HTTP status, and the stored file
// against the announced total. Rows follow what Wine's URLDownloadToFileW does with faulty
// servers (S_OK for error pages and short bodies), on real files in a private folder.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "download/download_thread.h"
#include "support/test_support.h"

using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

enum Stored { kFileOf, kNoFile, kFolder };

struct JudgementRow {
  const char* name;
  HRESULT result;
  DWORD status;
  ULONG total;
  bool encoded;
  bool overHttp;
  Stored stored;
  size_t bytes;       // the file's size when kFileOf
  const wchar_t* why; // the debugger line, or null when the transfer is whole
  ULONG size = 0;     // the Info file's Size
};

const JudgementRow kRows[] = {
    {"whole file", S_OK, 200, 5000, false, true, kFileOf, 5000, nullptr},
    {"no HTTP response", S_OK, 0, 0, false, true, kFileOf, 0, L"download failed: no HTTP response\n"},
    {"no HTTP response, data stored", S_OK, 0, 5000, false, true, kFileOf, 5000, L"download failed: no HTTP response\n"},
    {"no status outside HTTP", S_OK, 0, 5000, false, false, kFileOf, 5000, nullptr},
    {"no status outside HTTP, cut", S_OK, 0, 5000, false, false, kFileOf, 10, L"download failed: 10 of 5000 bytes stored\n"},
    {"no total (chunked)", S_OK, 200, 0, false, true, kFileOf, 1234, nullptr},
    {"other success status", S_OK, 203, 10, false, true, kFileOf, 10, nullptr},
    {"encoded body longer than its total", S_OK, 200, 5000, true, true, kFileOf, 20000, nullptr},
    {"error page 404", S_OK, 404, 30, false, true, kFileOf, 30, L"download failed: HTTP status 404\n"},
    {"error page 500", S_OK, 500, 30, false, true, kFileOf, 30, L"download failed: HTTP status 500\n"},
    {"status below 200", S_OK, 199, 30, false, true, kFileOf, 30, L"download failed: HTTP status 199\n"},
    {"redirect not followed", S_OK, 302, 30, false, true, kFileOf, 30, L"download failed: HTTP status 302\n"},
    {"body cut short", S_OK, 200, 5000, false, true, kFileOf, 1000, L"download failed: 1000 of 5000 bytes stored\n"},
    {"body longer than announced", S_OK, 200, 5000, false, true, kFileOf, 6000, L"download failed: 6000 of 5000 bytes stored\n"},
    {"nothing stored", S_OK, 200, 5000, false, true, kNoFile, 0, L"download failed: nothing stored of 5000 bytes (error 2)\n"},
    {"a folder in the way", S_OK, 200, 5000, false, true, kFolder, 0, L"download failed: 0 of 5000 bytes stored\n"},
    {"refused connection", static_cast<HRESULT>(0x800C0008), 0, 0, false, true, kNoFile, 0,
     L"download failed: result 0x800C0008\n"},
    {"bad address", static_cast<HRESULT>(0x800401E4), 0, 0, false, true, kNoFile, 0, L"download failed: result 0x800401E4\n"},
    {"encoded body of another Size", S_OK, 200, 5000, true, true, kFileOf, 20000,
     L"download failed: 20000 bytes stored, Size is 19000\n", 19000},
};

TEST(TransferJudgement, Table) {
  TempDir dir;
  int index = 0;
  for (const JudgementRow& row : kRows) {
    std::wstring destination = dir.file(L"stored" + std::to_wstring(index++));
    if (row.stored == kFileOf) {
      ASSERT_TRUE(WriteBytes(destination, std::string(row.bytes, 'd'))) << row.name;
    } else if (row.stored == kFolder) {
      ASSERT_TRUE(CreateDirectoryW(destination.c_str(), nullptr)) << row.name;
    }
    TransferFacts facts = {row.status, row.total, row.encoded, row.overHttp, row.size};
    wchar_t reason[kReasonChars] = {};
    bool failed = FindTransferFailure(destination.c_str(), row.result, facts, reason);
    EXPECT_EQ(row.why != nullptr, failed) << row.name << ": " << Narrow(reason);
    EXPECT_EQ(std::wstring(row.why ? row.why : L""), std::wstring(reason)) << row.name;
  }
}

// What an earlier run left at the destination is removed before a download, or the download
// fails at once: the platform call would report success without replacing a locked file.
TEST(TransferJudgement, LeftoverDestinations) {
  TempDir dir;
  struct Case {
    const char* name;
    std::wstring path;
    bool cleared;
  };
  std::wstring plain = dir.file(L"plain"), readOnly = dir.file(L"read-only"), locked = dir.file(L"locked");
  std::wstring folder = dir.file(L"folder");
  ASSERT_TRUE(WriteBytes(plain, "old"));
  ASSERT_TRUE(WriteBytes(readOnly, "old"));
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(WriteBytes(locked, "old"));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  HANDLE held = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  const Case kCases[] = {
      {"nothing there", dir.file(L"absent"), true},
      {"no such folder", dir.file(L"absent\\file"), true},
      {"a plain leftover", plain, true},
      {"a read-only leftover", readOnly, true},
      {"a leftover held without sharing", locked, false},
      {"a folder in the way", folder, false},
  };
  for (const Case& c : kCases) {
    wchar_t reason[kReasonChars] = {};
    EXPECT_EQ(c.cleared, ClearDestination(c.path.c_str(), reason)) << c.name << ": " << Narrow(reason);
    if (c.cleared) {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(c.path.c_str())) << c.name << " is still there";
      EXPECT_EQ(L'\0', reason[0]) << c.name;
    } else {
      EXPECT_EQ(0, wcsncmp(reason, L"download failed: an earlier file is in the way (error ", 54)) << Narrow(reason);
      EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(c.path.c_str())) << c.name << " was removed";
    }
  }
  CloseHandle(held);
}

} // namespace
