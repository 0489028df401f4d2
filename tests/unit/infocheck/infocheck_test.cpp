// InfoCheck on good and bad Info files: each row a file (and options), the exit code the check
// must give and a line its report must hold; Expires and Serial as check, sign and verify handle
// them; then the console program itself, started as the maker's pipeline starts it, with its exit
// code and output read back.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "info_report.h"
#include "info_signing.h"
#include "support/test_support.h"
#include "support/trusted_root.h"
#include "info/package_check.h"

namespace {

using testing_support::ExpiresIn;
using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::Widen;
using testing_support::WriteBytes;

void Collect(void* context, const wchar_t* text) { *static_cast<std::wstring*>(context) += text; }

struct CheckRun {
  int code;
  std::wstring report;
};

CheckRun Check(const std::wstring& info, const wchar_t* package = nullptr, const wchar_t* previous = nullptr,
          const wchar_t* publicKey = nullptr) {
  CheckRun run = {-1, L""};
  Output out = {Collect, &run.report};
  CheckOptions options = {info.c_str(), package, previous, publicKey, nullptr};
  run.code = CheckInfoFile(options, out);
  return run;
}

// A stand-in package; its digest comes from the same CNG hashing the updater uses.
const char kPackageBytes[] = "package bytes\n";

std::string PackageSha256(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  BYTE digest[kSha256Bytes] = {};
  bool ok = file != INVALID_HANDLE_VALUE && HashFileSha256(file, digest);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  std::string text;
  static const char digits[] = "0123456789abcdef";
  for (int i = 0; ok && i < kSha256Bytes; ++i) {
    text += digits[digest[i] >> 4];
    text += digits[digest[i] & 15];
  }
  return text;
}

std::string Section(const std::string& name, const std::string& body) { return "[" + name + "]\r\n" + body; }

// One section with the given values; an empty value leaves its key out.
std::string Values(const std::string& version, const std::string& location, const std::string& instConfig,
                   const std::string& sha256, const std::string& size = "") {
  std::string body = size.empty() ? "" : "Size=" + size + "\r\n";
  if (!version.empty()) body += "Version=" + version + "\r\n";
  if (!location.empty()) body += "Location=" + location + "\r\n";
  if (!instConfig.empty()) body += "InstConfig=" + instConfig + "\r\n";
  if (!sha256.empty()) body += "Sha256=" + sha256 + "\r\n";
  return body;
}

const char kGoodLocation[] = "http://download.orvane.com/plinthware/vrel_setup_1006.exe";
const char kGoodCommand[] = "vrel_setup.exe /S";

struct Row {
  const char* name;
  std::string version, location, instConfig, sha256; // "PACKAGE" stands for the package's digest
  const wchar_t* previous;
  int code;
  const char* expected; // a line the report must hold
  bool relative = false; // the Info file and the package named relative to the current folder
  std::string size = "";
  bool signedWithKey = false; // signed, and checked as a build with that public key would
};

class InfoCheckTest : public ::testing::Test {
protected:
  void SetUp() override {
    package_ = dir_.file(L"vrel_setup.exe");
    ASSERT_TRUE(WriteBytes(package_, kPackageBytes));
    digest_ = PackageSha256(package_);
    ASSERT_EQ(64u, digest_.size());
  }
  std::wstring Write(const std::string& text) {
    std::wstring path = dir_.file(L"vrel_info.ini");
    EXPECT_TRUE(WriteBytes(path, text));
    return path;
  }
  std::string Digest(const std::string& value) { return value == "PACKAGE" ? digest_ : value; }

  TempDir dir_;
  std::wstring package_;
  std::string digest_;
};

TEST_F(InfoCheckTest, JudgesEachValueAsTheUpdaterWould) {
  const std::string longLocation = "http://example.com/" + std::string(1023 - 19, 'a');
  const std::string tooLongLocation = longLocation + "a";
  const std::string fullCommand = "vrel_setup.exe " + std::string(127 - 15, 'x');
  const std::string longVersion = "1.0.0.6" + std::string(63 - 7, 'b');
  const Row rows[] = {
      {"all good", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", L"1.0.0.5", 0, "matches the package"},
      {"version number shown", "1.0.0.6beta", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 0,
       "Version number 1006 (compares as 1.0.0.6)"},
      {"below the previous", "1.0.0.4", kGoodLocation, kGoodCommand, "PACKAGE", L"1.0.0.5", 1,
       "not above the previous release's 1005"},
      {"equal to the previous", "1.0.0.5", kGoodLocation, kGoodCommand, "PACKAGE", L"1.0.0.5", 1,
       "not above the previous release's 1005"},
      {"field carries", "1.0.0.10", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "compares as 1.0.1.0"},
      {"signed field", "-1.0.0.0", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "carries into another"},
      {"three numbers", "1.2.3", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "fewer than four numbers"},
      {"no version", "", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "no Version"},
      {"version of 63", longVersion, kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 0, "Version number 1006"},
      {"version of 64", longVersion + "b", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1,
       "64 characters or more is refused"},
      {"ftp location", "1.0.0.6", "ftp://download.orvane.com/vrel_setup.exe", kGoodCommand, "PACKAGE", nullptr, 1,
       "not an http:// or https:// address"},
      {"file location", "1.0.0.6", "file:///C:/Windows/notepad.exe", kGoodCommand, "PACKAGE", nullptr, 1,
       "(refused)"},
      {"no location", "1.0.0.6", "", kGoodCommand, "PACKAGE", nullptr, 1, "no Location"},
      {"location of 1023", "1.0.0.6", longLocation, kGoodCommand, "PACKAGE", nullptr, 0, "(accepted)"},
      {"location of 1024", "1.0.0.6", tooLongLocation, kGoodCommand, "PACKAGE", nullptr, 1,
       "Location of 1024 characters or more"},
      {"bare /S", "1.0.0.6", kGoodLocation, "/S", "PACKAGE", nullptr, 1, "begins with a switch"},
      {"switch after blanks", "1.0.0.6", kGoodLocation, "\"\" /S", "PACKAGE", nullptr, 0, "(5 of at most"},
      {"instconfig of 127", "1.0.0.6", kGoodLocation, fullCommand, "PACKAGE", nullptr, 0, "(127 of at most 127"},
      {"instconfig of 128", "1.0.0.6", kGoodLocation, fullCommand + "x", "PACKAGE", nullptr, 1,
       "InstConfig does not fit"},
      {"no instconfig", "1.0.0.6", kGoodLocation, "", "PACKAGE", nullptr, 0, "its own path"},
      {"no sha256", "1.0.0.6", kGoodLocation, kGoodCommand, "", nullptr, 0, "not pinned"},
      {"neither sha256 nor size", "1.0.0.6", kGoodLocation, kGoodCommand, "", nullptr, 0,
       "WARNING: neither Sha256 nor Size: a package sent without a length cannot be checked"},
      {"size of the package", "1.0.0.6", kGoodLocation, kGoodCommand, "", nullptr, 0,
       "Size        14 bytes\n              matches the package", false, "14"},
      {"other size", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "the package's is 14\n", false,
       "15"},
      {"size not decimal", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "Size is not a decimal",
       false, "0x0E"},
      {"size beyond 32 bits", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1, "Size is not a decimal",
       false, "4294967310"},
      {"malformed sha256", "1.0.0.6", kGoodLocation, kGoodCommand, "abc", nullptr, 1, "not 64 hexadecimal"},
      {"other sha256", "1.0.0.6", kGoodLocation, kGoodCommand, std::string(64, 'a'), nullptr, 1,
       "does not match the package"},
      // As the README writes it; a bare name given to the profile functions means the Windows folder.
      {"relative paths", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", L"1.0.0.5", 0, "matches the package",
       true},
      // A build with a public key bounds the package by Size as well as pinning it by Sha256.
      {"signed with Sha256 and Size", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 0,
       "signature verified", false, "14", true},
      {"signed without Size", "1.0.0.6", kGoodLocation, kGoodCommand, "PACKAGE", nullptr, 1,
       "PROBLEM: no Size: a build with a public key downloads nothing", false, "", true},
  };
  const std::wstring keyPath = dir_.file(L"info.key");
  std::wstring keygenReport;
  ASSERT_EQ(kCheckPassed, KeygenCommand(keyPath.c_str(), Output{Collect, &keygenReport})) << Narrow(keygenReport);
  const std::wstring marker = L"-DPLINTHWARE_INFO_PUBLIC_KEY=";
  const size_t keyAt = keygenReport.find(marker) + marker.size();
  const std::wstring publicKey = keygenReport.substr(keyAt, keygenReport.find(L'\n', keyAt) - keyAt);
  wchar_t folder[MAX_PATH] = {};
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, folder));
  for (const Row& row : rows) {
    std::string section = Values(row.version, row.location, row.instConfig, Digest(row.sha256), row.size);
    std::wstring info = Write(Section("platform_win8", section) + Section("platform_win7", section));
    std::wstring signReport;
    if (row.signedWithKey) {
      ASSERT_EQ(kCheckPassed, SignCommand(info.c_str(), keyPath.c_str(), Output{Collect, &signReport}))
          << Narrow(signReport);
    }
    if (row.relative) {
      ASSERT_TRUE(SetCurrentDirectoryW(dir_.path().c_str()));
    }
    CheckRun run = row.relative ? Check(L"vrel_info.ini", L"vrel_setup.exe", row.previous)
                                : Check(info, package_.c_str(), row.previous,
                                        row.signedWithKey ? publicKey.c_str() : nullptr);
    SetCurrentDirectoryW(folder);
    std::string report = Narrow(run.report);
    EXPECT_EQ(row.code, run.code) << row.name << "\n" << report;
    EXPECT_NE(std::string::npos, report.find(row.expected)) << row.name << ": no \"" << row.expected << "\" in\n"
                                                            << report;
    // Each problem is counted once per section it is in: both sections here carry it.
    if (row.code == 1) {
      EXPECT_NE(std::string::npos, report.find("2 problem(s)")) << row.name << "\n" << report;
    }
  }
}

TEST_F(InfoCheckTest, ChecksEverySectionAndOnlyTheFourPlatforms) {
  std::string good = Values("1.0.0.6", kGoodLocation, kGoodCommand, digest_);
  std::string bad = Values("1.0.0.6", kGoodLocation, "/S", digest_);
  // A problem in the last section counts; an unknown section is not read at all.
  CheckRun run = Check(Write(Section("platform_win8", good) + Section("platform_winxp", bad) + Section("other", "/S")),
                  package_.c_str());
  EXPECT_EQ(1, run.code) << Narrow(run.report);
  EXPECT_NE(std::wstring::npos, run.report.find(L"1 problem(s)")) << Narrow(run.report);
  EXPECT_NE(std::wstring::npos, run.report.find(L"[platform_win7]\n  (absent")) << Narrow(run.report);

  // Only some platforms served is fine; none at all is not.
  EXPECT_EQ(0, Check(Write(Section("platform_win7", good))).code);
  CheckRun none = Check(Write(Section("platform_other", good)));
  EXPECT_EQ(1, none.code) << Narrow(none.report);
  EXPECT_NE(std::wstring::npos, none.report.find(L"no Platform section")) << Narrow(none.report);
}

TEST_F(InfoCheckTest, WithoutAPackageShowsNoMatchAndWithAKeyRequiresSha256) {
  std::wstring pinned = Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, digest_)));
  CheckRun run = Check(pinned);
  EXPECT_EQ(0, run.code) << Narrow(run.report);
  EXPECT_EQ(std::wstring::npos, run.report.find(L"matches")) << Narrow(run.report);

  std::wstring unpinned = Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, "")));
  CheckRun hinted = Check(unpinned, package_.c_str());
  EXPECT_EQ(0, hinted.code);
  EXPECT_NE(std::wstring::npos, hinted.report.find(L"would be " + Widen(digest_))) << Narrow(hinted.report);
}

TEST_F(InfoCheckTest, RefusesWhatItCannotRead) {
  std::wstring info = Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, "")));
  EXPECT_EQ(kCheckUsage, Check(dir_.file(L"missing.ini")).code);
  EXPECT_EQ(kCheckUsage, Check(info, dir_.file(L"missing.exe").c_str()).code);
  CheckRun previous = Check(info, nullptr, L"1.0");
  EXPECT_EQ(kCheckUsage, previous.code);
  EXPECT_NE(std::wstring::npos, previous.report.find(L"not a version")) << Narrow(previous.report);
}


// keygen into `path`; returns the public key it printed.
std::wstring MakeKey(const std::wstring& path) {
  std::wstring report;
  Output out = {Collect, &report};
  if (KeygenCommand(path.c_str(), out) != kCheckPassed) return L"";
  const std::wstring marker = L"-DPLINTHWARE_INFO_PUBLIC_KEY=";
  size_t at = report.find(marker);
  if (at == std::wstring::npos) return L"";
  return report.substr(at + marker.size(), report.find(L'\n', at) - at - marker.size());
}

// check, with or without the key, prints the [info] section's Expires and Serial, warns of an
// expiry less than a week away or past, and counts what a build with the key refuses.
TEST_F(InfoCheckTest, ReportsExpiresAndSerial) {
  std::wstring keyPath = dir_.file(L"info.key");
  std::wstring publicKey = MakeKey(keyPath);
  ASSERT_EQ(88u, publicKey.size());
  const std::string platform =
      Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, digest_, "48213"));
  const std::string in30 = ExpiresIn(30), in3 = ExpiresIn(3), ago2 = ExpiresIn(-2);
  const struct {
    const char* name;
    std::string info; // the [info] section's lines; empty: no section
    bool keyed;       // checked with --public-key (the file signed, its own keys kept)
    int code;
    std::string expected;
    std::string absent; // a text the report must not hold
  } rows[] = {
      {"no section", "", false, 0,
       "[info]\n  Expires     (none: a build with the key accepts this file for ever)\n"
       "  Serial      (none: a build with the key accepts an older signed file in its place)\n",
       "WARNING"},
      {"a month left", "Expires=" + in30 + "\r\nSerial=7\r\n", false, 0,
       "  Expires     " + in30 + " (in 29 days 23 hours)\n  Serial      7\n", "WARNING"},
      {"a month left, signed", "Expires=" + in30 + "\r\nSerial=7\r\n", true, 0, "  Serial      8\n", "WARNING"},
      {"three days left", "Expires=" + in3 + "\r\n", false, 0,
       "  WARNING: Expires is less than a week away: re-sign and publish the file before then", "PROBLEM"},
      {"past", "Expires=" + ago2 + "\r\n", false, 0,
       "  Expires     " + ago2 + " (past, 2 days ago)\n  WARNING: Expires is past: a build with the key refuses",
       "PROBLEM"},
      {"past, with the key", "Expires=" + ago2 + "\r\n", true, 1,
       "  PROBLEM: Expires is past: a build with the key refuses the file", "WARNING"},
      {"malformed expiry", "Expires=" + in30.substr(0, 10) + "\r\n", false, 1,
       "  Expires     " + in30.substr(0, 10) + "\n  PROBLEM: Expires is not a UTC time", "WARNING"},
      {"malformed serial", "Serial=1.5\r\n", false, 1,
       "  Serial      1.5\n  PROBLEM: Serial is not a decimal number from 0 to 18446744073709551615", "WARNING"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring info = Write(platform + (row.info.empty() ? "" : "[info]\r\n" + row.info));
    if (row.keyed) {
      std::wstring signing;
      Output out = {Collect, &signing};
      ASSERT_EQ(kCheckPassed, SignCommand(info.c_str(), keyPath.c_str(), out)) << Narrow(signing);
    }
    CheckRun run = Check(info, nullptr, nullptr, row.keyed ? publicKey.c_str() : nullptr);
    std::string report = Narrow(run.report);
    EXPECT_EQ(row.code, run.code) << report;
    EXPECT_NE(std::string::npos, report.find(row.expected)) << "no \"" << row.expected << "\" in\n" << report;
    EXPECT_EQ(std::string::npos, report.find(row.absent)) << report;
  }
}

// sign writes Serial always (the file's own plus one, or as given) and Expires with --expires, in
// the [info] section, where the signature covers them; verify prints both.
TEST_F(InfoCheckTest, SignWritesExpiresAndSerialUnderTheSignature) {
  std::wstring keyPath = dir_.file(L"info.key");
  std::wstring publicKey = MakeKey(keyPath);
  ASSERT_EQ(88u, publicKey.size());
  const std::string platform = "[platform_win8]\r\nVersion=1.0.0.6\r\n";
  const std::string lfPlatform = "[platform_win8]\nVersion=1.0.0.6\n";
  const std::string ago2 = ExpiresIn(-2);
  const struct {
    const char* name;
    std::string before;     // the file before signing
    SignOptions options;
    int code;               // of sign
    std::string after;      // the signed part after signing (the file unchanged when sign refuses);
                            // EXPIRES: 30 days from the signing
    int verified;           // verify's exit code afterwards
  } rows[] = {
      {"no section: the first serial", platform, {0, nullptr}, kCheckPassed, platform + "[info]\r\nSerial=1\r\n",
       kCheckPassed},
      {"the serial raised", platform + "[info]\r\nSerial=41\r\n", {0, nullptr}, kCheckPassed,
       platform + "[info]\r\nSerial=42\r\n", kCheckPassed},
      {"the serial given", platform + "[info]\r\nSerial=41\r\n", {0, L"100"}, kCheckPassed,
       platform + "[info]\r\nSerial=100\r\n", kCheckPassed},
      {"a lower serial given", platform + "[info]\r\nSerial=41\r\n", {0, L"40"}, kCheckUsage,
       platform + "[info]\r\nSerial=41\r\n", kCheckProblems},
      {"the largest serial cannot be raised", platform + "[info]\r\nSerial=18446744073709551615\r\n", {0, nullptr},
       kCheckUsage, platform + "[info]\r\nSerial=18446744073709551615\r\n", kCheckProblems},
      {"a malformed serial cannot be raised", platform + "[info]\r\nSerial=x\r\n", {0, nullptr}, kCheckUsage,
       platform + "[info]\r\nSerial=x\r\n", kCheckProblems},
      {"expires in 30 days", platform, {30, nullptr}, kCheckPassed,
       platform + "[info]\r\nExpires=EXPIRES\r\nSerial=1\r\n", kCheckPassed},
      {"keys replaced in place, others kept",
       "; note\r\n[INFO]\r\nnote=1\r\n serial = 9\r\nExpires=" + ago2 + "\r\n" + platform, {30, nullptr},
       kCheckPassed, "; note\r\n[INFO]\r\nnote=1\r\nSerial=10\r\nExpires=EXPIRES\r\n" + platform, kCheckPassed},
      {"keys put below the section's name", "[info]\r\n" + platform, {30, nullptr}, kCheckPassed,
       "[info]\r\nExpires=EXPIRES\r\nSerial=1\r\n" + platform, kCheckPassed},
      {"line feeds only", lfPlatform, {30, nullptr}, kCheckPassed, lfPlatform + "[info]\nExpires=EXPIRES\nSerial=1\n",
       kCheckPassed},
      {"its own past expiry kept: verify refuses", platform + "[info]\r\nExpires=" + ago2 + "\r\n", {0, nullptr},
       kCheckPassed, platform + "[info]\r\nSerial=1\r\nExpires=" + ago2 + "\r\n", kCheckProblems},
      {"a malformed expiry is not kept", platform + "[info]\r\nExpires=soon\r\n", {0, nullptr}, kCheckUsage,
       platform + "[info]\r\nExpires=soon\r\n", kCheckProblems},
      {"no expiry beyond ten years", platform, {kMaxExpiresDays + 1, nullptr}, kCheckUsage, platform, kCheckProblems},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::wstring info = Write(row.before);
    std::wstring report;
    Output out = {Collect, &report};
    const std::string earliest = ExpiresIn(30);
    ASSERT_EQ(row.code, SignCommand(info.c_str(), keyPath.c_str(), row.options, out)) << Narrow(report);
    EXPECT_EQ(row.code == kCheckPassed, report.find(L"[info]\n  Expires     ") != std::wstring::npos) << Narrow(report);
    const std::string latest = ExpiresIn(30);
    std::string bytes = testing_support::ReadBytes(info);
    std::string after = row.after;
    size_t placeholder = after.find("EXPIRES");
    if (placeholder != std::string::npos) {
      // The same form orders as its time does.
      std::string written = bytes.substr(bytes.find("Expires=") + 8, earliest.size());
      EXPECT_TRUE(earliest <= written && written <= latest) << written << " not from " << earliest << " to " << latest;
      after.replace(placeholder, 7, written);
    }
    size_t signature = bytes.rfind("; signature=");
    EXPECT_EQ(after, bytes.substr(0, signature)) << bytes;
    if (row.code == kCheckPassed) {
      EXPECT_EQ(bytes.size(), signature + 12 + 88 + 2) << "not one signature line at the end";
    }
    std::wstring verified;
    Output verifyOut = {Collect, &verified};
    EXPECT_EQ(row.verified, VerifyCommand(info.c_str(), publicKey.c_str(), verifyOut)) << Narrow(verified);
    bool printed = verified.find(L"[info]\n  Expires     ") != std::wstring::npos;
    EXPECT_EQ(row.code == kCheckPassed, printed) << Narrow(verified);
  }

  // The signature covers both: another day, or a serial raised by hand, no longer verifies.
  std::wstring info = Write(platform);
  std::wstring report;
  Output out = {Collect, &report};
  SignOptions month = {30, nullptr};
  ASSERT_EQ(kCheckPassed, SignCommand(info.c_str(), keyPath.c_str(), month, out)) << Narrow(report);
  const std::string good = testing_support::ReadBytes(info);
  std::string later = good, higher = good;
  size_t day = later.find("Expires=") + 8 + 9; // the day's second digit
  later[day] = later[day] == '9' ? '8' : static_cast<char>(later[day] + 1);
  higher.replace(higher.find("Serial=1"), 8, "Serial=2");
  for (const std::string& changed : {later, higher}) {
    ASSERT_TRUE(WriteBytes(info, changed));
    std::wstring verified;
    Output verifyOut = {Collect, &verified};
    EXPECT_EQ(kCheckProblems, VerifyCommand(info.c_str(), publicKey.c_str(), verifyOut)) << changed;
    EXPECT_NE(std::wstring::npos, verified.find(L"the signature does not verify")) << Narrow(verified);
  }
}

// Starts InfoCheck.exe with `arguments`, returns its exit code and its standard output.
CheckRun RunProgram(const std::wstring& arguments) {
  CheckRun run = {-1, L""};
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring program = testing_support::ProgramFolder() + L"\\InfoCheck.exe";
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return run;
  }
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, 30000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  run.code = static_cast<int>(code);
  run.report = Widen(bytes);
  return run;
}

std::wstring FromEnvironment(const wchar_t* name) {
  wchar_t value[4096] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? std::wstring(L"Z:") + value : std::wstring();
}

// The test packages (tools/package) signed with the test leaves (tools/certs), under the test root
// trusted in this prefix; the root-not-trusted row takes it out again.
TEST_F(InfoCheckTest, NamesThePackagesSignerAndWhetherAPinnedBuildTakesIt) {
  std::wstring certs = FromEnvironment(L"PLINTHWARE_TEST_CERTS_DIR");
  std::wstring packages = FromEnvironment(L"PLINTHWARE_PACKAGES_DIR");
  // make dist's updater, signed with the publisher's certificate (tests/dist).
  std::wstring release = FromEnvironment(L"PLINTHWARE_SIGNED_RELEASE_DIR") + L"\\PlinthwareUpdater.exe";
  if (certs.empty()) GTEST_SKIP() << "no test certificates (openssl or osslsigncode was missing at build time)";
  ASSERT_FALSE(packages.empty()) << "PLINTHWARE_PACKAGES_DIR is not set";
  for (wchar_t& c : certs) c = c == L'/' ? L'\\' : c;
  for (wchar_t& c : packages) c = c == L'/' ? L'\\' : c;
  for (wchar_t& c : release) c = c == L'/' ? L'\\' : c;
  testing_support::ScopedTrustedRoot root(certs + L"\\root.der");
  ASSERT_TRUE(root.trusted());
  std::wstring info = Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, "")));
  const wchar_t kPin[] = L"Plinthware Test Publisher";
  // The publisher's key hash, as make_certs.sh wrote it for the pinned test builds.
  std::string keys = testing_support::ReadBytes(certs + L"\\publisher_keys.h");
  std::wstring publisherKey = Widen(keys.substr(keys.find("L\"") + 2, kSha256TextChars));
  const struct {
    const char* name;
    const wchar_t* package;  // in the packages folder, or a full path
    const wchar_t* publisher;
    bool rootTrusted;
    int code;
    const wchar_t* signer;   // the "Package signer" line's name
    const wchar_t* verdict;  // a line of the report
  } rows[] = {
      {"the pinned publisher", L"vrel_setup_1.0.0.6_publisher.exe", kPin, true, 0, kPin,
       L"signature verified, the publisher \"Plinthware Test Publisher\" matches"},
      {"another publisher", L"vrel_setup_1.0.0.6_other.exe", kPin, true, 1, L"Other Test Publisher",
       L"other publisher (0x800B010F)"},
      {"the name in other case", L"vrel_setup_1.0.0.6_publisher.exe", L"plinthware test publisher", true, 1, kPin,
       L"other publisher (0x800B010F)"},
      {"a prefix of the name", L"vrel_setup_1.0.0.6_publisher.exe", L"Plinthware Test", true, 1, kPin,
       L"other publisher (0x800B010F)"},
      {"the release's updater", release.c_str(), kPin, true, 0, kPin,
       L"signature verified, the publisher \"Plinthware Test Publisher\" matches"},
      {"unsigned", L"vrel_setup_1.0.0.6.exe", kPin, true, 1, L"(none)", L"no signature (0x800B0100)"},
      {"expired leaf", L"vrel_setup_1.0.0.6_expired.exe", kPin, true, 1, kPin, L"expired (0x800B0101)"},
      {"root not trusted", L"vrel_setup_1.0.0.6_publisher.exe", kPin, false, 1, kPin,
       L"untrusted chain (0x800B010A)"},
  };
  for (const auto& row : rows) {
    // Each row is a program of its own: a process reads the Root store once.
    if (!row.rootTrusted) {
      ASSERT_TRUE(root.Untrust());
    }
    std::wstring package = row.package[1] == L':' ? row.package : packages + L"\\" + row.package;
    CheckRun run = RunProgram(L"\"" + info + L"\" --package \"" + package + L"\" --publisher \"" + row.publisher + L"\"");
    std::string report = Narrow(run.report);
    EXPECT_EQ(row.code, run.code) << row.name << "\n" << report;
    EXPECT_NE(std::wstring::npos, run.report.find(std::wstring(L"Package signer  ") + row.signer + L"\n"))
        << row.name << "\n" << report;
    EXPECT_NE(std::wstring::npos, run.report.find(row.verdict)) << row.name << "\n" << report;
    if (row.code == 0) {
      EXPECT_NE(std::wstring::npos, run.report.find(L"Signer key      " + publisherKey + L"\n")) << report;
    }
  }
}

TEST_F(InfoCheckTest, TheProgramReportsOnStandardOutputAndExitsWithTheVerdict) {
  std::wstring info = Write(Section("platform_win8", Values("1.0.0.4", kGoodLocation, "/S", digest_)));
  CheckRun bad = RunProgram(L"\"" + info + L"\" --package \"" + package_ + L"\" --previous 1.0.0.5");
  EXPECT_EQ(1, bad.code) << Narrow(bad.report);
  EXPECT_NE(std::wstring::npos, bad.report.find(L"begins with a switch")) << Narrow(bad.report);
  EXPECT_NE(std::wstring::npos, bad.report.find(L"not above the previous")) << Narrow(bad.report);
  EXPECT_NE(std::wstring::npos, bad.report.find(L"matches the package")) << Narrow(bad.report);

  Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, digest_)));
  CheckRun good = RunProgram(L"\"" + info + L"\" --previous 1.0.0.5");
  EXPECT_EQ(0, good.code) << Narrow(good.report);
  EXPECT_NE(std::wstring::npos, good.report.find(L"accepted\n")) << Narrow(good.report);

  EXPECT_EQ(kCheckUsage, RunProgram(L"").code);
  EXPECT_EQ(kCheckUsage, RunProgram(L"\"" + info + L"\" --unknown").code);
  // A publisher is a property of the package: without --package it has nothing to check.
  EXPECT_EQ(kCheckUsage, RunProgram(L"\"" + info + L"\" --publisher \"Plinthware Test Publisher\"").code);
  // sign's options as the program takes them.
  std::wstring keyPath = dir_.file(L"program.key");
  ASSERT_EQ(88u, MakeKey(keyPath).size());
  const std::wstring sign = L"sign \"" + info + L"\" \"" + keyPath + L"\"";
  const struct {
    const wchar_t* options;
    int code;
    const char* serial; // the Serial line written, or null when nothing was signed
  } signs[] = {
      {L"", 0, "Serial=1\r\n"},
      {L" --expires 30 --serial 12", 0, "Serial=12\r\n"},
      {L" --expires 0", kCheckUsage, nullptr},
      {L" --expires 3651", kCheckUsage, nullptr},
      {L" --expires 30 --expires 30", kCheckUsage, nullptr},
      {L" --expires", kCheckUsage, nullptr},
      {L" --days 30", kCheckUsage, nullptr},
  };
  for (const auto& row : signs) {
    Write(Section("platform_win8", Values("1.0.0.6", kGoodLocation, kGoodCommand, digest_)));
    CheckRun run = RunProgram(sign + row.options);
    EXPECT_EQ(row.code, run.code) << Narrow(row.options) << "\n" << Narrow(run.report);
    std::string bytes = testing_support::ReadBytes(info);
    EXPECT_EQ(row.serial != nullptr, bytes.find("; signature=") != std::string::npos) << Narrow(row.options);
    if (row.serial) {
      EXPECT_NE(std::string::npos, bytes.find(row.serial)) << Narrow(row.options) << "\n" << bytes;
    }
  }
  CheckRun unsigned_ = RunProgram(L"\"" + info + L"\" --package \"" + package_ + L"\" --publisher \"Plinthware\"");
  EXPECT_EQ(1, unsigned_.code) << Narrow(unsigned_.report);
  EXPECT_NE(std::wstring::npos, unsigned_.report.find(L"deletes the package unrun: no signature"))
      << Narrow(unsigned_.report);
}

} // namespace
