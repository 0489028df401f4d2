// Shared test helpers; see test_support.h.
#include "support/test_support.h"

#include <shellapi.h>

#include "info/info_freshness.h"

namespace testing_support {

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static LONG counter = 0;
  for (;;) {
    wchar_t name[MAX_PATH + 64];
    wsprintfW(name, L"%splinthware-test-%lu-%ld-%lu", base, GetCurrentProcessId(),
              InterlockedIncrement(&counter), GetTickCount());
    if (CreateDirectoryW(name, nullptr)) {
      path_ = name;
      return;
    }
  }
}

TempDir::~TempDir() { DeleteTree(path_); }

void DeleteTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

DWORD FullSharingOpenError(const std::wstring& path, DWORD access) {
  HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return 0;
}

bool WriteUtf16File(const std::wstring& path, const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return WriteBytes(path, bytes);
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return done();
    // Wakes for every message; the cap lets conditions that no message announces be seen too.
    DWORD wait = timeoutMs - elapsed;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait < 20 ? wait : 20, QS_ALLINPUT);
  }
}

void DeleteRegistryTree(HKEY root, const wchar_t* subkey) {
  RegDeleteTreeW(root, subkey);
  RegDeleteKeyW(root, subkey);
}

DebugOutputCapture::DebugOutputCapture(DWORD processId) : processId_(processId) {
  InitializeCriticalSection(&lock_);
  bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
  view_ = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096) : nullptr;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  arrived_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, Listen, this, 0, nullptr);
}

DebugOutputCapture::~DebugOutputCapture() {
  SetEvent(stop_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  if (view_) UnmapViewOfFile(view_);
  for (HANDLE h : {mapping_, bufferReady_, dataReady_, stop_, arrived_})
    if (h) CloseHandle(h);
  DeleteCriticalSection(&lock_);
}

DWORD WINAPI DebugOutputCapture::Listen(void* self) {
  auto* capture = static_cast<DebugOutputCapture*>(self);
  HANDLE waits[2] = {capture->stop_, capture->dataReady_};
  SetEvent(capture->bufferReady_);
  for (;;) {
    DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (which != WAIT_OBJECT_0 + 1) return 0;
    const char* view = static_cast<const char*>(capture->view_);
    DWORD pid = *reinterpret_cast<const DWORD*>(view);
    std::string text(view + sizeof(DWORD), strnlen(view + sizeof(DWORD), 4096 - sizeof(DWORD)));
    if (pid == capture->processId_) {
      EnterCriticalSection(&capture->lock_);
      capture->messages_.push_back(text);
      LeaveCriticalSection(&capture->lock_);
      SetEvent(capture->arrived_);
    }
    SetEvent(capture->bufferReady_);
  }
}

std::vector<std::string> DebugOutputCapture::messages() const {
  EnterCriticalSection(&lock_);
  std::vector<std::string> copy = messages_;
  LeaveCriticalSection(&lock_);
  return copy;
}

std::string DebugOutputCapture::joined() const {
  std::string all;
  for (const std::string& m : messages()) all += m;
  return all;
}

bool DebugOutputCapture::WaitFor(const std::string& text, DWORD timeoutMs) const {
  DWORD start = GetTickCount();
  for (;;) {
    if (joined().find(text) != std::string::npos) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    WaitForSingleObject(arrived_, timeoutMs - elapsed);
  }
}

void DebugOutputCapture::Clear() {
  EnterCriticalSection(&lock_);
  messages_.clear();
  LeaveCriticalSection(&lock_);
}

std::string ExpiresIn(int days) {
  FILETIME clock = {};
  GetSystemTimeAsFileTime(&clock);
  LONGLONG now = static_cast<LONGLONG>((static_cast<ULONGLONG>(clock.dwHighDateTime) << 32) | clock.dwLowDateTime);
  wchar_t text[kInfoTimeChars] = {};
  FormatInfoTime(static_cast<ULONGLONG>(now + days * 86400LL * 10000000LL), text);
  return Narrow(text);
}

} // namespace testing_support
