// SHA-256 of a package through CNG (bcrypt) and the Sha256 text check. No process-wide state;
// runs on whichever thread calls it (the Installer thread in the updater).
#include "info/package_check.h"

#include "info/sha256.h"

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

} // namespace

bool IsSha256Text(const wchar_t* text) {
  if (!text) return false;
  for (int i = 0; i < kSha256TextChars; ++i) {
    if (HexValue(text[i]) < 0) return false; // the terminator is not a digit either
  }
  return text[kSha256TextChars] == L'\0';
}

bool HashFileSha256(HANDLE file, BYTE digest[kSha256Bytes]) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  Sha256Hash hash;
  const DWORD chunk = 64 * 1024;
  BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, chunk));
  bool hashed = hash.ok() && buffer != nullptr;
  for (DWORD got = 0; hashed;) {
    if (!ReadFile(file, buffer, chunk, &got, nullptr)) {
      hashed = false;
    } else if (got == 0) {
      break;
    } else {
      hashed = hash.Add(buffer, got);
    }
  }
  if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
  return hashed && hash.Finish(digest);
}

bool Sha256TextMatches(const wchar_t* text, const BYTE digest[kSha256Bytes]) {
  if (!IsSha256Text(text)) return false;
  for (int i = 0; i < kSha256Bytes; ++i) {
    int value = HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]);
    if (value != digest[i]) return false;
  }
  return true;
}

HANDLE OpenHeldFile(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool HeldFileMatches(HANDLE file, const wchar_t* text) {
  BYTE digest[kSha256Bytes] = {};
  return IsSha256Text(text) && HashFileSha256(file, digest) && Sha256TextMatches(text, digest);
}

bool OpenMatchingFile(const wchar_t* path, const wchar_t* text, HANDLE* held) {
  *held = nullptr;
  if (!IsSha256Text(text)) return false;
  HANDLE file = OpenHeldFile(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (!HeldFileMatches(file, text)) {
    CloseHandle(file);
    return false;
  }
  *held = file;
  return true;
}
