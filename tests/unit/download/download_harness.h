// What the download tests share: the updater dialog and a main window of the test's own that
// records Workflow messages, a private temporary folder, and publishing files on the test web
// server (tools/testserver) that every test program reaches as its HTTP proxy.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace download_testing {

// One Workflow message as the main window received it.
struct WorkflowRecord {
  WPARAM code;
  DWORD tick; // GetTickCount at arrival
};

// Creates the updater dialog from template 129 (with a do-nothing dialog procedure) owned by a
// hidden window of the test, and points g_dialog and g_mainWindow at them. UI thread of the test.
class UpdaterWindows {
public:
  UpdaterWindows();
  ~UpdaterWindows();
  UpdaterWindows(const UpdaterWindows&) = delete;
  UpdaterWindows& operator=(const UpdaterWindows&) = delete;

  HWND dialog() const { return dialog_; }
  std::vector<WorkflowRecord> records() const;
  void ClearRecords();
  std::string Codes() const; // e.g. "2" or "3,3", for failure messages and comparisons

  // Serves messages until `count` Workflow messages have arrived or `timeoutMs` passes.
  bool WaitForRecords(size_t count, DWORD timeoutMs) const;

  std::wstring Text(int controlId) const;
  bool Visible(int controlId) const;
  int ProgressHigh() const; // upper end of the progress bar's range
  int ProgressPos() const;

private:
  HWND main_ = nullptr;
  HWND dialog_ = nullptr;
};

// Points TMP (and TEMP) at a fresh folder for its lifetime, so GetTempPathW names it.
class TempFolder {
public:
  TempFolder();
  explicit TempFolder(const std::wstring& forcedTmp); // TMP set to this text as it is
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder as GetTempPathW gives it: with its trailing backslash.
  std::wstring path() const { return dir_.path() + L"\\"; }

private:
  testing_support::TempDir dir_;
  std::wstring savedTmp_, savedTemp_;
  bool hadTmp_ = false, hadTemp_ = false;
};

// The test server's docroot as a Windows path (from PLINTHWARE_TEST_DOCROOT); empty without one.
std::wstring Docroot();

// Serves `bytes` at `urlPath` (e.g. "/download-tests/ok/setup.bin"), misbehaving as `fault`
// says (tools/testserver/README.md), or normally when `fault` is empty.
void Publish(const std::string& urlPath, const std::string& bytes, const std::string& fault = "");
void Unpublish(const std::string& urlPath);

// The address under which the server answers `urlPath` (through the proxy, host ignored).
std::wstring ServedUrl(const std::string& urlPath);

// The path part of the compiled-in Info-file address.
std::string InfoFileUrlPath();

// `size` bytes of varied content, different for different seeds.
std::string Content(size_t size, unsigned seed);

// An address on 127.0.0.1 (bypassing the proxy) where nothing listens.
std::wstring RefusedUrl();

// Makes g_infoFilePath an Info file of its own in `folder` whose Platform section names
// `location` and `size` (no key at all when null).
void WriteInfoFile(const std::wstring& folder, const wchar_t* location, const wchar_t* size = nullptr);

// Waits, serving messages, until the latest Download thread has ended.
bool WaitForDownloadThread(DWORD timeoutMs);

// The files in WinINet's cache folder whose names begin with `stem`: the cache names its copy
// after the address's file name ("vrel_info[1].ini" for vrel_info.ini), committed or not.
std::set<std::wstring> CacheFiles(const std::wstring& stem);

} // namespace download_testing
