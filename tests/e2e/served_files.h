// Files that the test web server (fixture `http_server`) serves for one test: written under its
// docroot by URL path, removed again on destruction. Test thread only.
#pragma once
#include <string>
#include <vector>

namespace e2e {

// The docroot as a Windows path (PLINTHWARE_TEST_DOCROOT, under Z:), empty without the server.
std::wstring Docroot();
// How many requests for `urlPath` the server's requests.log holds so far.
int RequestCount(const std::string& urlPath);

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
  // Makes `urlPath` misbehave as the sidecar text says (tools/testserver: "404", "cut 1000", ...).
  bool ServeFault(const std::string& urlPath, const std::string& fault);
  // Serves the file at `urlPath` normally again.
  void ClearFault(const std::string& urlPath);

private:
  // The file under the docroot for `urlPath`, its folders created; empty without the server.
  static std::wstring PathOf(const std::string& urlPath);
  std::vector<std::wstring> written_;
};

} // namespace e2e
