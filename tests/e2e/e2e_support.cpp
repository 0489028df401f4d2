// Shared pieces of the end-to-end tests; see e2e_support.h.
#include "e2e/e2e_support.h"

#include <bcrypt.h>
#include <tlhelp32.h>

#include <algorithm>

namespace e2e {

const wchar_t kAutolaunchKey[] = L"SOFTWARE\\Orvane\\autolaunch";

namespace {

// Waits for every running qentraSvc.exe to end, so that its program file can be deleted.
void WaitForCompanionsToEnd(DWORD timeoutMs) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"qentraSvc.exe") != 0) continue;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (process) {
      WaitForSingleObject(process, timeoutMs);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

} // namespace

std::string Sha256Hex(const std::wstring& path) {
  using testing_support::ReadBytes;
  std::string bytes = ReadBytes(path);
  if (bytes.empty()) return std::string();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return "";
  BCRYPT_HASH_HANDLE hash = nullptr;
  UCHAR digest[32] = {};
  bool hashed = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
                BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(&bytes[0]), static_cast<ULONG>(bytes.size()), 0)) &&
                BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!hashed) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (UCHAR b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::wstring FromEnvironment(const wchar_t* name) {
  wchar_t value[4096] = {};
  DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? driver::WindowsPathOf(value) : std::wstring();
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(ARRAYSIZE(folder), folder);
  return std::wstring(folder) + name;
}

std::wstring PackageFile(const wchar_t* name) {
  std::wstring folder = FromEnvironment(L"PLINTHWARE_PACKAGES_DIR");
  return folder.empty() ? folder : folder + L"\\" + name;
}

std::wstring UpdaterPath() { return FromEnvironment(L"PLINTHWARE_UPDATER_EXE"); }
std::wstring CompanionPath() { return FromEnvironment(L"PLINTHWARE_QENTRASVC_EXE"); }
std::wstring SlowTaskUpdaterPath() { return FromEnvironment(L"PLINTHWARE_SLOW_TASK_UPDATER_EXE"); }

std::wstring SystemDirectory() {
  wchar_t directory[MAX_PATH] = {};
  GetSystemDirectoryW(directory, ARRAYSIZE(directory));
  return directory;
}

driver::LaunchOptions UpdaterOptions(const std::wstring& arguments, const std::wstring& program) {
  driver::LaunchOptions options;
  options.program = program.empty() ? UpdaterPath() : program;
  options.arguments = arguments;
  // Port 9 (discard) on the loopback: the connection is refused at once.
  options.environment.push_back({L"http_proxy", L"http://127.0.0.1:9", false});
  return options;
}

driver::LaunchOptions ServedUpdaterOptions(const std::wstring& arguments) {
  driver::LaunchOptions options;
  options.program = UpdaterPath();
  options.arguments = arguments;
  return options;
}

void DeleteInstallMarker() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, L"installed");
    RegCloseKey(key);
  }
}

driver::RegistryValue ReadInstallMarker() {
  return driver::ReadRegistryValue(HKEY_LOCAL_MACHINE, kAutolaunchKey, L"installed");
}

std::vector<std::string> ShutdownOutputs(bool companionStarts) {
  std::string system = driver::Utf8(SystemDirectory());
  std::vector<std::string> outputs = {system, system + "\\sc.exe stop qentraSvc", "launch stop service success\n",
                                      system, system + "\\qentraSvc.exe"};
  if (companionStarts) {
    outputs.push_back("launch rureg service success\n");
  } else {
    outputs.push_back("launch unreg service fail\n");
    outputs.push_back("unreg service fail\n");
  }
  return outputs;
}

static std::string Listing(const std::vector<std::string>& messages) {
  std::string out;
  for (const std::string& m : messages) out += "\n  \"" + driver::Printable(m) + "\"";
  return out;
}

testing::AssertionResult EndsWithShutdownOutputs(const std::vector<std::string>& messages, bool companionStarts) {
  std::vector<std::string> expected = ShutdownOutputs(companionStarts);
  bool ends = messages.size() >= expected.size() &&
              std::equal(expected.begin(), expected.end(), messages.end() - expected.size());
  if (ends) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the debugger output does not end with the shutdown outputs" << Listing(expected)
                                     << "\nit was:" << Listing(messages);
}

testing::AssertionResult HasNoServiceCommands(const std::vector<std::string>& messages) {
  for (const std::string& m : messages) {
    if (m.find("sc.exe") != std::string::npos || m.find("qentraSvc") != std::string::npos ||
        m.find("service") != std::string::npos)
      return testing::AssertionFailure() << "service command output \"" << driver::Printable(m) << "\" in:"
                                         << Listing(messages);
  }
  return testing::AssertionSuccess();
}

CommandRecord::CommandRecord() : path_(folder_.file(L"commands.log")) {
  recorded_ = CreateEventW(nullptr, FALSE, FALSE, L"qentraSvc.recorded");
}

CommandRecord::~CommandRecord() {
  if (recorded_) CloseHandle(recorded_);
}

driver::EnvironmentSetting CommandRecord::Setting() const { return {L"QENTRASVC_RECORD", path_, false}; }

bool CommandRecord::WaitForRecord(DWORD timeoutMs) const {
  return recorded_ && WaitForSingleObject(recorded_, timeoutMs) == WAIT_OBJECT_0;
}

std::string CommandRecord::Text() const { return testing_support::ReadBytes(path_); }

std::vector<std::string> CommandRecord::OpenedAddresses() const {
  WaitForCompanionsToEnd(kEndMs);
  std::vector<std::string> addresses;
  std::string text = Text();
  // Each run of the link handler: ["<program>" "<address>"]
  for (size_t end = text.find("\"]\r\n"); end != std::string::npos; end = text.find("\"]\r\n", end + 1)) {
    size_t start = text.rfind(" \"", end);
    if (start != std::string::npos && text.compare(start + 2, 4, "http") == 0)
      addresses.push_back(text.substr(start + 2, end - start - 2));
  }
  return addresses;
}

PlacedCompanion::PlacedCompanion() {
  std::wstring target = SystemDirectory() + L"\\qentraSvc.exe";
  placed_ = record_.ready() && CopyFileW(CompanionPath().c_str(), target.c_str(), FALSE);
}

PlacedCompanion::~PlacedCompanion() { RemoveCompanion(); }

bool RemoveCompanion() {
  std::wstring target = SystemDirectory() + L"\\qentraSvc.exe";
  WaitForCompanionsToEnd(5000);
  DeleteFileW(target.c_str());
  return !testing_support::FileExists(target);
}

ScopedWineVersion::ScopedWineVersion(const std::wstring& exeName, const std::wstring& version)
    : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  set_ = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                        static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
}

ScopedWineVersion::~ScopedWineVersion() { testing_support::DeleteRegistryTree(HKEY_CURRENT_USER, key_.c_str()); }

ScopedInstalledVersion::ScopedInstalledVersion(const std::wstring& version) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return;
  set_ = RegSetValueExW(key, L"installed_version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                        static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
}

ScopedInstalledVersion::~ScopedInstalledVersion() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutolaunchKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, L"installed_version");
    RegCloseKey(key);
  }
}

} // namespace e2e
