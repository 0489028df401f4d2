// keygen, sign and verify for Info files. The private key stays in the maker's file and in this
// tool; the updater only ever holds the public key. Single-threaded.
#include "info_signing.h"

#include <bcrypt.h>
#include <string.h>
#include <strsafe.h>

#include "info_report.h"
#include "info/info_signature.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

namespace {

const char kKeyFileComment[] = "# Plinthware Info-file signing key (ECDSA P-256). Secret: never publish or ship it.\r\n";

// The whole of a file, on the process heap (the caller frees it); null when it cannot be read or
// is larger than an Info file may be.
BYTE* ReadWhole(const wchar_t* path, DWORD* size) {
  *size = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER length = {};
  BYTE* bytes = nullptr;
  if (GetFileSizeEx(file, &length) && length.QuadPart <= kInfoFileMaxBytes) {
    DWORD want = static_cast<DWORD>(length.QuadPart);
    bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, want + 1));
    DWORD got = 0;
    if (bytes && (!ReadFile(file, bytes, want, &got, nullptr) || got != want)) {
      HeapFree(GetProcessHeap(), 0, bytes);
      bytes = nullptr;
    }
    *size = want;
  }
  CloseHandle(file);
  return bytes;
}

bool WriteWhole(const wchar_t* path, DWORD disposition, const void* a, DWORD aSize, const void* b, DWORD bSize) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, a, aSize, &written, nullptr) && written == aSize;
  ok = ok && (bSize == 0 || (WriteFile(file, b, bSize, &written, nullptr) && written == bSize));
  ok = CloseHandle(file) && ok;
  return ok;
}

bool Sha256(const BYTE* data, size_t size, BYTE digest[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = NT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
            NT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0)) &&
            NT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

} // namespace

bool ReadPrivateKeyFile(const wchar_t* keyPath, BYTE key[kPrivateKeyBytes]) {
  DWORD size = 0;
  BYTE* bytes = ReadWhole(keyPath, &size);
  if (!bytes) return false;
  // The key is the one line that is not a comment.
  bool found = false;
  for (DWORD start = 0; start < size && !found;) {
    DWORD end = start;
    while (end < size && bytes[end] != '\n') ++end;
    DWORD stop = end > start && bytes[end - 1] == '\r' ? end - 1 : end;
    if (stop > start && bytes[start] != '#') {
      found = DecodeBase64Exact(reinterpret_cast<const char*>(bytes + start), stop - start, key, kPrivateKeyBytes);
      if (!found) break;
    }
    start = end + 1;
  }
  SecureZeroMemory(bytes, size);
  HeapFree(GetProcessHeap(), 0, bytes);
  return found;
}

bool SignP256(const BYTE key[kPrivateKeyBytes], const BYTE* data, size_t size, BYTE signature[64]) {
  BYTE digest[32] = {};
  if (!Sha256(data, size, digest)) return false;
  BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPrivateKeyBytes] = {};
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  CopyMemory(blob, &header, sizeof header);
  CopyMemory(blob + sizeof header, key, kPrivateKeyBytes);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_KEY_HANDLE handle = nullptr;
  ULONG written = 0;
  bool ok = NT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle, blob, sizeof blob, 0)) &&
            NT_SUCCESS(BCryptSignHash(handle, nullptr, digest, sizeof digest, signature, 64, &written, 0)) &&
            written == 64;
  if (handle) BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  SecureZeroMemory(blob, sizeof blob);
  return ok;
}

int KeygenCommand(const wchar_t* givenKeyPath, const Output& out) {
  wchar_t keyPath[MAX_PATH] = {};
  if (!ResolvePath(givenKeyPath, keyPath, out)) return kCheckUsage;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    Print(out, L"CNG has no ECDSA P-256 here\n");
    return kCheckUsage;
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPrivateKeyBytes] = {};
  ULONG size = 0;
  bool ok = NT_SUCCESS(BCryptGenerateKeyPair(algorithm, &key, 256, 0)) && NT_SUCCESS(BCryptFinalizeKeyPair(key, 0)) &&
            NT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &size, 0)) &&
            size == sizeof blob;
  if (key) BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  char privateText[129 + 2] = {}, publicText[89] = {};
  ok = ok && EncodeBase64(blob + sizeof(BCRYPT_ECCKEY_BLOB), kPrivateKeyBytes, privateText, 129) &&
       EncodeBase64(blob + sizeof(BCRYPT_ECCKEY_BLOB), 64, publicText, sizeof publicText);
  SecureZeroMemory(blob, sizeof blob);
  if (!ok) {
    Print(out, L"no key pair could be made\n");
    return kCheckUsage;
  }
  StringCchCatA(privateText, ARRAYSIZE(privateText), "\r\n");
  // CREATE_NEW: an existing key is never overwritten.
  bool written = WriteWhole(keyPath, CREATE_NEW, kKeyFileComment, sizeof kKeyFileComment - 1, privateText,
                            static_cast<DWORD>(lstrlenA(privateText)));
  SecureZeroMemory(privateText, sizeof privateText);
  if (!written) {
    Print(out, L"cannot create the key file %s (error %lu; an existing file is never replaced)\n", keyPath,
          GetLastError());
    return kCheckUsage;
  }
  Print(out, L"private key written to %s\n", keyPath);
  Print(out, L"-DPLINTHWARE_INFO_PUBLIC_KEY=%S\n", publicText);
  return kCheckPassed;
}

int SignCommand(const wchar_t* givenInfoPath, const wchar_t* givenKeyPath, const Output& out) {
  wchar_t infoPath[MAX_PATH] = {}, keyPath[MAX_PATH] = {};
  if (!ResolvePath(givenInfoPath, infoPath, out) || !ResolvePath(givenKeyPath, keyPath, out)) return kCheckUsage;
  BYTE key[kPrivateKeyBytes] = {};
  if (!ReadPrivateKeyFile(keyPath, key)) {
    Print(out, L"cannot read a private key from %s\n", keyPath);
    return kCheckUsage;
  }
  DWORD size = 0;
  BYTE* bytes = ReadWhole(infoPath, &size);
  if (!bytes) {
    SecureZeroMemory(key, sizeof key);
    Print(out, L"cannot read the Info file %s (or it is larger than 1 MiB)\n", infoPath);
    return kCheckUsage;
  }
  // An old signature line at the end is replaced, well-formed or not.
  size_t keep = size;
  BYTE old[64] = {};
  if (!SplitSignedInfo(bytes, size, &keep, old)) {
    size_t end = size;
    while (end > 0 && (bytes[end - 1] == '\n' || bytes[end - 1] == '\r')) --end;
    size_t start = end;
    while (start > 0 && bytes[start - 1] != '\n') --start;
    size_t prefix = static_cast<size_t>(lstrlenA(kSignaturePrefix));
    keep = end - start >= prefix && memcmp(bytes + start, kSignaturePrefix, prefix) == 0 ? start : size;
  }
  // The signed part ends with a line ending, so that the signature is a line of its own.
  DWORD body = static_cast<DWORD>(keep);
  if (body > 0 && bytes[body - 1] != '\n') {
    bytes[body] = '\n'; // ReadWhole left one byte to spare
    ++body;
  }
  BYTE signature[64] = {};
  bool signedOk = SignP256(key, bytes, body, signature);
  SecureZeroMemory(key, sizeof key);
  char line[16 + kSignatureChars + 3] = {};
  StringCchCopyA(line, ARRAYSIZE(line), kSignaturePrefix);
  size_t prefix = lstrlenA(line);
  bool ok = signedOk && EncodeBase64(signature, sizeof signature, line + prefix, ARRAYSIZE(line) - prefix) &&
            SUCCEEDED(StringCchCatA(line, ARRAYSIZE(line), "\r\n")) &&
            WriteWhole(infoPath, CREATE_ALWAYS, bytes, body, line, static_cast<DWORD>(lstrlenA(line)));
  HeapFree(GetProcessHeap(), 0, bytes);
  if (!ok) {
    Print(out, L"signing %s failed (error %lu)\n", infoPath, GetLastError());
    return kCheckUsage;
  }
  Print(out, L"signed %s\n", infoPath);
  return kCheckPassed;
}

int VerifyCommand(const wchar_t* givenInfoPath, const wchar_t* publicKey, const Output& out) {
  wchar_t infoPath[MAX_PATH] = {};
  if (!ResolvePath(givenInfoPath, infoPath, out)) return kCheckUsage;
  BYTE key[kPublicKeyBytes] = {};
  if (!DecodeBase64Exact(publicKey, key, sizeof key)) {
    Print(out, L"the public key is not base64 of 64 bytes\n");
    return kCheckUsage;
  }
  const wchar_t* refusal = FindInfoFileRefusal(infoPath, publicKey);
  if (refusal) {
    Print(out, L"%s", refusal);
    return kCheckProblems;
  }
  Print(out, L"signature verified: %s\n", infoPath);
  return kCheckPassed;
}
