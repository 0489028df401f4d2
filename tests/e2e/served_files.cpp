// Files served by the test web server for one test; see served_files.h.
#include "e2e/served_files.h"

#include <windows.h>

#include "driver/driver.h"
#include "support/test_support.h"

namespace e2e {

std::wstring Docroot() {
  wchar_t value[4096] = {};
  DWORD length = GetEnvironmentVariableW(L"PLINTHWARE_TEST_DOCROOT", value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? driver::WindowsPathOf(value) : std::wstring();
}

int RequestCount(const std::string& urlPath) {
  // Requests arrive in proxy form: "GET http://host:port/path HTTP/1.1".
  std::string log = testing_support::ReadBytes(Docroot() + L"\\..\\requests.log");
  std::string needle = urlPath + " HTTP/";
  int count = 0;
  for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++count;
  return count;
}

ServedFiles::~ServedFiles() {
  for (const std::wstring& path : written_) DeleteFileW(path.c_str());
}

bool ServedFiles::Serve(const std::string& urlPath, const std::string& bytes) {
  std::wstring path = PathOf(urlPath);
  if (path.empty()) return false;
  // A stale fault sidecar from an earlier run would change what the path serves.
  DeleteFileW((path + L".fault").c_str());
  if (!testing_support::WriteBytes(path, bytes)) return false;
  written_.push_back(path);
  return true;
}

bool ServedFiles::ServeFault(const std::string& urlPath, const std::string& fault) {
  std::wstring path = PathOf(urlPath);
  if (path.empty()) return false;
  path += L".fault";
  if (!testing_support::WriteBytes(path, fault + "\n")) return false;
  written_.push_back(path);
  return true;
}

void ServedFiles::ClearFault(const std::string& urlPath) {
  std::wstring path = PathOf(urlPath);
  if (!path.empty()) DeleteFileW((path + L".fault").c_str());
}

std::wstring ServedFiles::PathOf(const std::string& urlPath) {
  std::wstring root = Docroot();
  if (root.empty() || urlPath.empty() || urlPath[0] != '/') return std::wstring();
  std::wstring path = root;
  std::wstring relative = testing_support::Widen(urlPath);
  for (size_t start = 1; start <= relative.size();) {
    size_t slash = relative.find(L'/', start);
    if (slash == std::wstring::npos) {
      path += L"\\" + relative.substr(start);
      break;
    }
    path += L"\\" + relative.substr(start, slash - start);
    CreateDirectoryW(path.c_str(), nullptr);
    start = slash + 1;
  }
  return path;
}

bool ServedFiles::ServeFile(const std::string& urlPath, const std::wstring& localPath) {
  std::string bytes = testing_support::ReadBytes(localPath);
  return !bytes.empty() && Serve(urlPath, bytes);
}

} // namespace e2e
