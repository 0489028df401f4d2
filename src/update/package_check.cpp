// SHA-256 of a package through CNG (bcrypt) and the Sha256 text check. No process-wide state;
// runs on whichever thread calls it (the Installer thread in the updater).
#include "update/package_check.h"

#include <bcrypt.h>

#include "download/system_libraries.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

// bcrypt.dll is not among the KnownDLLs: it is loaded from the system directory when first
// needed rather than imported, so that no copy beside the executable can stand in for it.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
  decltype(&BCryptGetProperty) getProperty;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
};

template <typename Function>
bool Resolve(const char* name, Function* function) {
  *function = ProcedureAs<Function>(SystemProcedure(L"bcrypt.dll", name));
  return *function != nullptr;
}

bool LoadCng(Cng* cng) {
  return Resolve("BCryptOpenAlgorithmProvider", &cng->openAlgorithmProvider) &&
         Resolve("BCryptCloseAlgorithmProvider", &cng->closeAlgorithmProvider) &&
         Resolve("BCryptGetProperty", &cng->getProperty) && Resolve("BCryptCreateHash", &cng->createHash) &&
         Resolve("BCryptHashData", &cng->hashData) && Resolve("BCryptFinishHash", &cng->finishHash) &&
         Resolve("BCryptDestroyHash", &cng->destroyHash);
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The provider and hash object of one hashing, closed in order.
struct HashObjects {
  const Cng& cng;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  explicit HashObjects(const Cng& functions) : cng(functions) {}
  HashObjects(const HashObjects&) = delete;
  HashObjects& operator=(const HashObjects&) = delete;
  ~HashObjects() {
    if (hash) cng.destroyHash(hash);
    if (algorithm) cng.closeAlgorithmProvider(algorithm, 0);
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
  Cng cng = {};
  if (!LoadCng(&cng)) return false;
  HashObjects objects(cng);
  // The object buffer is left to CNG (null, 0): supported from Windows 7; Vista needs one of
  // its own, which the provider's object length says.
  DWORD objectLength = 0, written = 0;
  if (!NT_SUCCESS(cng.openAlgorithmProvider(&objects.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  if (!NT_SUCCESS(cng.getProperty(objects.algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                    sizeof objectLength, &written, 0))) {
    return false;
  }
  BYTE* object = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, objectLength ? objectLength : 1));
  if (!object) return false;
  bool hashed = false;
  if (NT_SUCCESS(cng.createHash(objects.algorithm, &objects.hash, object, objectLength, nullptr, 0, 0))) {
    const DWORD chunk = 64 * 1024;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, chunk));
    hashed = buffer != nullptr;
    for (DWORD got = 0; hashed;) {
      if (!ReadFile(file, buffer, chunk, &got, nullptr)) {
        hashed = false;
      } else if (got == 0) {
        break;
      } else if (!NT_SUCCESS(cng.hashData(objects.hash, buffer, got, 0))) {
        hashed = false;
      }
    }
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    hashed = hashed && NT_SUCCESS(cng.finishHash(objects.hash, digest, kSha256Bytes, 0));
    cng.destroyHash(objects.hash);
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
