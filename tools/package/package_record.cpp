// Reads the test packages' run record: a UTF-16LE file with a byte-order mark, one "[run]" block
// of key=value lines per run. Runs on the caller's thread.
#include "package/package_record.h"

#include <windows.h>

namespace package_record {

const wchar_t kRecordVariable[] = L"PLINTHWARE_PACKAGE_RECORD";
const wchar_t kHoldVariable[] = L"PLINTHWARE_PACKAGE_HOLD";
const wchar_t kRecordedEvent[] = L"vrel_setup.recorded";

static bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes->append(chunk, got);
  CloseHandle(file);
  return true;
}

// The record's text without its byte-order mark; empty when the file is not UTF-16LE.
static std::wstring RecordText(const std::wstring& path) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes) || bytes.size() < 2) return std::wstring();
  if (static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) {
    return std::wstring();
  }
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

static void Assign(PackageRun* run, const std::wstring& key, const std::wstring& value) {
  if (key == L"command_line") {
    run->commandLine = value;
  } else if (key == L"current_directory") {
    run->currentDirectory = value;
  } else if (key == L"package_version") {
    run->packageVersion = value;
  } else if (key == L"silent") {
    run->silent = value == L"1";
  } else if (key == L"installed_version_written") {
    run->wroteVersion = value == L"1";
  } else if (key == L"held") {
    run->held = value;
  } else if (key == L"exit_code") {
    run->exitCode = _wtoi(value.c_str());
  }
}

std::vector<PackageRun> ReadPackageRecord(const std::wstring& path) {
  std::vector<PackageRun> runs;
  const std::wstring text = RecordText(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(start, end - start);
    start = end + 2;
    if (line == L"[run]") {
      runs.emplace_back();
      continue;
    }
    // Only the first equals sign separates: a command line may hold more of them.
    const size_t equals = line.find(L'=');
    if (runs.empty() || equals == std::wstring::npos) continue;
    Assign(&runs.back(), line.substr(0, equals), line.substr(equals + 1));
  }
  return runs;
}

std::string DescribePackageRecord(const std::wstring& path) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return "(no record file)";
  const std::wstring text = RecordText(path);
  if (text.empty()) return "(not a UTF-16LE record: " + std::to_string(bytes.size()) + " bytes)";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
  }
  return utf8;
}

std::wstring DefaultRecordPath() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(ARRAYSIZE(temp), temp);
  if (length == 0 || length >= ARRAYSIZE(temp)) return std::wstring();
  std::wstring path(temp, length);
  if (path.back() != L'\\') path.push_back(L'\\');
  return path + L"vrel_setup_record.txt";
}

} // namespace package_record
