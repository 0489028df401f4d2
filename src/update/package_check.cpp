// SHA-256 of a package through CNG (bcrypt) and the Sha256 text check. No process-wide state;
// runs on whichever thread calls it (the Installer thread in the updater).
#include "update/package_check.h"

#include <bcrypt.h>

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The provider and hash object of one hashing, closed in order.
struct HashObjects {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  HashObjects() = default;
  HashObjects(const HashObjects&) = delete;
  HashObjects& operator=(const HashObjects&) = delete;
  ~HashObjects() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

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
  HashObjects objects;
  // The object buffer is left to CNG (null, 0): supported from Windows 7; Vista needs one of
  // its own, which the provider's object length says.
  DWORD objectLength = 0, written = 0;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&objects.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  if (!NT_SUCCESS(BCryptGetProperty(objects.algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                    sizeof objectLength, &written, 0))) {
    return false;
  }
  BYTE* object = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, objectLength ? objectLength : 1));
  if (!object) return false;
  bool hashed = false;
  if (NT_SUCCESS(BCryptCreateHash(objects.algorithm, &objects.hash, object, objectLength, nullptr, 0, 0))) {
    const DWORD chunk = 64 * 1024;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, chunk));
    hashed = buffer != nullptr;
    for (DWORD got = 0; hashed;) {
      if (!ReadFile(file, buffer, chunk, &got, nullptr)) {
        hashed = false;
      } else if (got == 0) {
        break;
      } else if (!NT_SUCCESS(BCryptHashData(objects.hash, buffer, got, 0))) {
        hashed = false;
      }
    }
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    hashed = hashed && NT_SUCCESS(BCryptFinishHash(objects.hash, digest, kSha256Bytes, 0));
    BCryptDestroyHash(objects.hash);
    objects.hash = nullptr;
  }
  HeapFree(GetProcessHeap(), 0, object);
  return hashed;
}

bool Sha256TextMatches(const wchar_t* text, const BYTE digest[kSha256Bytes]) {
  if (!IsSha256Text(text)) return false;
  for (int i = 0; i < kSha256Bytes; ++i) {
    int value = HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]);
    if (value != digest[i]) return false;
  }
  return true;
}

bool OpenMatchingFile(const wchar_t* path, const wchar_t* text, HANDLE* held) {
  *held = nullptr;
  if (!IsSha256Text(text)) return false;
  // No write or delete sharing: nobody can change or replace the file while this handle lives.
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BYTE digest[kSha256Bytes] = {};
  if (!HashFileSha256(file, digest) || !Sha256TextMatches(text, digest)) {
    CloseHandle(file);
    return false;
  }
  *held = file;
  return true;
}
