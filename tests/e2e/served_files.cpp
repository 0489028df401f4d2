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

ServedFiles::~ServedFiles() {
  for (const std::wstring& path : written_) DeleteFileW(path.c_str());
}

bool ServedFiles::Serve(const std::string& urlPath, const std::string& bytes) {
  std::wstring root = Docroot();
  if (root.empty() || urlPath.empty() || urlPath[0] != '/') return false;
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
  // A stale fault sidecar from an earlier run would change what the path serves.
  DeleteFileW((path + L".fault").c_str());
  if (!testing_support::WriteBytes(path, bytes)) return false;
  written_.push_back(path);
  return true;
}

bool ServedFiles::ServeFile(const std::string& urlPath, const std::wstring& localPath) {
  std::string bytes = testing_support::ReadBytes(localPath);
  return !bytes.empty() && Serve(urlPath, bytes);
}

} // namespace e2e
