// Both downloads end to end in-process: the real begin operations, Download thread, sink and
// Watchdog against the test server, each case under its own URL path (the Info file's address is
// fixed, so its cases take turns on that one path). What is checked: the Workflow code and when
// it comes, what lands in the temporary folder, what the dialog shows, and the debugger output.
#include <windows.h>
#include <commctrl.h>
#include <strsafe.h>

#include <string>

#include <gtest/gtest.h>

#include "app/workflow.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "download_harness.h"
#include "res/resource.h"
#include "info/info_judgement.h"
#include "info/platform.h"

using namespace download_testing;
using testing_support::DebugOutputCapture;
using testing_support::Narrow;
using testing_support::PumpUntil;
using testing_support::ReadBytes;
using testing_support::Widen;

namespace {

const DWORD kRealTimeoutMs = 20000;
const DWORD kAtOnceMs = 5000; // "at once": well inside the real timeout

enum Kinds { kInfoFile = 1, kPackage = 2, kBoth = 3 };

struct TransferCase {
  const char* name;
  int kinds;
  size_t size;         // bytes published (0: nothing published, the server answers 404)
  const char* fault;   // the sidecar text; "redirect" is completed with a target of the case
  WPARAM code;         // the one Workflow code expected
  DWORD watchdogMs;    // the timeout under which the case runs
  bool byWatchdog;     // the code comes after the timeout, not at once
  const char* output;  // debugger text expected, or ""
  const wchar_t* sizeKey = nullptr; // the Info file's Size for the package, or none
};

const TransferCase kTransferCases[] = {
    {"complete", kBoth, 5000, "", kWorkflowFinished, kRealTimeoutMs, false, ""},
    {"notPublished", kBoth, 0, "", kWorkflowFailed, kRealTimeoutMs, false, "download failed: HTTP status 404\n"},
    {"status404", kBoth, 3000, "404", kWorkflowFailed, kRealTimeoutMs, false, "download failed: HTTP status 404\n"},
    {"status500", kBoth, 3000, "500", kWorkflowFailed, kRealTimeoutMs, false, "download failed: HTTP status 500\n"},
    // The platform calls this a success with an empty file.
    {"closedWithoutAnswer", kBoth, 3000, "close", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: no HTTP response\n"},
    {"cutShort", kBoth, 5000, "cut 1000", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: 1000 of 5000 bytes stored\n"},
    // No total: the sink cannot stop the Watchdog, the Download thread must, before code 2.
    // Chunks 20 ms apart under a timeout of 2 s: far more than a loaded machine delays one.
    {"chunkedWithoutTotal", kBoth, 5000, "chunked 1000 0.02", kWorkflowFinished, 2000, false, ""},
    // Decoded on the way (a gzip body on Windows): the stored file is not as long as the total
    // announced, and the status decides. Wine's WinINet reports no total at all for a body it
    // decodes, so an encoding it passes through, announced longer than it is, stands in.
    {"contentEncoded", kBoth, 5000, "encoded 20000", kWorkflowFinished, kRealTimeoutMs, false, ""},
    {"redirectToComplete", kBoth, 4000, "redirect", kWorkflowFinished, kRealTimeoutMs, false, ""},
    {"stallAfterSomeBytes", kBoth, 5000, "stall 1000", kWorkflowFailed, 600, true, "watchdog : TIMEOUT\n"},
    // Slower in all than the timeout (2.4 s against 2 s), but never silent for as long: gaps of
    // 0.3 s leave 1.7 s for the scheduling of a loaded machine.
    {"slowDrip", kBoth, 9000, "drip 0.3 1000", kWorkflowFinished, 2000, false, ""},
    {"resetMidBody", kInfoFile, 5000, "reset 1000", kWorkflowFailed, 600, true, "watchdog : TIMEOUT\n"},
    // The one case that waits the real 20 seconds.
    {"resetMidBodyRealTimeout", kPackage, 5000, "reset 1000", kWorkflowFailed, kRealTimeoutMs, true,
     "watchdog : TIMEOUT\n"},
    // With a Size, exactly that many bytes however they are sent; any other package is deleted.
    {"sizeRightChunked", kPackage, 5000, "chunked 1000", kWorkflowFinished, kRealTimeoutMs, false, "", L"5000"},
    {"sizeRightWithLength", kPackage, 5000, "", kWorkflowFinished, kRealTimeoutMs, false, "", L"5000"},
    {"sizeShortChunkedCut", kPackage, 5000, "chunkcut 2000 1000", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: 2000 bytes stored, Size is 5000\n", L"5000"},
    {"sizeShortCloseDelimited", kPackage, 5000, "closecut 2000", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: 2000 bytes stored, Size is 5000\n", L"5000"},
    // 8 s of paced chunks: aborted on the way, not judged at the end.
    {"sizeExceededChunked", kPackage, 400000, "chunked 5000 0.1", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: more than Size (20000 bytes) arrived\n", L"20000"},
    {"sizeOtherThanAnnounced", kPackage, 5000, "", kWorkflowFailed, kRealTimeoutMs, false,
     "download failed: 5000 bytes announced, Size is 4000\n", L"4000"},
    {"sizeMalformed", kPackage, 5000, "", kWorkflowFailed, kRealTimeoutMs, false,
     "download refused: Size is not a decimal number from 1 to 4294967295\n", L"5e3"},
};

struct TransferParam {
  TransferCase row;
  Kinds kind;
};

std::string ParamName(const ::testing::TestParamInfo<TransferParam>& info) {
  return std::string(info.param.kind == kInfoFile ? "InfoFile_" : "Package_") + info.param.row.name;
}

std::vector<TransferParam> AllTransferParams() {
  std::vector<TransferParam> params;
  for (Kinds kind : {kInfoFile, kPackage})
    for (const TransferCase& row : kTransferCases)
      if (row.kinds & kind) params.push_back({row, kind});
  return params;
}

class DownloadTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(Docroot().empty()) << "PLINTHWARE_TEST_DOCROOT is not set: run through CTest (fixture http_server)";
    WatchdogStop();
    g_watchdogTimeoutMs = kRealTimeoutMs;
    InterlockedExchange(&g_cancelFlag, 0);
    InterlockedExchange(&g_workflowStage, kStageIdle);
  }
  void TearDown() override {
    g_infoJudgementProbe = nullptr;
    WatchdogStop();
    g_watchdogTimeoutMs = kRealTimeoutMs;
    InterlockedExchange(&g_cancelFlag, 0);
  }

  // The package's address goes through an Info file of the test's own.
  void BeginPackage(const std::wstring& url, const wchar_t* size = nullptr) {
    WriteInfoFile(temp_.path(), url.c_str(), size);
    start_ = GetTickCount();
    BeginInstallerDownload();
  }
  void BeginInfo() {
    start_ = GetTickCount();
    BeginInfoFileDownload();
  }
  // Waits for the first Workflow code and returns how long after the begin it came.
  DWORD AwaitCode(DWORD timeoutMs) {
    if (!windows_.WaitForRecords(1, timeoutMs)) return MAXDWORD;
    return windows_.records()[0].tick - start_;
  }

  DebugOutputCapture capture_;
  UpdaterWindows windows_;
  TempFolder temp_;
  DWORD start_ = 0;
};

class TransferTest : public DownloadTest, public ::testing::WithParamInterface<TransferParam> {};

TEST_P(TransferTest, EndsWithOneReport) {
  const TransferCase& row = GetParam().row;
  const bool package = GetParam().kind == kPackage;
  const std::string urlPath =
      package ? "/download-tests/package-" + std::string(row.name) + "/setup.bin" : InfoFileUrlPath();
  const std::string content = Content(row.size, static_cast<unsigned>(urlPath.size() + row.size));
  std::string fault = row.fault;
  if (fault == "redirect") {
    std::string target = "/download-tests/redirected-" + std::string(package ? "package" : "info") + "/target.bin";
    Publish(target, content);
    fault += " " + target;
  }
  if (row.size) {
    Publish(urlPath, content, fault);
  } else {
    Unpublish(urlPath);
  }
  g_watchdogTimeoutMs = row.watchdogMs;

  if (package) {
    BeginPackage(ServedUrl(urlPath), row.sizeKey);
  } else {
    BeginInfo();
  }
  // Nothing has been served to the Download thread yet: the begin's own text is still there.
  if (std::string(row.output).rfind("download refused", 0) != 0) {
    EXPECT_EQ(L"0%", windows_.Text(IDC_UPDATER_PERCENT));
  }
  const std::wstring destination = temp_.path() + (package ? L"vrel_setup.exe" : L"vrel_info");
  EXPECT_EQ(destination, std::wstring(g_destinationBuffer));

  DWORD elapsed = AwaitCode(row.byWatchdog ? row.watchdogMs + 10000 : kAtOnceMs + 5000);
  ASSERT_NE(MAXDWORD, elapsed) << "no Workflow code; debugger output: " << capture_.joined();
  EXPECT_EQ(std::to_string(row.code), windows_.Codes()) << capture_.joined();
  if (row.byWatchdog) {
    EXPECT_GE(elapsed + 50, row.watchdogMs) << "code 3 before the Watchdog's timeout";
    EXPECT_LE(elapsed, row.watchdogMs + 8000);
    EXPECT_EQ(1, g_cancelFlag) << "the Watchdog abandons a transfer through the Cancel flag";
  } else {
    EXPECT_LT(elapsed, kAtOnceMs) << "the outcome was not reported at once";
    // The Download thread ends right after its report, and its Watchdog has gone before it.
    EXPECT_TRUE(WaitForDownloadThread(5000)) << "the Download thread did not end after reporting";
    EXPECT_EQ(nullptr, g_watchdogThread) << "the Watchdog outlived its download";
    EXPECT_EQ(nullptr, g_heartbeatEvent);
  }
  if (*row.output) {
    EXPECT_TRUE(capture_.WaitFor(row.output, 5000)) << capture_.joined();
  }

  if (row.code == kWorkflowFinished) {
    std::string stored = ReadBytes(destination);
    EXPECT_EQ(content.size(), stored.size());
    EXPECT_TRUE(stored == content) << "the stored file differs from the served one";
  }
  if (row.sizeKey && row.code != kWorkflowFinished) {
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(destination.c_str())) << "a package of another size stays";
  }
  if (std::string(row.name) == "sizeExceededChunked") {
    std::string sent;
    EXPECT_TRUE(PumpUntil([&] { return !(sent = ReadBytes(Docroot() + Widen(urlPath) + L".sent")).empty(); }, 10000));
    EXPECT_LT(std::stoul("0" + sent), row.size) << "the whole body was sent";
  }
  if (std::string(row.name) == "slowDrip") {
    EXPECT_EQ(L"100%", windows_.Text(IDC_UPDATER_PERCENT));
    EXPECT_EQ(static_cast<int>(row.size), windows_.ProgressHigh());
    EXPECT_EQ(static_cast<int>(row.size), windows_.ProgressPos());
  }

  // No second report. Where a Watchdog could still speak (a transfer without totals, or one the
  // Watchdog abandoned and keeps watching), wait two more timeouts; elsewhere the Download thread
  // and the Watchdog are gone, and whatever they posted is already queued.
  bool watchdogCouldSpeak = row.byWatchdog || std::string(row.fault).rfind("chunked", 0) == 0;
  DWORD quietMs = watchdogCouldSpeak && row.watchdogMs < kRealTimeoutMs ? 2 * row.watchdogMs : 50;
  EXPECT_FALSE(windows_.WaitForRecords(2, quietMs)) << "codes " << windows_.Codes();
}

INSTANTIATE_TEST_SUITE_P(Downloads, TransferTest, ::testing::ValuesIn(AllTransferParams()), ParamName);

TEST_F(DownloadTest, RefusedConnectionFailsAtOnce) {
  BeginPackage(RefusedUrl());
  DWORD elapsed = AwaitCode(kAtOnceMs + 5000);
  ASSERT_NE(MAXDWORD, elapsed) << capture_.joined();
  EXPECT_EQ("3", windows_.Codes());
  EXPECT_LT(elapsed, kAtOnceMs);
  EXPECT_TRUE(capture_.WaitFor("download failed: result 0x", 5000)) << capture_.joined();
  EXPECT_TRUE(WaitForDownloadThread(5000));
  EXPECT_EQ(nullptr, g_watchdogThread);
}

TEST_F(DownloadTest, UnwritableDestinationFailsAtOnce) {
  // A folder where the file should go: it cannot be cleared away, so nothing is fetched.
  for (Kinds kind : {kInfoFile, kPackage}) {
    SCOPED_TRACE(kind == kInfoFile ? "Info file" : "package");
    std::wstring blocked = temp_.path() + (kind == kInfoFile ? L"vrel_info" : L"vrel_setup.exe");
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    const std::string urlPath = kind == kInfoFile ? InfoFileUrlPath() : "/download-tests/unwritable/setup.bin";
    Publish(urlPath, Content(5000, 7));
    if (kind == kInfoFile) {
      BeginInfo();
    } else {
      BeginPackage(ServedUrl(urlPath));
    }
    DWORD elapsed = AwaitCode(kAtOnceMs + 5000);
    ASSERT_NE(MAXDWORD, elapsed) << capture_.joined();
    EXPECT_EQ("3", windows_.Codes());
    EXPECT_LT(elapsed, kAtOnceMs);
    EXPECT_TRUE(capture_.WaitFor("download failed: an earlier file is in the way (error 5)\n", 5000))
        << capture_.joined();
    EXPECT_TRUE(WaitForDownloadThread(5000));
    RemoveDirectoryW(blocked.c_str());
    windows_.ClearRecords();
    capture_.Clear();
  }
}

// What the Download thread's own hold on the judged Info file refuses, seen from inside it.
volatile LONG g_probes = 0;
volatile DWORD g_probeWriteError = 0, g_probeDeleteError = 0;

void ProbeJudgedInfoFile(const wchar_t* path) {
  g_probeWriteError = testing_support::FullSharingOpenError(path, GENERIC_WRITE);
  g_probeDeleteError = testing_support::FullSharingOpenError(path, DELETE);
  InterlockedIncrement(&g_probes);
}

TEST_F(DownloadTest, InfoFileLandsInTheTemporaryFolderOverAnEarlierOne) {
  const std::string content = "[platform_winxp]\r\nVersion=1.2.3.4\r\n";
  Publish(InfoFileUrlPath(), content);
  ASSERT_TRUE(testing_support::WriteBytes(temp_.path() + L"vrel_info", std::string(9000, 'x')));
  SetWindowTextW(GetDlgItem(windows_.dialog(), IDC_UPDATER_LABEL), L"label");
  InterlockedExchange(&g_cancelFlag, 1);

  InterlockedExchange(&g_probes, 0);
  g_infoJudgementProbe = ProbeJudgedInfoFile;
  BeginInfo();
  EXPECT_EQ(0, g_cancelFlag);
  EXPECT_EQ(kStageInfoFile, g_workflowStage);
  EXPECT_EQ(L"", windows_.Text(IDC_UPDATER_LABEL));
  EXPECT_EQ(std::wstring(kInfoFileUrl), std::wstring(g_urlBuffer));
  EXPECT_EQ(temp_.path(), std::wstring(g_tempFolderBuffer));
  EXPECT_EQ(temp_.path() + L"vrel_info", std::wstring(g_infoFilePath));
  ASSERT_NE(MAXDWORD, AwaitCode(kAtOnceMs)) << capture_.joined();
  EXPECT_EQ("2", windows_.Codes());
  // From its judgement until its values are read, the thread's own handle lets no one write or
  // delete the file, whatever they share.
  EXPECT_EQ(1, g_probes);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_probeWriteError) << "written while judged";
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_probeDeleteError) << "deletable while judged";
  EXPECT_EQ(content, ReadBytes(temp_.path() + L"vrel_info"));
  EXPECT_TRUE(capture_.WaitFor("BINDSTATUS_ENDDOWNLOADDATA\n", 5000)) << capture_.joined();
}

TEST_F(DownloadTest, InfoFileThenItsPackage) {
  const std::string packagePath = "/download-tests/sequence/setup.bin";
  const std::string package = Content(7000, 11);
  Publish(packagePath, package);
  StringCchCopyW(g_platformSection, kPlatformSectionChars, L"platform_winxp");
  Publish(InfoFileUrlPath(), "[platform_winxp]\r\nVersion=2.0.0.0\r\nLocation=" + Narrow(ServedUrl(packagePath)) +
                                 "\r\nInstConfig=/S\r\n");
  BeginInfo();
  ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs)) << capture_.joined();
  ASSERT_EQ("2", windows_.Codes());
  ShowWindow(GetDlgItem(windows_.dialog(), IDC_UPDATER_PROGRESS), SW_HIDE); // as the controller does

  BeginInstallerDownload();
  EXPECT_EQ(kStagePackage, g_workflowStage);
  EXPECT_EQ(L"Downloading Plinthware:", windows_.Text(IDC_UPDATER_STATUS));
  EXPECT_TRUE(windows_.Visible(IDC_UPDATER_PROGRESS));
  EXPECT_EQ(L"0%", windows_.Text(IDC_UPDATER_PERCENT));
  EXPECT_EQ(ServedUrl(packagePath), std::wstring(g_urlBuffer));
  ASSERT_TRUE(windows_.WaitForRecords(2, kAtOnceMs)) << capture_.joined();
  EXPECT_EQ("2,2", windows_.Codes());
  EXPECT_TRUE(ReadBytes(temp_.path() + L"vrel_setup.exe") == package);
  EXPECT_EQ(temp_.path() + L"vrel_setup.exe", std::wstring(g_destinationBuffer));
  EXPECT_EQ(temp_.path() + L"vrel_info", std::wstring(g_infoFilePath)) << "the Info file's path was lost";
  wchar_t config[64] = {};
  GetPrivateProfileStringW(L"platform_winxp", L"InstConfig", L"", config, ARRAYSIZE(config), g_infoFilePath);
  EXPECT_EQ(L"/S", std::wstring(config));
}

TEST_F(DownloadTest, ChangedInfoFileIsFetchedAfresh) {
  Publish(InfoFileUrlPath(), Content(3000, 1));
  BeginInfo();
  ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs));
  Publish(InfoFileUrlPath(), Content(3000, 2));
  BeginInfo();
  ASSERT_TRUE(windows_.WaitForRecords(2, kAtOnceMs));
  EXPECT_EQ("2,2", windows_.Codes());
  EXPECT_TRUE(ReadBytes(temp_.path() + L"vrel_info") == Content(3000, 2)) << "an old copy was stored";
}

TEST_F(DownloadTest, CancelDuringTheInfoFileEndsWithCodeOneOnly) {
  g_watchdogTimeoutMs = 1500;
  Publish(InfoFileUrlPath(), Content(10000, 3), "drip 0.25 1000");
  BeginInfo();
  // Once the data has begun, the user cancels.
  ASSERT_TRUE(PumpUntil([this] { return windows_.ProgressHigh() == 10000; }, kAtOnceMs)) << capture_.joined();
  InterlockedExchange(&g_cancelFlag, 1);
  ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs));
  EXPECT_EQ("1", windows_.Codes());
  EXPECT_TRUE(capture_.WaitFor("user cancel download proc.\n", 5000)) << capture_.joined();
  EXPECT_TRUE(WaitForDownloadThread(5000));
  EXPECT_EQ(nullptr, g_watchdogThread) << "the Watchdog outlived its cancelled download";
  EXPECT_FALSE(windows_.WaitForRecords(2, 50)) << "codes " << windows_.Codes();
}

TEST_F(DownloadTest, CancelFlagSetBeforeThePackageAbortsAtOnce) {
  const std::string urlPath = "/download-tests/cancelled/setup.bin";
  Publish(urlPath, Content(5000, 4));
  InterlockedExchange(&g_cancelFlag, 1);
  BeginPackage(ServedUrl(urlPath));
  EXPECT_EQ(1, g_cancelFlag) << "the installer download must leave the Cancel flag alone";
  DWORD elapsed = AwaitCode(kAtOnceMs);
  ASSERT_NE(MAXDWORD, elapsed) << capture_.joined();
  EXPECT_EQ("1", windows_.Codes());
  EXPECT_TRUE(capture_.WaitFor("user cancel download proc.\n", 5000)) << capture_.joined();
  EXPECT_TRUE(WaitForDownloadThread(5000));
  EXPECT_FALSE(windows_.WaitForRecords(2, 50)) << "codes " << windows_.Codes();
}

TEST_F(DownloadTest, LocationMustFitTheUrlBuffer) {
  const std::string urlPath = "/download-tests/location/setup.bin";
  const std::string content = Content(2000, 5);
  Publish(urlPath, content);
  const std::wstring base = ServedUrl(urlPath) + L"?";
  const struct {
    const char* name;
    size_t length; // characters of Location; 0 with `missing` for no key
    bool missing;
    const char* code;
    const char* output;
  } rows[] = {
      {"1023 characters", 1023, false, "2", ""},
      {"1024 characters", 1024, false, "3", "download refused: Location of 1024 characters or more\n"},
      {"5000 characters", 5000, false, "3", "download refused: Location of 1024 characters or more\n"},
      {"empty", 0, false, "3", "download refused: no Location\n"},
      {"no key", 0, true, "3", "download refused: no Location\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    windows_.ClearRecords();
    capture_.Clear();
    std::wstring location = row.length ? base + std::wstring(row.length - base.size(), L'q') : L"";
    WriteInfoFile(temp_.path(), row.missing ? nullptr : location.c_str());
    BeginInstallerDownload();
    ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs)) << capture_.joined();
    EXPECT_EQ(row.code, windows_.Codes());
    if (*row.output) {
      EXPECT_TRUE(capture_.WaitFor(row.output, 5000)) << capture_.joined();
      EXPECT_EQ(L"", std::wstring(g_urlBuffer)) << "a refused Location was kept (cut) in the URL buffer";
    } else {
      EXPECT_EQ(location, std::wstring(g_urlBuffer));
      EXPECT_TRUE(ReadBytes(temp_.path() + L"vrel_setup.exe") == content);
    }
    EXPECT_TRUE(WaitForDownloadThread(5000));
  }
}

// Only absolute http:// and https:// addresses are fetched. The refused ones name things the
// platform would fetch gladly (a local file it would copy, a share, a resource), so a missing
// check shows as a code 2 and a copied file here.
TEST_F(DownloadTest, LocationOtherThanHttpIsRefusedBeforeAnyTransfer) {
  const std::string urlPath = "/download-tests/scheme/setup.bin";
  const std::string content = Content(1500, 9);
  Publish(urlPath, content);
  const std::wstring localFile = temp_.path() + L"local-package.bin";
  testing_support::WriteBytes(localFile, content);
  const std::wstring served = ServedUrl(urlPath).substr(7); // host and path
  const struct {
    const char* name;
    std::wstring location;
    const char* code;
  } rows[] = {
      {"file URL", L"file:///" + localFile, "3"},
      {"FILE URL upper case", L"FILE:///" + localFile, "3"},
      {"plain local path", localFile, "3"},
      {"UNC path", L"\\\\127.0.0.1\\share\\setup.exe", "3"},
      {"relative path", L"setup.exe", "3"},
      {"ftp", L"ftp://" + served, "3"},
      {"res", L"res://shell32.dll/2/129", "3"},
      {"mk", L"mk:@MSITStore:C:\\x.chm::/setup.exe", "3"},
      {"scheme without host", L"http:///" + served, "3"},
      {"scheme-relative", L"//" + served, "3"},
      {"http upper case", L"HTTP://" + served, "2"},
      {"http mixed case", L"hTtP://" + served, "2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    windows_.ClearRecords();
    capture_.Clear();
    DeleteFileW((temp_.path() + L"vrel_setup.exe").c_str());
    WriteInfoFile(temp_.path(), row.location.c_str());
    BeginInstallerDownload();
    ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs)) << capture_.joined();
    EXPECT_EQ(row.code, windows_.Codes()) << Narrow(row.location);
    if (std::string(row.code) == "3") {
      EXPECT_TRUE(capture_.WaitFor("download refused: Location is not an http:// or https:// address\n", 5000))
          << capture_.joined();
      EXPECT_EQ(L"", std::wstring(g_urlBuffer)) << "a refused Location reached the URL buffer";
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((temp_.path() + L"vrel_setup.exe").c_str()))
          << "something was stored for a refused Location";
    } else {
      EXPECT_TRUE(ReadBytes(temp_.path() + L"vrel_setup.exe") == content);
    }
    EXPECT_TRUE(WaitForDownloadThread(5000));
  }
}

TEST(LocationSchemeTest, OnlyAbsoluteHttpAndHttpsWithAHost) {
  const struct {
    const wchar_t* location;
    bool allowed;
  } rows[] = {
      {L"http://a", true},          {L"https://a/b", true},        {L"HTTPS://A", true},
      {L"Http://a:8080/x?y", true}, {L"", false},                  {L"http", false},
      {L"http:", false},            {L"http:/", false},            {L"http://", false},
      {L"https://", false},         {L"http:///x", false},         {L"http://\\x", false},
      {L"http://?x", false},        {L"http://#x", false},         {L" http://a", false},
      {L"httpx://a", false},        {L"http:\\\\a", false},        {L"file:///C:/a", false},
      {L"ftp://a", false},          {L"res://a.dll/1", false},     {L"mk:@x", false},
      {L"\\\\server\\share", false}, {L"C:\\a.exe", false},        {L"javascript:x", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.allowed, IsAllowedLocation(row.location)) << Narrow(row.location);
  }
}

TEST_F(DownloadTest, NoUsableTemporaryFolderFailsAtOnce) {
  const std::string urlPath = "/download-tests/no-temp/setup.bin";
  Publish(urlPath, Content(1000, 6));
  Publish(InfoFileUrlPath(), Content(1000, 6));
  // Longer than the platform takes for a temporary folder.
  TempFolder tooLong(L"C:\\" + std::wstring(400, L't'));
  for (Kinds kind : {kInfoFile, kPackage}) {
    SCOPED_TRACE(kind == kInfoFile ? "Info file" : "package");
    windows_.ClearRecords();
    capture_.Clear();
    if (kind == kInfoFile) {
      BeginInfoFileDownload();
    } else {
      WriteInfoFile(temp_.path(), ServedUrl(urlPath).c_str());
      BeginInstallerDownload();
    }
    ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs));
    EXPECT_EQ("3", windows_.Codes());
    EXPECT_TRUE(capture_.WaitFor("download refused: no usable temporary folder\n", 5000)) << capture_.joined();
    EXPECT_EQ(L"", std::wstring(g_destinationBuffer));
    EXPECT_EQ(nullptr, g_watchdogThread);
  }
}

TEST_F(DownloadTest, AbandonedTransferNeverReportsLater) {
  // The server stalls past the timeout, then sends the rest: the abandoned transfer wakes up.
  const std::string urlPath = "/download-tests/abandoned/setup.bin";
  Publish(urlPath, Content(5000, 8), "stall 1000 2");
  g_watchdogTimeoutMs = 700;
  BeginPackage(ServedUrl(urlPath));
  ASSERT_TRUE(windows_.WaitForRecords(1, 10000));
  EXPECT_EQ("3", windows_.Codes());
  ASSERT_TRUE(WaitForDownloadThread(15000)) << "the abandoned transfer never came back";
  EXPECT_FALSE(windows_.WaitForRecords(2, 50)) << "codes " << windows_.Codes();
  EXPECT_EQ(std::string::npos, capture_.joined().find("download failed")) << capture_.joined();
}

TEST_F(DownloadTest, NewDownloadStopsTheWatchdogOfTheLastOne) {
  // A Watchdog left running (as after a transfer without totals) must not outlive the next begin.
  HANDLE leftOver = nullptr;
  ASSERT_EQ(1, WatchdogStart(NewDownloadIdentity(), &leftOver));
  HANDLE oldThread = nullptr;
  DuplicateHandle(GetCurrentProcess(), g_watchdogThread, GetCurrentProcess(), &oldThread, SYNCHRONIZE, FALSE, 0);
  const std::string urlPath = "/download-tests/second/setup.bin";
  Publish(urlPath, Content(1000, 9));
  BeginPackage(ServedUrl(urlPath));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(oldThread, 2000)) << "the old Watchdog still runs";
  ASSERT_TRUE(windows_.WaitForRecords(1, kAtOnceMs));
  EXPECT_EQ("2", windows_.Codes());
  CloseHandle(oldThread);
  CloseHandle(leftOver);
}

} // namespace
