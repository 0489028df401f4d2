// Package authenticity end to end, against nginx (fixture `nginx_server`) with the real NSIS package
// signed at build time by the test leaves of tools/certs, whose root this program trusts in the
// test prefix only. PlinthwareUpdaterPinned (pinned to the test publisher) installs only the
// package its publisher signed; the default build installs the unsigned one as before. Over HTTPS
// (Location https://localhost:PORT/..., the proxy bypassed for local names) a good certificate
// installs, and every certificate error ends in the network-error box with nothing fetched. Behind
// a real proxy (squid, fixture `squid_server`, in front of nginx) the same runs install, and a
// proxy that wants a sign-in Wine cannot give ends in the network-error box.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/served_files.h"
#include "package/package_record.h"
#include "support/trusted_root.h"

namespace {

using e2e::kNetworkError;
using e2e::kInstallFailed;
using e2e::kInstalledText;
using e2e::kAtOnceMs;

using e2e::FromEnvironment;
using e2e::TempFile;

using testing_support::ReadBytes;

const char kInfoPath[] = "/plinthware/vrel_info.ini";
const char kPackagePath[] = "/e2e-tests/vrel_setup.exe";

// Wine reports Windows 7 (6.1 workstation) when no version is set for the program.
std::string InfoFile(const std::string& location, const std::string& sha256) {
  std::string text = "[platform_win7]\r\nVersion=1.0.0.6\r\nLocation=" + location + "\r\nInstConfig=vrel_setup.exe /S\r\n";
  if (!sha256.empty()) text += "Sha256=" + sha256 + "\r\n";
  return text;
}

// ProxyOverride "<local>" in the prefix's Internet settings for the life of the object: WinINet
// then goes straight to https://localhost, since the test proxy speaks no CONNECT. Wine reads it
// when a program starts.
class ScopedProxyBypass {
public:
  ScopedProxyBypass() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = sizeof previous_ - sizeof(wchar_t);
    hadValue_ = RegQueryValueExW(key_, L"ProxyOverride", nullptr, nullptr, reinterpret_cast<BYTE*>(previous_), &size) ==
                ERROR_SUCCESS;
    const wchar_t local[] = L"<local>";
    set_ = RegSetValueExW(key_, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(local), sizeof local) ==
           ERROR_SUCCESS;
  }
  ~ScopedProxyBypass() {
    if (!key_) return;
    if (hadValue_) {
      RegSetValueExW(key_, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_),
                     static_cast<DWORD>((lstrlenW(previous_) + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key_, L"ProxyOverride");
    }
    RegCloseKey(key_);
  }
  ScopedProxyBypass(const ScopedProxyBypass&) = delete;
  ScopedProxyBypass& operator=(const ScopedProxyBypass&) = delete;
  bool set() const { return set_; }

private:
  static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  HKEY key_ = nullptr;
  wchar_t previous_[1024] = {};
  bool hadValue_ = false;
  bool set_ = false;
};

// One run of the table: what is served, by which build, and how it must end.
struct Case {
  const char* name;
  const std::wstring* program;  // the updater build
  std::string info;             // the Info file served at the fixed address
  std::string package;          // the package's bytes, served at kPackagePath
  bool rootTrusted;             // the test root is in the prefix's Root store
  const char* refusal;          // null: installs; else the start of the debugger line naming the refusal
  const wchar_t* box;           // the box of a refusal
  bool packageFetched;          // a refused package was requested (false: no GET ever reached nginx)
};

class Authenticity : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(e2e::Docroot().empty()) << "no nginx docroot (PLINTHWARE_TEST_DOCROOT)";
    ASSERT_EQ(0u, proxy_.find(L"http://127.0.0.1:")) << "no nginx address: \"" << driver::Utf8(proxy_) << "\"";
    ASSERT_FALSE(packages_.empty()) << "PLINTHWARE_PACKAGES_DIR is not set";
    ASSERT_FALSE(defaultUpdater_.empty()) << "PLINTHWARE_DEFAULT_UPDATER_EXE is not set";
    ASSERT_TRUE(root_.trusted()) << "the test root could not be trusted: " << driver::Utf8(certs_);
    ASSERT_TRUE(e2e::RemoveCompanion());
    e2e::DeleteInstallMarker();
  }

  std::string Package(const wchar_t* name) { return ReadBytes(packages_ + L"\\" + name); }

  // The HTTPS port nginx serves the certificate `name` on (tools/nginx/nginx.sh --tls).
  std::string TlsPort(const char* name) {
    std::wstring file = e2e::Docroot() + L"\\..\\port." + testing_support::Widen(name);
    std::string port = ReadBytes(file);
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
    return port;
  }

  // Serves the case, runs the updater through Download Now (with `proxy` as http_proxy, else
  // nginx itself), and checks how it ends.
  void Run(const Case& c, const std::wstring& proxy = L"") {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.package.empty());
    ASSERT_TRUE(served_.Serve(kInfoPath, c.info));
    ASSERT_TRUE(served_.Serve(kPackagePath, c.package));
    if (c.rootTrusted) {
      ASSERT_TRUE(root_.Trust());
    } else {
      ASSERT_TRUE(root_.Untrust());
    }
    e2e::ScopedInstalledVersion installed(L"1.0.0.0");
    ASSERT_TRUE(installed.set());
    e2e::DeleteInstallMarker();
    DeleteFileW(record_.c_str());
    DeleteFileW(TempFile(L"vrel_setup.exe").c_str());
    DeleteFileW(TempFile(L"vrel_info").c_str());
    int packageRequests = e2e::RequestCount(kPackagePath);

    driver::LaunchOptions options = e2e::ServedUpdaterOptions(L"");
    options.program = *c.program;
    options.environment.push_back({L"http_proxy", proxy.empty() ? proxy_ : proxy, false});
    options.environment.push_back({package_record::kRecordVariable, record_, false});
    driver::UpdaterProcess updater;
    ASSERT_TRUE(updater.Start(options)) << driver::Utf8(updater.startError());
    HWND dialog = updater.WaitForVisibleDialog(e2e::kShowMs);
    ASSERT_NE(nullptr, dialog) << "no Offer screen\n" << updater.Describe();
    DWORD pressed = GetTickCount();
    ASSERT_TRUE(driver::PressButton(dialog, driver::kDownloadNow));

    if (!c.refusal) {
      ASSERT_TRUE(updater.WaitForControlText(driver::kStatusLink, kInstalledText, e2e::kShowMs))
          << "no restart offer\n" << updater.Describe();
      std::vector<package_record::PackageRun> runs = package_record::ReadPackageRecord(record_);
      ASSERT_EQ(1u, runs.size()) << package_record::DescribePackageRecord(record_);
      EXPECT_EQ(L"1.0.0.6", runs[0].packageVersion);
      EXPECT_EQ(0, runs[0].exitCode);
      EXPECT_EQ(packageRequests + 1, e2e::RequestCount(kPackagePath));
      ASSERT_TRUE(driver::PressButton(updater.UpdaterDialog(), driver::kRestartLater));
      DWORD exitCode = 1;
      ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
      driver::RegistryValue marker = e2e::ReadInstallMarker();
      EXPECT_TRUE(marker.exists && marker.type == REG_DWORD && marker.dword == 1) << "no install marker";
      for (const std::string& m : updater.DebugMessages()) {
        EXPECT_EQ(std::string::npos, m.find("refused")) << updater.Describe();
      }
      return;
    }

    HWND box = updater.WaitForMessageBox(e2e::kShowMs);
    DWORD elapsed = GetTickCount() - pressed;
    ASSERT_NE(nullptr, box) << "no message box after " << elapsed << " ms\n" << updater.Describe();
    EXPECT_LT(elapsed, kAtOnceMs) << "the box came late";
    driver::MessageBoxState state = updater.ReadMessageBox(box);
    EXPECT_EQ(c.box, state.text);
    EXPECT_EQ(std::vector<int>{IDOK}, state.buttons);
    EXPECT_FALSE(driver::ReadControl(updater.UpdaterDialog(), driver::kRestartNow).visible) << "a restart offer";
    ASSERT_TRUE(updater.AnswerMessageBox(IDOK));
    DWORD exitCode = 1;
    ASSERT_TRUE(updater.WaitForExit(e2e::kEndMs, &exitCode)) << "still running\n" << updater.Describe();
    EXPECT_EQ(0u, exitCode);

    std::vector<std::string> messages = updater.DebugMessages();
    bool named = false;
    for (const std::string& m : messages) named = named || m.compare(0, strlen(c.refusal), c.refusal) == 0;
    EXPECT_TRUE(named) << "no output \"" << c.refusal << "\"\n" << updater.Describe();
    EXPECT_TRUE(e2e::EndsWithShutdownOutputs(messages, false));
    EXPECT_FALSE(e2e::ReadInstallMarker().exists) << "a refusal writes no install marker";
    EXPECT_EQ(packageRequests + (c.packageFetched ? 1 : 0), e2e::RequestCount(kPackagePath))
        << (c.packageFetched ? "the package was not fetched" : "a request reached the server");
    EXPECT_TRUE(package_record::ReadPackageRecord(record_).empty()) << package_record::DescribePackageRecord(record_);
    EXPECT_FALSE(testing_support::FileExists(TempFile(L"vrel_setup.exe"))) << "the package stays in the temporary folder";
  }

  // squid's address of `file` (proxy: open; proxy_basic: Basic), empty without the fixture.
  std::string SquidAddress(const wchar_t* file) { return ReadBytes(squid_ + L"\\" + file); }

  // How many lines of squid's access log hold all of `parts` (tools/squid/squid.sh's format:
  // client "METHOD URL HTTP/1.1" port=P user=U status=S).
  int SquidRequests(const std::vector<std::string>& parts) {
    std::string log = ReadBytes(squid_ + L"\\run\\access.log");
    int count = 0;
    for (size_t begin = 0, end = 0; begin < log.size(); begin = end + 1) {
      end = log.find('\n', begin);
      if (end == std::string::npos) end = log.size();
      std::string line = log.substr(begin, end - begin);
      bool all = true;
      for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
      count += all ? 1 : 0;
    }
    return count;
  }
  // squid writes a line once a request has ended, a CONNECT once its tunnel has closed (after the
  // updater, which kept it open, has ended): waits up to 10 s for `count` such lines.
  int SquidRequestsReaching(const std::vector<std::string>& parts, int count) {
    int seen = SquidRequests(parts);
    for (DWORD start = GetTickCount(); seen < count && GetTickCount() - start < 10000; seen = SquidRequests(parts)) {
      Sleep(100); // squid tells no one when it writes its log
    }
    return seen;
  }

  std::wstring squid_ = FromEnvironment(L"PLINTHWARE_SQUID_DIR");
  std::wstring packages_ = FromEnvironment(L"PLINTHWARE_PACKAGES_DIR");
  std::wstring certs_ = FromEnvironment(L"PLINTHWARE_TEST_CERTS_DIR");
  std::wstring defaultUpdater_ = FromEnvironment(L"PLINTHWARE_DEFAULT_UPDATER_EXE");
  std::wstring pinnedUpdater_ = e2e::UpdaterPath();
  std::wstring proxy_ = testing_support::Widen(ReadBytes(FromEnvironment(L"PLINTHWARE_NGINX_PROXY_FILE")));
  testing_support::ScopedTrustedRoot root_{certs_ + L"\\root.der"};
  e2e::ServedFiles served_;
  testing_support::TempDir folder_;
  std::wstring record_ = folder_.file(L"package_record.txt");
};

// The pinned build runs only what the pinned publisher signed, under a trusted root, in time, and
// byte for byte, with a leaf for code signing whose one CN is the name and whose key is one of the
// two pinned (publisher's, chained's); with a Sha256 as well, both must hold. The look-alikes
// share the publisher's key, so only their names and usage refuse them. Every refusal is the text-15 box with one
// debugger line naming the reason and its code, nothing run and the package deleted.
TEST_F(Authenticity, APinnedBuildRunsOnlyThePinnedPublishersPackage) {
  const std::string http = std::string("http://download.orvane.com") + kPackagePath;
  const std::string unsigned_ = Package(L"vrel_setup_1.0.0.6.exe");
  const std::string signed_ = Package(L"vrel_setup_1.0.0.6_publisher.exe");
  ASSERT_FALSE(signed_.empty()) << "no signed test package in " << driver::Utf8(packages_);
  std::string changed = signed_;
  changed[changed.size() / 2] ^= 0x01; // in the installer's data, well before the signature
  const std::string signedSha256 = e2e::Sha256Hex(packages_ + L"\\vrel_setup_1.0.0.6_publisher.exe");
  const std::string unsignedSha256 = e2e::Sha256Hex(packages_ + L"\\vrel_setup_1.0.0.6.exe");
  const std::string otherSha256 = e2e::Sha256Hex(packages_ + L"\\vrel_setup_1.0.0.6_other.exe");
  ASSERT_EQ(64u, signedSha256.size());
  ASSERT_EQ(64u, unsignedSha256.size());
  const std::wstring* pinned = &pinnedUpdater_;

  const Case cases[] = {
      {"signed by the pinned publisher", pinned, InfoFile(http, ""), signed_, true, nullptr, nullptr, true},
      {"signed, with its Sha256", pinned, InfoFile(http, signedSha256), signed_, true, nullptr, nullptr, true},
      {"unsigned", pinned, InfoFile(http, ""), unsigned_, true, "package refused: no signature (0x800B0100)",
       kInstallFailed, true},
      {"another publisher", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_other.exe"), true,
       "package refused: other publisher \"Other Test Publisher\" (0x800B010F)", kInstallFailed, true},
      {"one byte changed", pinned, InfoFile(http, ""), changed, true, "package refused: bad digest (0x80096010)",
       kInstallFailed, true},
      {"root not trusted", pinned, InfoFile(http, ""), signed_, false,
       "package refused: untrusted chain (0x800B010A)", kInstallFailed, true},
      {"expired leaf", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_expired.exe"), true,
       "package refused: expired (0x800B0101)", kInstallFailed, true},
      {"signed, Sha256 of another package", pinned, InfoFile(http, unsignedSha256), signed_, true,
       "package refused: Sha256 does not match", kInstallFailed, true},
      {"unsigned, with its own Sha256", pinned, InfoFile(http, unsignedSha256), unsigned_, true,
       "package refused: no signature (0x800B0100)", kInstallFailed, true},
      {"another publisher, with its own Sha256", pinned, InfoFile(http, otherSha256),
       Package(L"vrel_setup_1.0.0.6_other.exe"), true,
       "package refused: other publisher \"Other Test Publisher\" (0x800B010F)", kInstallFailed, true},
      {"under an intermediate, the second key", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_chained.exe"),
       true, nullptr, nullptr, true},
      {"the name, a key not pinned", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_rekeyed.exe"), true,
       "package refused: other key ", kInstallFailed, true},
      {"the name, a NUL and more in the CN", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_nul.exe"), true,
       "package refused: other publisher \"Plinthware Test Publisher?.example\" (0x800B010F)", kInstallFailed, true},
      {"the name as OU, no CN", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_ou.exe"), true,
       "package refused: other publisher \"\" (0x800B010F)", kInstallFailed, true},
      {"the name and a second CN", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_twocn.exe"), true,
       "package refused: other publisher \"\" (0x800B010F)", kInstallFailed, true},
      {"the name, for serverAuth only", pinned, InfoFile(http, ""), Package(L"vrel_setup_1.0.0.6_serverauth.exe"), true,
       "package refused: not for code signing (0x800B0110)", kInstallFailed, true},
      {"default build, unsigned", &defaultUpdater_, InfoFile(http, ""), unsigned_, true, nullptr, nullptr, true},
  };
  for (const Case& c : cases) Run(c);
}

// HTTPS: the package comes straight from nginx on https://localhost:PORT. Only a certificate for
// localhost under a trusted root, valid now, lets it through; every other ends in the network-error
// box at once, and no request ever reaches the server: the certificate error was not ignored.
TEST_F(Authenticity, HttpsDownloadsOnlyUnderAGoodCertificate) {
  ScopedProxyBypass bypass;
  ASSERT_TRUE(bypass.set());
  const std::string good = TlsPort("localhost"), expired = TlsPort("localhost_expired"), wrong = TlsPort("wronghost");
  ASSERT_FALSE(good.empty() || expired.empty() || wrong.empty()) << "nginx serves no HTTPS (tools/nginx/nginx.sh --tls)";
  const std::string package = Package(L"vrel_setup_1.0.0.6.exe");
  auto at = [](const std::string& port) { return "https://localhost:" + port + kPackagePath; };
  const std::wstring* build = &defaultUpdater_;
  const char kBadCertificate[] = "download failed: result 0x800C0019\n"; // INET_E_INVALID_CERTIFICATE

  const Case cases[] = {
      {"trusted certificate", build, InfoFile(at(good), ""), package, true, nullptr, nullptr, true},
      {"root not trusted", build, InfoFile(at(good), ""), package, false, kBadCertificate, kNetworkError, false},
      {"wrong host name", build, InfoFile(at(wrong), ""), package, true, kBadCertificate, kNetworkError, false},
      {"expired certificate", build, InfoFile(at(expired), ""), package, true, kBadCertificate, kNetworkError, false},
  };
  for (const Case& c : cases) Run(c);

  // A build whose own Info-file address is https: the Info file, too, comes straight over TLS.
  const std::wstring httpsInfo = FromEnvironment(L"PLINTHWARE_HTTPS_INFO_UPDATER_EXE");
  ASSERT_FALSE(httpsInfo.empty()) << "PLINTHWARE_HTTPS_INFO_UPDATER_EXE is not set";
  const std::string direct = std::string("\"GET ") + kInfoPath;
  int infoRequests = e2e::RequestCount(direct);
  Run({"Info file over https", &httpsInfo, InfoFile(at(good), ""), package, true, nullptr, nullptr, true});
  EXPECT_EQ(infoRequests + 1, e2e::RequestCount(direct)) << "the Info file did not come over https";
}

// Behind squid (in front of nginx): without a sign-in both requests pass through it and the run
// installs. Where it asks for Basic authentication, Wine never asks the updater (Windows would
// bring up its own prompt over the dialog): the 407 ends the run in the network-error box, and
// nothing reaches the server. With the credentials in http_proxy, which Wine takes, it installs.
// An https Info-file address goes through squid's CONNECT to the TLS server.
TEST_F(Authenticity, BehindAProxyTheUpdateInstallsOrEndsInTheNetworkErrorBox) {
  const std::string open = SquidAddress(L"proxy"), basic = SquidAddress(L"proxy_basic");
  ASSERT_EQ(0u, open.find("http://127.0.0.1:")) << "no squid (PLINTHWARE_SQUID_DIR): \"" << open << "\"";
  ASSERT_EQ(0u, basic.find("http://127.0.0.1:")) << "no squid's Basic port: \"" << basic << "\"";
  const std::string account = driver::Utf8(FromEnvironment(L"PLINTHWARE_SQUID_USER"));
  ASSERT_NE(std::string::npos, account.find(':')) << "no account (PLINTHWARE_SQUID_USER)";
  const std::string user = account.substr(0, account.find(':'));
  const std::string openPort = " port=" + open.substr(17) + " ", basicPort = " port=" + basic.substr(17) + " ";
  const std::string signedIn = "http://" + account + "@" + basic.substr(7);
  const std::string http = std::string("http://download.orvane.com") + kPackagePath;
  const std::string package = Package(L"vrel_setup_1.0.0.6.exe");
  const std::wstring* build = &defaultUpdater_;
  // Wine names the port (http://download.orvane.com:80/...); squid may log the address without it.
  const std::string get = "\"GET http://download.orvane.com";
  const std::string info = std::string(kInfoPath) + " HTTP/", setup = std::string(kPackagePath) + " HTTP/";

  const struct {
    std::string proxy;
    Case c;
    std::string port;   // the squid port of the requests
    std::string status; // what squid answered the Info file
    int packages;       // package requests squid saw
  } rows[] = {
      {open, {"through squid", build, InfoFile(http, ""), package, true, nullptr, nullptr, true}, openPort,
       "status=200", 1},
      {basic,
       {"squid asks for Basic, no credentials", build, InfoFile(http, ""), package, true,
        "download failed: HTTP status 407\n", kNetworkError, false},
       basicPort, "status=407", 0},
      {signedIn, {"squid asks for Basic, credentials in http_proxy", build, InfoFile(http, ""), package, true, nullptr,
                  nullptr, true},
       basicPort, "user=" + user + " status=200", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.c.name);
    int infos = SquidRequests({get, info, row.port, row.status});
    int setups = SquidRequests({get, setup, row.port, "status=200"});
    int served = e2e::RequestCount(kInfoPath);
    Run(row.c, testing_support::Widen(row.proxy));
    EXPECT_EQ(infos + 1, SquidRequestsReaching({get, info, row.port, row.status}, infos + 1))
        << "squid saw no such Info-file request";
    EXPECT_EQ(setups + row.packages, SquidRequestsReaching({get, setup, row.port, "status=200"}, setups + row.packages))
        << "squid passed other package requests";
    EXPECT_EQ(served + (row.packages ? 1 : 0), e2e::RequestCount(kInfoPath)) << "the server saw other Info-file requests";
  }
  if (HasFatalFailure()) return;

  // The build whose own Info-file address is https, the package too over https: both through
  // squid's CONNECT, to nginx's TLS servers.
  const std::wstring httpsInfo = FromEnvironment(L"PLINTHWARE_HTTPS_INFO_UPDATER_EXE");
  ASSERT_FALSE(httpsInfo.empty()) << "PLINTHWARE_HTTPS_INFO_UPDATER_EXE is not set";
  const std::string good = TlsPort("localhost");
  const std::string direct = std::string("\"GET ") + kInfoPath;
  const std::string connectInfo = "\"CONNECT localhost:" + TlsPort("info") + " ";
  const std::string connectPackage = "\"CONNECT localhost:" + good + " ";
  int infoRequests = e2e::RequestCount(direct), infoConnects = SquidRequests({connectInfo, openPort, "status=200"});
  int packageConnects = SquidRequests({connectPackage, openPort, "status=200"});
  Run({"Info file over https through squid", &httpsInfo, InfoFile("https://localhost:" + good + kPackagePath, ""),
       package, true, nullptr, nullptr, true},
      testing_support::Widen(open));
  EXPECT_EQ(infoRequests + 1, e2e::RequestCount(direct)) << "the Info file did not come over https";
  EXPECT_EQ(infoConnects + 1, SquidRequestsReaching({connectInfo, openPort, "status=200"}, infoConnects + 1))
      << "the Info file did not come through squid";
  EXPECT_EQ(packageConnects + 1, SquidRequestsReaching({connectPackage, openPort, "status=200"}, packageConnects + 1))
      << "the package did not come through squid";
}

} // namespace
