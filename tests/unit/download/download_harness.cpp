// The download tests' shared setting; see download_harness.h. Also the test program's global
// environment: COM as the updater's UI thread has it, the common controls of the dialog, and a
// proxy bypass for 127.0.0.1 so that a refused connection can be tried.
#include "download_harness.h"

#include <winsock2.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <strsafe.h>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/workflow.h"
#include "download/download_jobs.h"
#include "download/watchdog.h"
#include "res/resource.h"
#include "info/platform.h"

using testing_support::Narrow;
using testing_support::Widen;

namespace download_testing {

namespace {

const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kMainClass[] = L"DownloadTestMain";

std::vector<WorkflowRecord> g_records; // filled by the main window on the test's UI thread

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WORKFLOW) {
    g_records.push_back({wParam, GetTickCount()});
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The dialog only has to exist: its controls are what the download engine drives.
INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG ? TRUE : FALSE; }

// WinINet reads its proxy settings once per process, so the bypass is set before any download.
class DownloadEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LINK_CLASS | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    g_instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainProc;
    windowClass.hInstance = g_instance;
    windowClass.lpszClassName = kMainClass;
    RegisterClassExW(&windowClass);

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      wchar_t old[512] = {};
      DWORD size = sizeof old - sizeof(wchar_t);
      hadBypass_ = RegQueryValueExW(key, L"ProxyOverride", nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) ==
                   ERROR_SUCCESS;
      if (hadBypass_) savedBypass_ = old;
      const wchar_t bypass[] = L"127.0.0.1";
      RegSetValueExW(key, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(bypass), sizeof bypass);
      RegCloseKey(key);
    }
  }

  void TearDown() override {
    WatchdogStop();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      if (hadBypass_) {
        RegSetValueExW(key, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(savedBypass_.c_str()),
                       static_cast<DWORD>((savedBypass_.size() + 1) * sizeof(wchar_t)));
      } else {
        RegDeleteValueW(key, L"ProxyOverride");
      }
      RegCloseKey(key);
    }
    CoUninitialize();
  }

private:
  bool hadBypass_ = false;
  std::wstring savedBypass_;
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new DownloadEnvironment);

} // namespace

UpdaterWindows::UpdaterWindows() {
  g_records.clear();
  main_ = CreateWindowExW(0, kMainClass, L"download test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                          g_instance, nullptr);
  dialog_ = CreateDialogParamW(g_instance, MAKEINTRESOURCEW(IDD_UPDATER), main_, DialogProc, 0);
  g_mainWindow = main_;
  g_dialog = dialog_;
}

UpdaterWindows::~UpdaterWindows() {
  g_dialog = nullptr;
  g_mainWindow = nullptr;
  if (dialog_) DestroyWindow(dialog_);
  if (main_) DestroyWindow(main_);
  // Whatever a late worker still posts goes to a window that no longer exists.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

std::vector<WorkflowRecord> UpdaterWindows::records() const { return g_records; }

void UpdaterWindows::ClearRecords() { g_records.clear(); }

std::string UpdaterWindows::Codes() const {
  std::string codes;
  for (const WorkflowRecord& record : g_records) {
    if (!codes.empty()) codes += ",";
    codes += std::to_string(record.code);
  }
  return codes;
}

bool UpdaterWindows::WaitForRecords(size_t count, DWORD timeoutMs) const {
  return testing_support::PumpUntil([count] { return g_records.size() >= count; }, timeoutMs);
}

std::wstring UpdaterWindows::Text(int controlId) const {
  wchar_t text[512] = {};
  GetWindowTextW(GetDlgItem(dialog_, controlId), text, ARRAYSIZE(text));
  return text;
}

bool UpdaterWindows::Visible(int controlId) const {
  return (GetWindowLongW(GetDlgItem(dialog_, controlId), GWL_STYLE) & WS_VISIBLE) != 0;
}

int UpdaterWindows::ProgressHigh() const {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog_, IDC_UPDATER_PROGRESS), PBM_GETRANGE, FALSE, 0));
}

int UpdaterWindows::ProgressPos() const {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog_, IDC_UPDATER_PROGRESS), PBM_GETPOS, 0, 0));
}

static bool ReadVariable(const wchar_t* name, std::wstring* value) {
  wchar_t buffer[4096];
  DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
  if (length == 0 || length >= ARRAYSIZE(buffer)) return false;
  *value = buffer;
  return true;
}

TempFolder::TempFolder() : TempFolder(std::wstring()) {}

TempFolder::TempFolder(const std::wstring& forcedTmp) {
  hadTmp_ = ReadVariable(L"TMP", &savedTmp_);
  hadTemp_ = ReadVariable(L"TEMP", &savedTemp_);
  const std::wstring& tmp = forcedTmp.empty() ? dir_.path() : forcedTmp;
  SetEnvironmentVariableW(L"TMP", tmp.c_str());
  SetEnvironmentVariableW(L"TEMP", tmp.c_str());
}

TempFolder::~TempFolder() {
  SetEnvironmentVariableW(L"TMP", hadTmp_ ? savedTmp_.c_str() : nullptr);
  SetEnvironmentVariableW(L"TEMP", hadTemp_ ? savedTemp_.c_str() : nullptr);
}

std::wstring Docroot() {
  std::wstring unixPath;
  if (!ReadVariable(L"PLINTHWARE_TEST_DOCROOT", &unixPath)) return std::wstring();
  // Wine shows the Unix root as drive Z:.
  for (wchar_t& c : unixPath)
    if (c == L'/') c = L'\\';
  return L"Z:" + unixPath;
}

static std::wstring DocrootFile(const std::string& urlPath) {
  std::wstring path = Docroot() + Widen(urlPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

static void MakeParentFolders(const std::wstring& file) {
  for (size_t slash = file.find(L'\\', 3); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1))
    CreateDirectoryW(file.substr(0, slash).c_str(), nullptr);
}

void Publish(const std::string& urlPath, const std::string& bytes, const std::string& fault) {
  std::wstring file = DocrootFile(urlPath);
  MakeParentFolders(file);
  // The sidecar first, so the server never serves the new body with the old behaviour.
  DeleteFileW((file + L".sent").c_str());
  if (fault.empty()) {
    DeleteFileW((file + L".fault").c_str());
  } else {
    ASSERT_TRUE(testing_support::WriteBytes(file + L".fault", fault + "\n")) << Narrow(file);
  }
  ASSERT_TRUE(testing_support::WriteBytes(file, bytes)) << Narrow(file);
}

void Unpublish(const std::string& urlPath) {
  std::wstring file = DocrootFile(urlPath);
  DeleteFileW((file + L".fault").c_str());
  DeleteFileW(file.c_str());
}

std::wstring ServedUrl(const std::string& urlPath) { return L"http://download.orvane.com" + Widen(urlPath); }

std::string InfoFileUrlPath() {
  std::string url = Narrow(kInfoFileUrl);
  size_t host = url.find("://");
  size_t path = url.find('/', host == std::string::npos ? 0 : host + 3);
  return path == std::string::npos ? "/" : url.substr(path);
}

std::string Content(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 12345u;
  for (char& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 16);
  }
  // Begins as an Info file does, so that an Info file download of it is judged one.
  const std::string section = "[platform_win8]\r\n";
  if (size >= section.size()) bytes.replace(0, section.size(), section);
  return bytes;
}

std::wstring RefusedUrl() {
  // A port that was free a moment ago: bound, read, and closed again.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(probe);
  WSACleanup();
  return L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/refused/vrel_setup.exe";
}

void WriteInfoFile(const std::wstring& folder, const wchar_t* location, const wchar_t* size) {
  StringCchCopyW(g_platformSection, kPlatformSectionChars, L"DownloadTest");
  std::wstring path = folder + L"info-under-test.ini";
  DeleteFileW(path.c_str());
  WritePrivateProfileStringW(L"DownloadTest", L"Version", L"9.9.9.9", path.c_str());
  if (location) WritePrivateProfileStringW(L"DownloadTest", L"Location", location, path.c_str());
  if (size) WritePrivateProfileStringW(L"DownloadTest", L"Size", size, path.c_str());
  StringCchCopyW(g_infoFilePath, kPathChars, path.c_str());
  LoadPlatformValues();
}

bool WaitForDownloadThread(DWORD timeoutMs) {
  HANDLE thread = g_downloadThread;
  if (!thread) return true;
  return testing_support::PumpUntil([thread] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, timeoutMs);
}

static void CollectFiles(const std::wstring& folder, const std::wstring& stem, std::set<std::wstring>* found) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
    std::wstring name = entry.cFileName, path = folder + L"\\" + name;
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (name.compare(0, stem.size(), stem) == 0) found->insert(path);
    } else if (name != L"." && name != L"..") {
      CollectFiles(path, stem, found);
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

std::set<std::wstring> CacheFiles(const std::wstring& stem) {
  std::set<std::wstring> found;
  wchar_t folder[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, folder))) CollectFiles(folder, stem, &found);
  return found;
}

} // namespace download_testing
