// The nginx fixture as the updater meets it: requests for the fixed address
// http://download.orvane.com/plinthware/... go through the proxy to 127.0.0.1 and come back with
// the docroot's file. Checked with WinINet in this process (status, Content-Length, bytes) and with
// URLDownloadToFileW in a probe process that, like the updater, finds the proxy in http_proxy.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

using testing_support::FileExists;
using testing_support::Narrow;
using testing_support::ProgramFolder;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::Widen;
using testing_support::WriteBytes;

namespace {

const DWORD kProbeEndMs = 60000;

// A Unix path that CTest put in the environment, as Wine shows it under drive Z:.
std::wstring UnixPathVariable(const wchar_t* name) {
  wchar_t value[2048] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value)) return std::wstring();
  std::wstring path = L"Z:";
  path += value;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// Bytes that no other file has: a stale copy from a cache or another test cannot pass for them.
std::string UniqueBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned value = seed * 2654435761u + GetTickCount();
  for (char& b : bytes) {
    value = value * 1103515245u + 12345u;
    b = static_cast<char>(value >> 23);
  }
  return bytes;
}

struct HttpReply {
  bool answered = false;
  DWORD status = 0;
  bool hasLength = false;
  DWORD contentLength = 0;
  std::string body;
  std::string error;
};

// GET `url` with WinINet through `proxy` (host:port), bypassing the cache.
HttpReply GetThroughProxy(const std::wstring& proxy, const std::wstring& url) {
  HttpReply reply;
  HINTERNET session = InternetOpenW(L"Plinthware fixture check", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
  if (!session) {
    reply.error = "InternetOpenW: error " + std::to_string(GetLastError());
    return reply;
  }
  HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES,
                                       0);
  if (!request) {
    reply.error = "InternetOpenUrlW: error " + std::to_string(GetLastError());
    InternetCloseHandle(session);
    return reply;
  }
  reply.answered = true;
  DWORD size = sizeof reply.status;
  HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &reply.status, &size, nullptr);
  size = sizeof reply.contentLength;
  reply.hasLength = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &reply.contentLength,
                                   &size, nullptr) != FALSE;
  char chunk[16384];
  DWORD got = 0;
  while (InternetReadFile(request, chunk, sizeof chunk, &got) && got > 0) reply.body.append(chunk, got);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  return reply;
}

// The environment of this process with http_proxy replaced, as a CreateProcessW block.
std::vector<wchar_t> EnvironmentWithProxy(const std::wstring& proxy) {
  std::vector<wchar_t> block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"http_proxy=", 11) == 0) continue;
    block.insert(block.end(), entry, entry + wcslen(entry) + 1);
  }
  FreeEnvironmentStringsW(strings);
  const std::wstring setting = L"http_proxy=" + proxy;
  block.insert(block.end(), setting.c_str(), setting.c_str() + setting.size() + 1);
  block.push_back(L'\0');
  return block;
}

// requests.log holds a line for an absolute-form GET of http://HOST[:80]PATH with Host HOST.
bool Logged(const std::string& log, const std::string& host, const std::string& path, int status) {
  const std::string tail = path + " HTTP/1.1\" host=\"" + host + "\" status=" + std::to_string(status) + " ";
  for (const std::string& prefix : {"GET http://" + host, "GET http://" + host + ":80"}) {
    if (log.find("\"" + prefix + tail) != std::string::npos) return true;
  }
  return false;
}

class NginxTest : public testing::Test {
protected:
  void SetUp() override {
    docroot_ = UnixPathVariable(L"PLINTHWARE_NGINX_DOCROOT");
    const std::wstring proxyFile = UnixPathVariable(L"PLINTHWARE_NGINX_PROXY_FILE");
    ASSERT_FALSE(docroot_.empty() || proxyFile.empty()) << "run through CTest with the fixture nginx_server";
    proxyUrl_ = Widen(ReadBytes(proxyFile));
    ASSERT_EQ(0u, proxyUrl_.rfind(L"http://127.0.0.1:", 0))
        << Narrow(proxyFile) << " holds \"" << Narrow(proxyUrl_) << "\"";
    proxyHost_ = proxyUrl_.substr(7);
    folder_ = docroot_ + L"\\plinthware";
    CreateDirectoryW(folder_.c_str(), nullptr);
    info_ = "[platform_win8]\r\nVersion=1.0.0.6\r\nLocation=http://download.orvane.com/plinthware/vrel_setup.exe\r\n"
            "InstConfig=vrel_setup.exe /S\r\n; " +
            std::to_string(GetTickCount()) + "\r\n";
    package_ = UniqueBytes(3 * 1024 * 1024 + 17, 1);
    ASSERT_TRUE(WriteBytes(folder_ + L"\\vrel_info.ini", info_));
    ASSERT_TRUE(WriteBytes(folder_ + L"\\vrel_setup.exe", package_));
    DeleteFileW((folder_ + L"\\missing.ini").c_str());
  }

  void TearDown() override {
    DeleteFileW((folder_ + L"\\vrel_info.ini").c_str());
    DeleteFileW((folder_ + L"\\vrel_setup.exe").c_str());
  }

  // The lines nginx logged, one per request (the folder above the docroot holds requests.log).
  std::string RequestLog() const { return ReadBytes(docroot_ + L"\\..\\requests.log"); }

  std::wstring docroot_;
  std::wstring proxyUrl_;  // http://127.0.0.1:PORT
  std::wstring proxyHost_; // 127.0.0.1:PORT
  std::wstring folder_;
  std::string info_;
  std::string package_;
};

struct RequestCase {
  const char* name;
  const wchar_t* url;
  DWORD status;
  int file; // 0: none, 1: the Info file, 2: the package
};

const RequestCase kRequestCases[] = {
    {"Info file at the fixed address", L"http://download.orvane.com/plinthware/vrel_info.ini", 200, 1},
    {"package beside it", L"http://download.orvane.com/plinthware/vrel_setup.exe", 200, 2},
    {"explicit port 80", L"http://download.orvane.com:80/plinthware/vrel_info.ini", 200, 1},
    {"any other host", L"http://mirror.example.invalid/plinthware/vrel_info.ini", 200, 1},
    {"missing file", L"http://download.orvane.com/plinthware/missing.ini", 404, 0},
};

TEST_F(NginxTest, AnswersWinInetThroughTheProxy) {
  const size_t logStart = RequestLog().size(); // the log is the fixture's, shared by every test
  for (const RequestCase& c : kRequestCases) {
    SCOPED_TRACE(c.name);
    const HttpReply reply = GetThroughProxy(proxyHost_, c.url);
    ASSERT_TRUE(reply.answered) << reply.error;
    EXPECT_EQ(c.status, reply.status);
    if (c.file == 0) continue;
    const std::string& expected = c.file == 1 ? info_ : package_;
    EXPECT_TRUE(reply.hasLength) << "no Content-Length";
    EXPECT_EQ(expected.size(), reply.contentLength);
    EXPECT_EQ(expected.size(), reply.body.size());
    EXPECT_TRUE(reply.body == expected) << "the body differs from the docroot's file; it begins: "
                                        << reply.body.substr(0, 80);
  }
  // nginx saw the absolute-form requests that a proxy receives, with the original Host.
  const std::string log = RequestLog().substr(logStart);
  EXPECT_TRUE(Logged(log, "download.orvane.com", "/plinthware/vrel_info.ini", 200)) << log;
  EXPECT_TRUE(Logged(log, "mirror.example.invalid", "/plinthware/vrel_info.ini", 200)) << log;
  EXPECT_TRUE(Logged(log, "download.orvane.com", "/plinthware/missing.ini", 404)) << log;
}

struct DownloadCase {
  const char* name;
  const wchar_t* url;
  int file; // 1: the Info file, 2: the package
};

const DownloadCase kDownloadCases[] = {
    {"Info file", L"http://download.orvane.com/plinthware/vrel_info.ini", 1},
    {"package", L"http://download.orvane.com/plinthware/vrel_setup.exe", 2},
};

// A process that finds the proxy only in http_proxy, as the updater does, downloads the files.
TEST_F(NginxTest, ServesUrlDownloadToFileThroughHttpProxy) {
  const std::wstring probe = ProgramFolder() + L"\\package_fetch_probe.exe";
  ASSERT_TRUE(FileExists(probe)) << Narrow(probe);
  std::vector<wchar_t> environment = EnvironmentWithProxy(proxyUrl_);
  TempDir temp;
  for (const DownloadCase& c : kDownloadCases) {
    SCOPED_TRACE(c.name);
    const std::wstring destination = temp.file(c.file == 1 ? L"vrel_info" : L"vrel_setup.exe");
    const std::wstring result = temp.file(L"result.txt");
    std::wstring commandLine = L"\"" + probe + L"\" \"" + c.url + L"\" \"" + destination + L"\" \"" + result + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(probe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                               environment.data(), temp.path().c_str(), &startup, &process))
        << "error " << GetLastError();
    const DWORD waited = WaitForSingleObject(process.hProcess, kProbeEndMs);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "the download did not end";
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ("hr=0x00000000 status=200", ReadBytes(result));
    const std::string& expected = c.file == 1 ? info_ : package_;
    const std::string got = ReadBytes(destination);
    EXPECT_EQ(expected.size(), got.size());
    EXPECT_TRUE(got == expected) << "the downloaded file differs from the docroot's";
  }
}

} // namespace
