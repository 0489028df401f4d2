// Helpers shared by the test programs: temporary folders and files, registry keys, waiting with
// a deadline while the message queue is served, and capturing the debugger output.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the Windows temporary folder, deleted with its contents on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
  std::wstring path_;
};

bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool WriteUtf16File(const std::wstring& path, const std::wstring& text); // with a byte-order mark
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
// The error of opening `path` for `access` (GENERIC_WRITE, DELETE) with full sharing; 0 when it
// opens. Such an open fails only where an open handle shares no such access.
DWORD FullSharingOpenError(const std::wstring& path, DWORD access);
void DeleteTree(const std::wstring& path);

std::string Narrow(const std::wstring& text); // UTF-8, for failure messages
// `days` from now in the form of an Info file's Expires (whole seconds: the fraction cut).
std::string ExpiresIn(int days);
std::wstring Widen(const std::string& text);  // from UTF-8

// The folder of the running test program, with no trailing backslash.
std::wstring ProgramFolder();

// Serves this thread's message queue until `done` holds or `timeoutMs` passes; returns `done()`.
// Waits on the queue itself, so it wakes for each message that arrives.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Deletes a key under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER with everything below it.
void DeleteRegistryTree(HKEY root, const wchar_t* subkey);

// Listens on the system-wide debugger output channel (DBWIN_BUFFER) and keeps the texts that one
// process writes. Only one listener may run on a machine at a time: CTest entries that use it
// share the `dbwin` resource lock.
class DebugOutputCapture {
public:
  explicit DebugOutputCapture(DWORD processId = GetCurrentProcessId());
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::vector<std::string> messages() const; // one per OutputDebugString call, in order
  std::string joined() const;                // all of them, concatenated
  // Waits until a message containing `text` has arrived.
  bool WaitFor(const std::string& text, DWORD timeoutMs) const;
  void Clear();

private:
  static DWORD WINAPI Listen(void* self);
  DWORD processId_;
  HANDLE bufferReady_ = nullptr;
  HANDLE dataReady_ = nullptr;
  HANDLE mapping_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE arrived_ = nullptr;
  HANDLE thread_ = nullptr;
  void* view_ = nullptr;
  mutable CRITICAL_SECTION lock_;
  std::vector<std::string> messages_;
};

} // namespace testing_support
