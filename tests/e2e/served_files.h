// Files that the test web server (fixture `http_server`) serves for one test: written under its
// docroot by URL path, removed again on destruction. Test thread only.
#pragma once
#include <string>
#include <vector>

namespace e2e {

// The docroot as a Windows path (PLINTHWARE_TEST_DOCROOT, under Z:), empty without the server.
std::wstring Docroot();

class ServedFiles {
public:
  ServedFiles() = default;
  ~ServedFiles();
  ServedFiles(const ServedFiles&) = delete;
  ServedFiles& operator=(const ServedFiles&) = delete;

  // Serves `bytes` at `urlPath` (for example "/plinthware/vrel_info.ini"), folders included.
  bool Serve(const std::string& urlPath, const std::string& bytes);
  // Serves a copy of a local file.
  bool ServeFile(const std::string& urlPath, const std::wstring& localPath);

private:
  std::vector<std::wstring> written_;
};

} // namespace e2e
