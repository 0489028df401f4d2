// Signed Info files end to end: PlinthwareUpdaterSigned.exe (built with the test-only public key)
// against the test web server (fixture `http_server`) and the real NSIS packages. A file signed
// with the test-only key installs the package it pins by Sha256 and bounds by Size; every other
// file ends in a box at once with no package run; the default build reads the same signed file as
// any other. An expired file, or one whose Serial is below the highest this user accepted, is
// refused as well.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "info_report.h"
#include "info_signing.h"
#include "package/package_record.h"
#include "info/info_signature.h"

namespace {

using e2e::kNetworkError;
using e2e::kInstallFailed;
using e2e::kInstalledText;
using e2e::kAtOnceMs;

using e2e::FromEnvironment;
using e2e::TempFile;
using e2e::PackageFile;

using testing_support::ExpiresIn;
using testing_support::ReadBytes;
using testing_support::WriteBytes;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
// Where the updater keeps the highest serial accepted, named here as users and admins see it.
const wchar_t kUpdaterUserKey[] = L"Software\\Orvane\\Plinthware Updater";
const char kPackagePath[] = "/e2e-tests/vrel_setup.exe";

// Wine reports Windows 7 (6.1 workstation) when no version is set for the program. An empty
// value leaves its key out.
std::string InfoFile(const std::string& sha256, const std::string& size) {
  std::string text = std::string("[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com") +
                     kPackagePath + "\r\nInstConfig=vrel_setup.exe /S\r\n";
  if (!sha256.empty()) text += "Sha256=" + sha256 + "\r\n";
  if (!size.empty()) text += "Size=" + size + "\r\n";
  return text;
}

// The length of the file at `path` as a Size value; empty when it cannot be read.
std::string SizeOf(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  return bytes.empty() ? std::string() : std::to_string(bytes.size());
}

void Collect(void* context, const wchar_t* text) { *static_cast<std::wstring*>(context) += text; }

// The signature line for `bytes` by the private key file `keyPath`, through InfoCheck's own
// pieces: InfoCheck sign itself refuses to sign a file beyond 1 MiB.
std::string SignatureLine(const std::string& bytes, const std::wstring& keyPath) {
  BYTE key[kPrivateKeyBytes] = {};
  BYTE signature[kSignatureBytes] = {};
  char text[kSignatureChars + 1] = {};
  if (!ReadPrivateKeyFile(keyPath.c_str(), key) ||
      !SignP256(key, reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), signature) ||
      !EncodeBase64(signature, kSignatureBytes, text, sizeof text))
    return std::string();
  return std::string(kSignaturePrefix) + text + "\r\n";
}

class SignedInfo : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no test web server (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_FALSE(PackageFile(L"vrel_setup_1.0.0.6.exe").empty()) << "PLINTHWARE_PACKAGES_DIR is not set";
    ASSERT_FALSE(defaultUpdater_.empty()) << "PLINTHWARE_DEFAULT_UPDATER_EXE is not set";
    ASSERT_FALSE(testKey_.empty()) << "PLINTHWARE_TEST_INFO_KEY_FILE is not set";
    ASSERT_EQ(64u, package_.size()) << "cannot hash the package";
    ASSERT_FALSE(size6_.empty() || size7_.empty()) << "cannot read the packages";
    ASSERT_TRUE(e2e::RemoveCompanion());
    ASSERT_TRUE(installed_.set());
    e2e::DeleteInstallMarker();
    // Every file sign writes carries a Serial: no test meets the serial another one left.
    testing_support::DeleteRegistryTree(HKEY_CURRENT_USER, kUpdaterUserKey);
  }
  void TearDown() override { testing_support::DeleteRegistryTree(HKEY_CURRENT_USER, kUpdaterUserKey); }

  // InfoCheck sign on `text` with `keyPath`; returns the signed bytes.
  std::string Signed(const std::string& text, const std::wstring& keyPath) {
    std::wstring path = folder_.file(L"vrel_info.ini");
    EXPECT_TRUE(WriteBytes(path, text));
    std::wstring report;
    Output out = {Collect, &report};
    EXPECT_EQ(kCheckPassed, SignCommand(path.c_str(), keyPath.c_str(), out)) << driver::Utf8(report);
    return ReadBytes(path);
  }

  // Clears what an earlier run left, starts `program` with the package run record, waits for
  // the Offer and presses Download Now. Returns the tick of the press.
  DWORD StartDownload(driver::UpdaterProcess& updater, const std::wstring& program) {
    DeleteFileW(record_.c_str());
    DeleteFileW(TempFile(L"vrel_setup.exe").c_str());
    DeleteFileW(TempFile(L"vrel_info").c_str());
    e2e::DeleteInstallMarker();
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(L"");
    options.program = program;
    options.environment.push_back({package_record::kRecordVariable, record_, false});
    EXPECT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    EXPECT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
    DWORD pressed = GetTickCount();
    EXPECT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
    return pressed;
  }

  e2e::ServedFiles served_;
  e2e::ScopedInstalledVersion installed_{L"1.0.0.0"};
  testing_support::TempDir folder_;
  std::wstring record_ = folder_.file(L"package_record.txt");
  std::wstring defaultUpdater_ = FromEnvironment(L"PLINTHWARE_DEFAULT_UPDATER_EXE");
  std::wstring testKey_ = FromEnvironment(L"PLINTHWARE_TEST_INFO_KEY_FILE");
  std::string package_ = e2e::Sha256Hex(PackageFile(L"vrel_setup_1.0.0.6.exe"));
  std::string size6_ = SizeOf(PackageFile(L"vrel_setup_1.0.0.6.exe"));
  std::string size7_ = SizeOf(PackageFile(L"vrel_setup_1.0.0.7.exe"));
};

// keygen's key file holds X || Y || d: the public key is its first 64 bytes.
std::wstring PublicKeyOf(const std::wstring& keyPath) {
  BYTE key[kPrivateKeyBytes] = {};
  char text[kSignatureChars + 1] = {};
  if (!ReadPrivateKeyFile(keyPath.c_str(), key) || !EncodeBase64(key, kPublicKeyBytes, text, sizeof text)) return L"";
  return std::wstring(text, text + strlen(text));
}

// The round trip: InfoCheck signs and verifies, the signed build installs, and so does the
// default build, for which the signature line is one more INI comment.
TEST_F(SignedInfo, ASignedFilePinningItsPackageInstallsWithEitherBuild) {
  std::string info = Signed(InfoFile(package_, size6_), testKey_);
  ASSERT_EQ(0u, info.find(InfoFile(package_, size6_))) << info;
  {
    std::wstring path = folder_.file(L"check.ini");
    ASSERT_TRUE(WriteBytes(path, info));
    std::wstring report;
    Output out = {Collect, &report};
    EXPECT_EQ(kCheckPassed, VerifyCommand(path.c_str(), PublicKeyOf(testKey_).c_str(), out)) << driver::Utf8(report);
  }
  ASSERT_TRUE(served_.Serve(kInfoPath, info));
  ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(L"vrel_setup_1.0.0.6.exe")));

  struct Build {
    const char* name;
    std::wstring program;
  };
  const Build builds[] = {{"signed build", e2e::UpdaterPath()}, {"default build", defaultUpdater_}};
  for (const Build& build : builds) {
    SCOPED_TRACE(build.name);
    // The package of the row before has installed 1.0.0.6.
    e2e::ScopedInstalledVersion installed(L"1.0.0.0");
    ASSERT_TRUE(installed.set());
    driver::UpdaterProcess updater;
    StartDownload(updater, build.program);
    ASSERT_TRUE(updater.WaitForControlText(driver::kStatusLink, kInstalledText, e2e::kShowMs))
        << "no restart offer\n" << updater.Describe();
    std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
    ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
    EXPECT_EQ(L"vrel_setup.exe /S", runs[0].commandLine);
    EXPECT_EQ(L"1.0.0.6", runs[0].packageVersion);
    EXPECT_TRUE(runs[0].silent);
    EXPECT_TRUE(runs[0].wroteVersion);
    EXPECT_EQ(0, runs[0].exitCode);
    EXPECT_EQ(info, ReadBytes(TempFile(L"vrel_info"))) << "the Info file kept is not the one served";
    ASSERT_TRUE(driver::PressButton(updater.UpdaterDialog(), driver::kRestartLater));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(updater.DebugMessages(), false));
    driver::RegistryValue marker = e2e::ReadInstallMarker();
    EXPECT_TRUE(marker.exists && marker.type == REG_DWORD && marker.dword == 1) << "no install marker";
  }
}

// The InfoSerial value: its number, or -1 when there is none, -2 when it is no REG_QWORD.
LONGLONG KeptSerial() {
  ULONGLONG value = 0;
  DWORD type = REG_NONE, size = sizeof value;
  LONG result = RegGetValueW(HKEY_CURRENT_USER, kUpdaterUserKey, L"InfoSerial", RRF_RT_ANY, &type, &value, &size);
  if (result == ERROR_FILE_NOT_FOUND) return -1;
  if (result != ERROR_SUCCESS || type != REG_QWORD || size != sizeof value) return -2;
  return static_cast<LONGLONG>(value);
}


// One Info file after another as a user meets them, in Update mode with the offered version
// installed: a file accepted ends in "You are using the latest version.", a refused one in the
// network-error box at once. The serial kept (HKCU) changes only when a file with a higher one
// has been judged good and its values read; a build without the key reads neither key.
TEST_F(SignedInfo, AnExpiredOrReplayedFileIsRefusedAndOnlyAnAcceptedSerialIsKept) {
  e2e::ScopedInstalledVersion installed(L"1.0.0.6");
  ASSERT_TRUE(installed.set());
  const std::string tomorrow = ExpiresIn(1), yesterday = ExpiresIn(-1);
  const wchar_t kLatestVersion[] = L"You are using the latest version.";
  const std::string expired = "Info file refused: expired at " + yesterday + ", the clock says ";
  const struct {
    const char* name;
    bool signedBuild;
    bool platform;     // the file has its platform section
    std::string info;  // the [info] section's lines, signed as they are; empty: no section
    const char* output; // the start of a refusal's debugger line, or null: accepted
    LONGLONG kept;      // InfoSerial afterwards (-1: none, -2: no REG_QWORD)
    bool passedOver = false; // the value, no REG_QWORD, is named as unreadable
    bool tampered = false;   // its last digit changed after signing
  } rows[] = {
      {"no keys", true, true, "", nullptr, -2},
      {"unexpired, serial 5", true, true, "Expires=" + tomorrow + "\r\nSerial=5\r\n", nullptr, 5, true},
      {"serial 5 again", true, true, "Serial=5\r\n", nullptr, 5},
      {"serial 4: a replay", true, true, "Serial=4\r\n", "Info file refused: Serial 4 is below 5, the highest accepted",
       5},
      {"expired, serial 6", true, true, "Expires=" + yesterday + "\r\nSerial=6\r\n", expired.c_str(), 5},
      {"malformed expiry, serial 6", true, true, "Expires=" + tomorrow.substr(0, 19) + "\r\nSerial=6\r\n",
       "Info file refused: Expires is not a UTC time", 5},
      {"serial 7, signed as 6", true, true, "Serial=6\r\n", "Info file refused: the signature does not verify", 5, false,
       true},
      {"serial 6 without a platform section", true, false, "Serial=6\r\n", "Info file refused: no platform section", 5},
      {"default build: expired, serial 3", false, true, "Expires=" + yesterday + "\r\nSerial=3\r\n", nullptr, 5},
      {"serial 6", true, true, "Expires=" + tomorrow + "\r\nSerial=6\r\n", nullptr, 6},
  };
  // A value that is no serial of ours is passed over (and named in the debugger output), then replaced.
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kUpdaterUserKey, L"InfoSerial", REG_SZ, L"9", 4));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text = row.platform ? InfoFile(package_, size6_) : std::string("; a page\r\n");
    if (!row.info.empty()) text += "[info]\r\n" + row.info;
    const std::string line = SignatureLine(text, testKey_);
    ASSERT_FALSE(line.empty());
    if (row.tampered) text[text.size() - 3] = '7';
    ASSERT_TRUE(served_.Serve(kInfoPath, text + line));
    DeleteFileW(TempFile(L"vrel_info").c_str());
    driver::UpdaterProcess updater;
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(L"-update");
    options.program = row.signedBuild ? e2e::UpdaterPath() : defaultUpdater_;
    ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND box = updater.WaitForMessageBox(e2e::kShowMs);
    ASSERT_NE(nullptr, box) << "no message box\n" << updater.Describe();
    EXPECT_EQ(row.output ? kNetworkError : kLatestVersion, updater.ReadMessageBox(box).text);
    ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    std::vector<std::string> messages = updater.DebugMessages();
    bool refused = false, named = false;
    for (const std::string& m : messages) {
      refused = refused || m.compare(0, 18, "Info file refused:") == 0;
      named = named || (row.output && m.compare(0, strlen(row.output), row.output) == 0);
    }
    EXPECT_EQ(row.output != nullptr, refused) << updater.Describe();
    if (row.output) {
      EXPECT_TRUE(named) << "no output \"" << row.output << "\"\n" << updater.Describe();
    }
    EXPECT_EQ(row.kept, KeptSerial());
    const char kPassedOver[] = "Info file serial: the highest accepted cannot be read (error 13); taken as none\n";
    EXPECT_EQ(row.passedOver, std::count(messages.begin(), messages.end(), kPassedOver) == 1) << updater.Describe();
    EXPECT_EQ(row.output == nullptr, testing_support::FileExists(TempFile(L"vrel_info"))) << "a refused file stays";
  }
}

struct Refusal {
  const char* name;
  std::string info;           // the Info file served
  const wchar_t* package;     // the package served, of PLINTHWARE_PACKAGES_DIR
  const char* output;         // the start of the debugger output that names the refusal
  const wchar_t* box;         // the box that ends the run
  bool packageFetched;        // the package is requested (and then refused)
  bool infoKept;              // the Info file stays in the temporary folder
  const char* fault;          // how the server sends the Info file (tools/testserver), or null
};

// Each ends as decided, at once, with the dialog hidden before its box, and nothing run. Only the
// package that does not match its Sha256 is fetched at all; it is deleted unrun. A file beyond
// 1 MiB is cut off while it arrives, with a total announced or (chunked) without one.
TEST_F(SignedInfo, EveryOtherFileEndsAtOnceWithNothingRun) {
  std::wstring otherKey = folder_.file(L"other.key");
  {
    std::wstring report;
    Output out = {Collect, &report};
    ASSERT_EQ(kCheckPassed, KeygenCommand(otherKey.c_str(), out)) << driver::Utf8(report);
  }
  const std::string pinned = InfoFile(package_, size6_);
  const std::string good = Signed(pinned, testKey_);
  const size_t line = pinned.size(); // where the signature line begins
  std::string flipped = good;
  flipped[pinned.find("1.0.0.6") + 6] ^= 0x01; // Version 1.0.0.7
  // Over 1 MiB of comments, validly signed: the size alone refuses it.
  std::string large = pinned;
  while (large.size() < 2 * 1024 * 1024) large += "; " + std::string(76, 'x') + "\r\n";
  large += SignatureLine(large, testKey_);
  ASSERT_GT(large.size(), 2u * 1024 * 1024);

  // Expired a day ago, signed as it is.
  std::string expired = pinned + "[info]\r\nExpires=" + ExpiresIn(-1) + "\r\n";
  expired += SignatureLine(expired, testKey_);
  const char kNoSignature[] = "Info file refused: no well-formed signature line";
  const char kNotVerified[] = "Info file refused: the signature does not verify";
  const char kTooLarge[] = "Info file refused: larger than 1 MiB";
  const wchar_t* p6 = L"vrel_setup_1.0.0.6.exe";
  const Refusal refusals[] = {
      {"unsigned", pinned, p6, kNoSignature, kNetworkError, false, false, nullptr},
      {"truncated signature", good.substr(0, good.size() - 6) + "\r\n", p6, kNoSignature, kNetworkError, false, false,
       nullptr},
      {"signature of another key", Signed(pinned, otherKey), p6, kNotVerified, kNetworkError, false, false, nullptr},
      {"one flipped byte", flipped, p6, kNotVerified, kNetworkError, false, false, nullptr},
      {"a line added before the signature", good.substr(0, line) + "Version=9.9.9.9\r\n" + good.substr(line), p6,
       kNotVerified, kNetworkError, false, false, nullptr},
      {"a line added after the signature", good + "Version=9.9.9.9\r\n", p6, kNoSignature, kNetworkError, false, false,
       nullptr},
      {"bytes after the signature", good + "x", p6, kNoSignature, kNetworkError, false, false, nullptr},
      {"Sha256 missing", Signed(InfoFile("", size6_), testKey_), p6, "download refused: no Sha256 for the package",
       kNetworkError, false, true, nullptr},
      // Without Size nothing bounds a package sent without a length until its end.
      {"Size missing", Signed(InfoFile(package_, ""), testKey_), p6, "download refused: no Size for the package",
       kNetworkError, false, true, nullptr},
      {"a package that does not match Sha256", Signed(InfoFile(package_, size7_), testKey_), L"vrel_setup_1.0.0.7.exe",
       "package refused: Sha256 does not match", kInstallFailed, true, true, nullptr},
      {"expired", expired, p6, "Info file refused: expired at", kNetworkError, false, false, nullptr},
      {"2 MiB", large, p6, kTooLarge, kNetworkError, false, false, nullptr},
      {"2 MiB chunked", large, p6, kTooLarge, kNetworkError, false, false, "chunked 65536 0.02"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(served_.Serve(kInfoPath, r.info));
    if (r.fault) {
      ASSERT_TRUE(served_.ServeFault(kInfoPath, r.fault));
    }
    ASSERT_TRUE(served_.ServeFile(kPackagePath, PackageFile(r.package)));
    int infoRequests = e2e::RequestCount(kInfoPath);
    int packageRequests = e2e::RequestCount(kPackagePath);
    driver::UpdaterProcess updater;
    DWORD pressed = StartDownload(updater, e2e::UpdaterPath());

    HWND box = updater.WaitForMessageBox(e2e::kShowMs);
    DWORD elapsed = GetTickCount() - pressed;
    ASSERT_NE(nullptr, box) << "no message box after " << elapsed << " ms\n" << updater.Describe();
    EXPECT_LT(elapsed, kAtOnceMs) << "the box came late";
    EXPECT_FALSE(IsWindowVisible(updater.UpdaterDialog())) << "the dialog is visible beside the box";
    driver::MessageBoxState state = updater.ReadMessageBox(box);
    EXPECT_EQ(r.box, state.text);
    EXPECT_EQ(std::vector<int>{IDOK}, state.buttons);
    EXPECT_FALSE(driver::ReadControl(updater.UpdaterDialog(), driver::kRestartNow).visible) << "a restart offer";
    ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);

    std::vector<std::string> messages = updater.DebugMessages();
    bool named = false;
    for (const std::string& m : messages) named = named || m.compare(0, strlen(r.output), r.output) == 0;
    EXPECT_TRUE(named) << "no output \"" << r.output << "\"\n" << updater.Describe();
    if (r.output == kTooLarge) {
      bool ended = false;
      for (const std::string& m : messages) ended = ended || m == "BINDSTATUS_ENDDOWNLOADDATA\n";
      EXPECT_FALSE(ended) << "the whole file was taken in\n" << updater.Describe();
    }
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(messages, false));
    EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "a refusal writes no install marker";
    EXPECT_EQ(infoRequests + 1, e2e::RequestCount(kInfoPath));
    EXPECT_EQ(packageRequests + (r.packageFetched ? 1 : 0), e2e::RequestCount(kPackagePath));
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    EXPECT_FALSE(testing_support::FileExists(TempFile(L"vrel_setup.exe"))) << "the package stays in the temporary folder";
    EXPECT_EQ(r.infoKept, testing_support::FileExists(TempFile(L"vrel_info")));
    if (r.fault) served_.ClearFault(kInfoPath);
  }
}

// What was judged is what is used: the Info file in the temporary folder deleted while the
// package downloads, replaced by one naming another package while Install and Ignore wait, or
// swapped with an unsigned one without pause from the moment it is stored, changes nothing that
// is fetched or run. The Sha256 judged with the file does not match the package served, so every
// row that gets as far as the package ends with text 15 and nothing run, in either build, and the
// other package is never requested. A swap that lands before the judgement is refused with the
// file (the network-error box); one between the judgement and the reading of the values cannot
// land while the file is held (without the hold it did in about one run in three).
TEST_F(SignedInfo, OnlyTheValuesJudgedWithTheInfoFileAreUsed) {
  const char kOtherPath[] = "/e2e-tests/other/vrel_setup.exe";
  const std::wstring served = PackageFile(L"vrel_setup_1.0.0.7.exe");
  const std::string other = e2e::Sha256Hex(served);
  ASSERT_EQ(64u, other.size());
  const std::string replacement = std::string("[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com") +
                                  kOtherPath + "\r\nInstConfig=vrel_setup.exe /S\r\nSha256=" + other + "\r\n";
  const std::wstring spare = folder_.file(L"replacement.ini");
  ASSERT_TRUE(WriteBytes(spare, replacement));
  enum Change { kDeleteWhileDownloading, kReplaceWhileOffered, kReplaceOnArrival };
  struct Row {
    const char* name;
    bool signedBuild;
    Change change;
  };
  const Row rows[] = {{"signed build, deleted while downloading", true, kDeleteWhileDownloading},
                      {"signed build, replaced while offered", true, kReplaceWhileOffered},
                      {"signed build, replaced as soon as it is stored", true, kReplaceOnArrival},
                      {"default build, deleted while downloading", false, kDeleteWhileDownloading},
                      {"default build, replaced while offered", false, kReplaceWhileOffered}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Size is the package served, so that only its Sha256 refuses it.
    const std::string info =
        row.signedBuild ? Signed(InfoFile(package_, size7_), testKey_) : InfoFile(package_, size7_);
    ASSERT_TRUE(served_.Serve(kInfoPath, info) && WriteBytes(folder_.file(L"judged.ini"), info));
    ASSERT_TRUE(served_.ServeFile(kOtherPath, served));
    ASSERT_TRUE(served_.ServeFile(kPackagePath, served));
    // Deleted while downloading: the package's first bytes, then the rest three seconds later.
    // The fault comes after the file, whose serving clears any fault.
    if (row.change == kDeleteWhileDownloading) {
      ASSERT_TRUE(served_.ServeFault(kPackagePath, "stall 4096 3"));
    }
    int packageRequests = e2e::RequestCount(kPackagePath);
    int otherRequests = e2e::RequestCount(kOtherPath);
    DeleteFileW(record_.c_str());
    DeleteFileW(TempFile(L"vrel_setup.exe").c_str());
    DeleteFileW(TempFile(L"vrel_info").c_str());
    e2e::DeleteInstallMarker();

    driver::UpdaterProcess updater;
    driver::LaunchOptions options = e2e::ServedUpdaterOptions(row.change == kReplaceWhileOffered ? L"-update" : L"");
    options.program = row.signedBuild ? e2e::UpdaterPath() : defaultUpdater_;
    options.environment.push_back({package_record::kRecordVariable, record_, false});
    ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog) << "no dialog\n" << updater.Describe();
    DWORD pressed = GetTickCount();
    if (row.change == kReplaceWhileOffered) {
      ASSERT_TRUE(driver::ReadControl(dialog, driver::kInstall).visible) << "no update offer\n" << updater.Describe();
      ASSERT_TRUE(WriteBytes(TempFile(L"vrel_info"), replacement));
      ASSERT_TRUE(driver::PressButton(dialog, driver::kInstall));
    } else if (row.change == kReplaceOnArrival) {
      ASSERT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
      // From the moment the file is there until the run ends, the unsigned replacement and the
      // file served take turns in its place as fast as they can be copied.
      int copies = 0;
      for (int turn = 0; GetTickCount() - pressed < e2e::kShowMs && (turn % 64 || !updater.VisibleMessageBox()); ++turn) {
        std::wstring from = turn % 2 ? folder_.file(L"judged.ini") : spare;
        copies += testing_support::FileExists(TempFile(L"vrel_info")) && CopyFileW(from.c_str(), TempFile(L"vrel_info").c_str(), FALSE);
      }
      ASSERT_GT(copies, 0);
    } else {
      ASSERT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));
      ASSERT_TRUE(updater.WaitUntil([&] { return e2e::RequestCount(kPackagePath) > packageRequests; }, e2e::kShowMs))
          << "the package was never requested\n" << updater.Describe();
      ASSERT_TRUE(DeleteFileW(TempFile(L"vrel_info").c_str())) << GetLastError();
    }

    HWND box = updater.WaitForMessageBox(e2e::kShowMs);
    ASSERT_NE(nullptr, box) << "no message box: the package ran\n" << updater.Describe();
    if (row.change == kDeleteWhileDownloading) {
      EXPECT_GE(GetTickCount() - pressed, 3000u) << "the package did not stall";
    }
    std::wstring text = updater.ReadMessageBox(box).text;
    bool judged = text == kInstallFailed; // else refused before its judgement: a failed download
    EXPECT_TRUE(judged || (row.change == kReplaceOnArrival && text == kNetworkError)) << driver::Utf8(text);
    ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);
    bool named = false;
    for (const std::string& m : updater.DebugMessages()) named = named || m == "package refused: Sha256 does not match\n";
    EXPECT_EQ(judged, named) << updater.Describe();
    EXPECT_EQ(packageRequests + (judged ? 1 : 0), e2e::RequestCount(kPackagePath));
    EXPECT_EQ(otherRequests, e2e::RequestCount(kOtherPath)) << "the package the changed file named was fetched";
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    EXPECT_FALSE(testing_support::FileExists(TempFile(L"vrel_setup.exe"))) << "the refused package stays";
    EXPECT_FALSE(e2e::ReadInstallMarker().exists);
    served_.ClearFault(kPackagePath);
  }
}

} // namespace
