// Signed Info files under the real CNG: a key made by keygen signs an Info file that verify and
// the updater's check accept; then each way a file can be wrong is refused: unsigned, a cut or
// malformed signature, another key, any one byte flipped, a line added, bytes after the
// signature, and a file beyond 1 MiB (refused by every build, with a key or without); then the
// [info] section's Expires and Serial, their forms and their judgement against a clock and a store.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "info_report.h"
#include "info_signing.h"
#include "support/test_support.h"
#include "base/owners.h"
#include "info/info_freshness.h"
#include "info/info_judgement.h"
#include "info/info_signature.h"
#include "info/package_check.h"

namespace {

using testing_support::FullSharingOpenError;
using testing_support::ExpiresIn;
using testing_support::Narrow;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::Widen;
using testing_support::WriteBytes;

void Collect(void* context, const wchar_t* text) { *static_cast<std::wstring*>(context) += text; }

const char kInfo[] =
    "[platform_win8]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/vrel_setup.exe\r\n"
    "InstConfig=vrel_setup.exe /S\r\nSha256=40fa264148fd4b9e9bea4447cc4504f68832044997ab4921af95356d05556031\r\n"
    "Size=48213\r\n";

class SignatureTest : public ::testing::Test {
protected:
  void SetUp() override {
    keyPath_ = dir_.file(L"info.key");
    publicKey_ = MakeKey(keyPath_);
    ASSERT_EQ(88u, publicKey_.size()) << Narrow(publicKey_);
    info_ = dir_.file(L"vrel_info");
  }

  // keygen into `path`; returns the public key it printed.
  std::wstring MakeKey(const std::wstring& path) {
    std::wstring report;
    Output out = {Collect, &report};
    EXPECT_EQ(kCheckPassed, KeygenCommand(path.c_str(), out)) << Narrow(report);
    const std::wstring marker = L"-DPLINTHWARE_INFO_PUBLIC_KEY=";
    size_t at = report.find(marker);
    if (at == std::wstring::npos) return L"";
    size_t end = report.find(L'\n', at);
    return report.substr(at + marker.size(), end - at - marker.size());
  }

  // Writes `text` to the Info file and signs it with `keyPath`; returns the signed bytes.
  std::string Signed(const std::string& text, const std::wstring& keyPath) {
    EXPECT_TRUE(WriteBytes(info_, text));
    std::wstring report;
    Output out = {Collect, &report};
    EXPECT_EQ(kCheckPassed, SignCommand(info_.c_str(), keyPath.c_str(), out)) << Narrow(report);
    return ReadBytes(info_);
  }

  // The updater's verdict on `bytes` as its Info file: null when accepted.
  const wchar_t* Judge(const std::string& bytes) {
    EXPECT_TRUE(WriteBytes(info_, bytes));
    return FindInfoFileRefusal(info_.c_str(), publicKey_.c_str());
  }

  TempDir dir_;
  std::wstring keyPath_, publicKey_, info_;
};

TEST_F(SignatureTest, RoundTripKeygenSignVerify) {
  std::string bytes = Signed(kInfo, keyPath_);
  // After every byte of the original file: the [info] section with the first serial, then the
  // signature, an INI comment, as the last line.
  ASSERT_EQ(0u, bytes.find(kInfo)) << bytes;
  std::string line = bytes.substr(sizeof kInfo - 1);
  EXPECT_EQ(0u, line.find("[info]\r\nSerial=1\r\n; signature=")) << line;
  EXPECT_EQ(18u + 12u + 88u + 2u, line.size()) << line;
  EXPECT_EQ(nullptr, Judge(bytes));

  std::wstring report;
  Output out = {Collect, &report};
  EXPECT_EQ(kCheckPassed, VerifyCommand(info_.c_str(), publicKey_.c_str(), out)) << Narrow(report);
  // Profile reads ignore the signature line: the values read as before.
  wchar_t version[64] = {};
  GetPrivateProfileStringW(L"platform_win8", L"Version", L"", version, 64, info_.c_str());
  EXPECT_STREQ(L"1.0.0.6", version);

  // Signing again replaces the line rather than adding one, and raises the serial.
  std::wstring again;
  Output out2 = {Collect, &again};
  ASSERT_EQ(kCheckPassed, SignCommand(info_.c_str(), keyPath_.c_str(), out2)) << Narrow(again);
  std::string resigned = ReadBytes(info_);
  EXPECT_EQ(bytes.size(), resigned.size());
  EXPECT_EQ(std::string::npos, resigned.find("; signature=", resigned.find("; signature=") + 1)) << resigned;
  EXPECT_EQ(sizeof kInfo - 1, resigned.find("[info]\r\nSerial=2\r\n; signature=")) << resigned;
  EXPECT_EQ(nullptr, Judge(resigned));

  // A file whose last line has no line ending gets one before its signature.
  std::string bare = Signed("[platform_win7]\r\nVersion=1.0.0.6", keyPath_);
  EXPECT_EQ(0u, bare.find("[platform_win7]\r\nVersion=1.0.0.6\r\n[info]\r\nSerial=1\r\n; signature=")) << bare;
  EXPECT_EQ(nullptr, Judge(bare));

  // keygen never replaces a key.
  std::wstring refused;
  Output out3 = {Collect, &refused};
  EXPECT_EQ(kCheckUsage, KeygenCommand(keyPath_.c_str(), out3));
}

TEST_F(SignatureTest, RefusesWhatIsNotSignedByTheKey) {
  std::string good = Signed(kInfo, keyPath_);
  std::wstring otherKey = dir_.file(L"other.key");
  ASSERT_FALSE(MakeKey(otherKey).empty());
  std::string byOther = Signed(kInfo, otherKey);
  size_t line = good.rfind("; signature="); // where the signature line begins

  struct Row {
    const char* name;
    std::string bytes;
    const wchar_t* refusal; // the start of the refusal expected
  };
  const Row rows[] = {
      {"unsigned", kInfo, L"Info file refused: no well-formed signature line"},
      {"empty", "", L"Info file refused: no well-formed signature line"},
      {"truncated signature", good.substr(0, good.size() - 6) + "\r\n", L"Info file refused: no well-formed"},
      {"signature without padding", good.substr(0, good.size() - 3) + "\r\n", L"Info file refused: no well-formed"},
      {"signature not base64", good.substr(0, line + 12) + std::string(88, '*') + "\r\n",
       L"Info file refused: no well-formed"},
      {"another key", byOther, L"Info file refused: the signature does not verify"},
      {"line added before", "[x]\r\n" + good, L"Info file refused: the signature does not verify"},
      {"line added after", good + "Version=9.9.9.9\r\n", L"Info file refused: no well-formed"},
      {"bytes after", good + "x", L"Info file refused: no well-formed"},
      {"blank line after", good + "\r\n", L"Info file refused: no well-formed"},
      {"signature line indented", good.substr(0, line) + " " + good.substr(line),
       L"Info file refused: no well-formed"},
      {"2 MiB", std::string(2 * 1024 * 1024, ';'), L"Info file refused: larger than 1 MiB"},
  };
  for (const Row& row : rows) {
    const wchar_t* refusal = Judge(row.bytes);
    ASSERT_NE(nullptr, refusal) << row.name << " was accepted";
    EXPECT_EQ(0, wcsncmp(refusal, row.refusal, wcslen(row.refusal))) << row.name << ": " << Narrow(refusal);
  }
  // Without a line ending after the signature the file is still the signed one.
  EXPECT_EQ(nullptr, Judge(good.substr(0, good.size() - 2)));
}

TEST_F(SignatureTest, AnyFlippedByteIsRefused) {
  std::string good = Signed("[platform_win8]\r\nVersion=1.0.0.6\r\n", keyPath_);
  ASSERT_EQ(nullptr, Judge(good));
  int accepted = 0;
  std::string firstAccepted;
  for (size_t i = 0; i < good.size(); ++i) {
    std::string bad = good;
    bad[i] = static_cast<char>(bad[i] ^ 0x01);
    if (!Judge(bad)) {
      if (accepted++ == 0) firstAccepted = std::to_string(i);
    }
  }
  EXPECT_EQ(0, accepted) << "accepted with a flipped byte, first at position " << firstAccepted << " of "
                         << good.size();
}

// fixed_signed_info.ini was signed once with test_only_info.key and is never signed again. Every
// other case signs at test time with the same code that verifies, so a change made to both (the
// signed byte range, the encoding) would pass them all while updaters already shipped refuse
// the files signed after it. This one keeps its verdict: accepted as committed, refused with one
// byte changed.
TEST_F(SignatureTest, AFixedSignedFileKeepsItsVerdict) {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_FIXED_SIGNED_INFO", path, ARRAYSIZE(path));
  ASSERT_TRUE(length > 0 && length < ARRAYSIZE(path)) << "PLINTHWARE_FIXED_SIGNED_INFO is not set: run through CTest";
  std::wstring file = path;
  if (file[0] == L'/') { // a Unix path from CMake: Wine's drive Z: is the Unix root
    file = L"Z:" + file;
    for (wchar_t& c : file) c = c == L'/' ? L'\\' : c;
  }
  const std::string fixed = ReadBytes(file);
  ASSERT_NE(std::string::npos, fixed.find("Version=1.0.0.6\r\n")) << Narrow(file) << ":\n" << fixed;
  std::string changed = fixed;
  changed[fixed.find("Version=1.0.0.6") + 14] = '7';
  const struct {
    const char* name;
    std::string bytes;
    bool accepted;
    bool held; // judged and read as the Download thread does, under its hold
  } rows[] = {{"as committed", fixed, true, false}, {"one byte changed", changed, false, false},
              {"held: not to be replaced, written or deleted, yet read", fixed, true, true}};
  for (const auto& row : rows) {
    ASSERT_TRUE(WriteBytes(info_, row.bytes));
    const wchar_t* refusal = FindInfoFileRefusal(info_.c_str(), PLINTHWARE_TEST_INFO_PUBLIC_KEY);
    if (row.held) {
      ScopedHandle held(OpenHeldFile(info_.c_str()));
      ASSERT_TRUE(WriteBytes(dir_.file(L"other"), kInfo));
      EXPECT_FALSE(MoveFileExW(dir_.file(L"other").c_str(), info_.c_str(), MOVEFILE_REPLACE_EXISTING));
      // Probed as any other program would, sharing everything: refused only by what the hold shares.
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), FullSharingOpenError(info_, GENERIC_WRITE));
      EXPECT_FALSE(DeleteFileW(info_.c_str()));
      PlatformValues values;
      refusal = ReadJudgedInfoFile(held.get(), info_.c_str(), PLINTHWARE_TEST_INFO_PUBLIC_KEY, L"platform_win8", &values);
      EXPECT_STREQ(L"1.0.0.6", values.version) << "the values could not be read while the file was held";
    }
    EXPECT_EQ(row.accepted, refusal == nullptr) << row.name << ": " << (refusal ? Narrow(refusal) : "accepted");
  }
}

TEST_F(SignatureTest, SizeLimitHoldsWithoutAKeyToo) {
  ASSERT_TRUE(WriteBytes(info_, std::string(kInfoFileMaxBytes, ';')));
  EXPECT_EQ(nullptr, FindInfoFileRefusal(info_.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(info_, std::string(kInfoFileMaxBytes + 1, ';')));
  const wchar_t* refusal = FindInfoFileRefusal(info_.c_str(), L"");
  ASSERT_NE(nullptr, refusal);
  EXPECT_STREQ(L"Info file refused: larger than 1 MiB\n", refusal);
  // An unsigned file is fine for a build without a key.
  ASSERT_TRUE(WriteBytes(info_, kInfo));
  EXPECT_EQ(nullptr, FindInfoFileRefusal(info_.c_str(), nullptr));
}

TEST_F(SignatureTest, InfoCheckWithTheKeyDemandsSignatureSha256AndSize) {
  std::string unpinned = "[platform_win8]\r\nVersion=1.0.0.6\r\nLocation=http://a.example/s.exe\r\n";
  Signed(unpinned, keyPath_);
  std::wstring report;
  Output out = {Collect, &report};
  CheckOptions options = {info_.c_str(), nullptr, nullptr, publicKey_.c_str(), nullptr};
  EXPECT_EQ(kCheckProblems, CheckInfoFile(options, out)) << Narrow(report);
  EXPECT_NE(std::wstring::npos, report.find(L"signature verified")) << Narrow(report);
  EXPECT_NE(std::wstring::npos, report.find(L"no Sha256")) << Narrow(report);
  EXPECT_NE(std::wstring::npos, report.find(L"PROBLEM: no Size")) << Narrow(report);

  ASSERT_TRUE(WriteBytes(info_, kInfo));
  report.clear();
  EXPECT_EQ(kCheckProblems, CheckInfoFile(options, out)) << Narrow(report);
  EXPECT_NE(std::wstring::npos, report.find(L"no well-formed signature")) << Narrow(report);
}

// Each text as the parser takes it, against Windows' own conversion of the same fields, and back.
TEST(InfoFreshness, TakesOnlyAUtcTimeOfARealDayAndADecimalSerial) {
  const struct {
    const wchar_t* text;
    WORD fields[6]; // year, month, day, hour, minute, second; year 0: refused
  } times[] = {
      {L"2024-02-29T23:59:59Z", {2024, 2, 29, 23, 59, 59}}, {L"2000-02-29T00:00:00Z", {2000, 2, 29, 0, 0, 0}},
      {L"1601-01-01T00:00:00Z", {1601, 1, 1, 0, 0, 0}},     {L"9999-12-31T23:59:59Z", {9999, 12, 31, 23, 59, 59}},
      {L"2023-02-29T00:00:00Z", {}}, {L"1900-02-29T00:00:00Z", {}}, {L"2025-04-31T00:00:00Z", {}},
      {L"2025-13-01T00:00:00Z", {}}, {L"2025-01-01T24:00:00Z", {}}, {L"2025-01-01T00:00:60Z", {}},
      {L"1600-12-31T23:59:59Z", {}}, {L"2025-01-01t00:00:00z", {}}, {L"2025-01-01T00:00:00+00:00", {}},
      {L"2025-01-01T00:00:00.5Z", {}}, {L"2025-1-01T00:00:00Z", {}},  {L"", {}},
  };
  for (const auto& row : times) {
    SCOPED_TRACE(Narrow(row.text));
    ULONGLONG time = 1;
    ASSERT_EQ(row.fields[0] != 0, ParseInfoTime(row.text, &time));
    const WORD* f = row.fields;
    SYSTEMTIME utc = {f[0], f[1], 0, f[2], f[3], f[4], f[5], 0};
    FILETIME file = {};
    bool converted = f[0] && SystemTimeToFileTime(&utc, &file);
    EXPECT_EQ(converted ? (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime : 0, time);
    wchar_t back[kInfoTimeChars] = {};
    EXPECT_EQ(f[0] != 0, f[0] && FormatInfoTime(time, back) && lstrcmpW(row.text, back) == 0) << Narrow(back);
  }
  const struct {
    const wchar_t* text;
    bool valid;
    ULONGLONG value;
  } serials[] = {{L"0", true, 0}, {L"00000000000000000042", true, 42}, {L"18446744073709551615", true, ~0ull},
                 {L"18446744073709551616", false, 0}, {L"000000000000000000001", false, 0}, {L"-1", false, 0},
                 {L"1 2", false, 0}, {L"", false, 0}};
  for (const auto& row : serials) {
    ULONGLONG value = 1;
    EXPECT_EQ(row.valid, ParseInfoSerial(row.text, &value)) << Narrow(row.text);
    EXPECT_EQ(row.value, value) << Narrow(row.text);
  }
}

// The judgement at a fixed clock: the boundaries and the lines.
TEST_F(SignatureTest, JudgesExpiryToTheSecondAndNamesBothTimes) {
  ULONGLONG noon = 0;
  ASSERT_TRUE(ParseInfoTime(L"2025-06-01T12:00:00Z", &noon));
  const ULONGLONG five = 5;
  const wchar_t kExpired[] =
      L"Info file refused: expired at 2025-06-01T11:59:59Z, the clock says 2025-06-01T12:00:00Z\n";
  const struct {
    const char* info; // the [info] section's lines
    ULONGLONG now;
    const wchar_t* refusal; // the whole line, or null: accepted
  } rows[] = {
      {"Expires=2025-06-01T12:00:00Z\r\n", noon, nullptr},
      {"Expires=2025-06-01T11:59:59Z\r\n", noon, kExpired},
      {"Expires=2025-06-01T11:59:59Z\r\n", noon + 5000000, kExpired}, // the clock's fraction is not shown
      {"Expires=2025-06-01\r\n", noon, L"Info file refused: Expires is not a UTC time YYYY-MM-DDTHH:MM:SSZ\n"},
      {"Serial=4\r\n", noon, L"Info file refused: Serial 4 is below 5, the highest accepted (a replay)\n"},
      {"Serial=18446744073709551616\r\n", noon,
       L"Info file refused: Serial is not a decimal number from 0 to 18446744073709551615\n"},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(WriteBytes(info_, std::string(kInfo) + "[info]\r\n" + row.info));
    InfoFreshness fresh;
    ReadInfoFreshness(info_.c_str(), &fresh);
    wchar_t refusal[160] = L"untouched";
    bool accepted = JudgeInfoFreshness(fresh, row.now, &five, refusal, ARRAYSIZE(refusal));
    EXPECT_EQ(row.refusal == nullptr, accepted) << row.info;
    EXPECT_STREQ(row.refusal ? row.refusal : L"", refusal) << row.info;
  }
}

// A store of the highest serial in memory: what it holds, its read's and write's errors, and the
// writes made.
struct MemoryStore {
  bool holds = false;
  ULONGLONG value = 0;
  LONG readError = ERROR_SUCCESS;
  LONG writeError = ERROR_SUCCESS;
  int writes = 0;
};
MemoryStore g_store;

LONG ReadMemory(ULONGLONG* serial) {
  *serial = g_store.value;
  if (g_store.readError != ERROR_SUCCESS) return g_store.readError;
  return g_store.holds ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WriteMemory(ULONGLONG serial) {
  ++g_store.writes;
  if (g_store.writeError != ERROR_SUCCESS) return g_store.writeError;
  g_store.holds = true;
  g_store.value = serial;
  return ERROR_SUCCESS;
}


// The step the Download thread takes, at the PC's clock: only in a build with a key; the serial kept
// only when a file was accepted with a higher one; a store that cannot be read or written passed
// over with a debugger line.
TEST_F(SignatureTest, AcceptsAFreshFileAndKeepsOnlyAHigherSerial) {
  const InfoSerialStore store = {ReadMemory, WriteMemory};
  const std::string tomorrow = ExpiresIn(1), yesterday = ExpiresIn(-1);
  const struct {
    const char* name;
    bool keyed;
    std::string info;  // the [info] section's lines
    MemoryStore before;
    const wchar_t* refusal;  // the start of the refusal, or null
    MemoryStore after;       // holds, value and writes
    const char* note;        // a debugger line, or null
  } rows[] = {
      {"no section", true, "", {}, nullptr, {}, nullptr},
      {"first serial", true, "Serial=5\r\n", {}, nullptr, {true, 5, 0, 0, 1}, nullptr},
      {"higher", true, "Serial=6\r\n", {true, 5}, nullptr, {true, 6, 0, 0, 1}, nullptr},
      {"equal: nothing written", true, "Serial=5\r\n", {true, 5}, nullptr, {true, 5, 0, 0, 0}, nullptr},
      {"lower", true, "Serial=4\r\n", {true, 5}, L"Info file refused: Serial 4 is below 5", {true, 5, 0, 0, 0},
       nullptr},
      {"unexpired", true, "Expires=" + tomorrow + "\r\nSerial=6\r\n", {true, 5}, nullptr, {true, 6, 0, 0, 1},
       nullptr},
      {"expired: nothing written", true, "Expires=" + yesterday + "\r\nSerial=6\r\n", {true, 5},
       L"Info file refused: expired at", {true, 5, 0, 0, 0}, nullptr},
      {"malformed expiry", true, "Expires=tomorrow\r\nSerial=6\r\n", {true, 5},
       L"Info file refused: Expires is not", {true, 5, 0, 0, 0}, nullptr},
      {"without a key nothing is read", false, "Expires=" + yesterday + "\r\nSerial=4\r\n", {true, 5}, nullptr,
       {true, 5, 0, 0, 0}, nullptr},
      {"unreadable store", true, "Serial=4\r\n", {true, 5, ERROR_ACCESS_DENIED}, nullptr,
       {true, 4, ERROR_ACCESS_DENIED, 0, 1},
       "Info file serial: the highest accepted cannot be read (error 5); taken as none\n"},
      {"unwritable store", true, "Serial=6\r\n", {true, 5, 0, ERROR_ACCESS_DENIED}, nullptr,
       {true, 5, 0, ERROR_ACCESS_DENIED, 1}, "Info file serial: 6 cannot be kept (error 5)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteBytes(info_, std::string(kInfo) + (row.info.empty() ? "" : "[info]\r\n" + row.info)));
    g_store = row.before;
    testing_support::DebugOutputCapture capture;
    wchar_t line[160] = {};
    const wchar_t* refusal = AcceptInfoFreshness(info_.c_str(), row.keyed ? publicKey_.c_str() : L"", store, line,
                                                 ARRAYSIZE(line));
    OutputDebugStringA("--end--");
    ASSERT_TRUE(capture.WaitFor("--end--", 10000));
    EXPECT_EQ(row.refusal ? line : nullptr, refusal);
    if (row.refusal) {
      EXPECT_EQ(0, wcsncmp(line, row.refusal, wcslen(row.refusal))) << Narrow(line);
    }
    EXPECT_EQ(row.after.holds, g_store.holds);
    EXPECT_EQ(row.after.value, g_store.value);
    EXPECT_EQ(row.after.writes, g_store.writes);
    std::vector<std::string> messages = capture.messages();
    messages.pop_back();
    EXPECT_EQ(row.note ? std::vector<std::string>{row.note} : std::vector<std::string>{}, messages);
  }
}

TEST(Base64, EncodesAndDecodesExactly) {
  BYTE bytes[5] = {0xfb, 0xff, 0x00, 0x10, 0x20};
  char text[9] = {};
  ASSERT_TRUE(EncodeBase64(bytes, 5, text, sizeof text));
  EXPECT_STREQ("+/8AECA=", text);
  BYTE back[5] = {};
  EXPECT_TRUE(DecodeBase64Exact(text, 8, back, 5));
  EXPECT_EQ(0, memcmp(bytes, back, 5));
  EXPECT_FALSE(DecodeBase64Exact(text, 8, back, 4)) << "wrong length";
  EXPECT_FALSE(DecodeBase64Exact("+/8AECB=", 8, back, 5)) << "non-zero bits in the padding";
  EXPECT_FALSE(DecodeBase64Exact("+/8AEC=A", 8, back, 5)) << "padding inside";
  EXPECT_FALSE(DecodeBase64Exact("+/8AECA", 7, back, 5)) << "not a multiple of 4";
  EXPECT_FALSE(EncodeBase64(bytes, 5, text, 8)) << "no room for the terminator";
}

} // namespace
