// The signature check of an arrived Info file: its size, its last line, and ECDSA P-256 through
// CNG (bcrypt.dll from the system directory). Runs on the Download thread; the helpers are pure.
#include "info/info_signature.h"

#include "base/owners.h"
#include "info/package_check.h"
#include "info/sha256.h"

const char kSignaturePrefix[] = "; signature=";

namespace {

const size_t kPrefixChars = sizeof kSignaturePrefix - 1;

int Base64Value(unsigned c) {
  if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes through a per-character accessor, so that narrow and wide texts share the rules.
template <typename Char>
bool Decode(const Char* text, size_t chars, BYTE* out, size_t size) {
  if (!text || chars == 0 || chars % 4 != 0) return false;
  size_t padding = 0;
  if (text[chars - 1] == '=') padding = text[chars - 2] == '=' ? 2 : 1;
  if (chars / 4 * 3 - padding != size) return false;
  size_t written = 0;
  for (size_t i = 0; i < chars; i += 4) {
    unsigned group = 0;
    for (size_t j = 0; j < 4; ++j) {
      bool pad = i + 4 == chars && j >= 4 - padding;
      int value = pad ? 0 : Base64Value(static_cast<unsigned>(text[i + j]));
      if (value < 0) return false;
      group = (group << 6) | static_cast<unsigned>(value);
    }
    BYTE bytes[3] = {static_cast<BYTE>(group >> 16), static_cast<BYTE>(group >> 8), static_cast<BYTE>(group)};
    for (size_t k = 0; k < 3 && written < size; ++k) out[written++] = bytes[k];
    // Bits beyond the last byte must be zero: one text per value.
    if (i + 4 == chars && padding > 0 && bytes[3 - padding] != 0) return false;
  }
  return true;
}

// bcrypt.dll is not among the KnownDLLs: taken from the system directory only.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
  decltype(&BCryptImportKeyPair) importKeyPair;
  decltype(&BCryptDestroyKey) destroyKey;
  decltype(&BCryptVerifySignature) verifySignature;
};

bool LoadCng(Cng* cng) {
  return ResolveBcrypt("BCryptOpenAlgorithmProvider", &cng->openAlgorithmProvider) &&
         ResolveBcrypt("BCryptCloseAlgorithmProvider", &cng->closeAlgorithmProvider) &&
         ResolveBcrypt("BCryptImportKeyPair", &cng->importKeyPair) && ResolveBcrypt("BCryptDestroyKey", &cng->destroyKey) &&
         ResolveBcrypt("BCryptVerifySignature", &cng->verifySignature);
}

bool Sha256(const BYTE* data, size_t size, BYTE digest[kSha256Bytes]) {
  Sha256Hash hash;
  return hash.Add(data, size) && hash.Finish(digest);
}

// Reads the whole file through `file` from its start, up to kInfoFileMaxBytes + 1 bytes (one
// more shows it is too large).
BYTE* ReadInfoFile(HANDLE file, size_t* size, bool* tooLarge) {
  *size = 0;
  *tooLarge = false;
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return nullptr;
  BYTE* bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kInfoFileMaxBytes + 1));
  DWORD total = 0;
  bool ok = bytes != nullptr;
  while (ok && total < kInfoFileMaxBytes + 1) {
    DWORD got = 0;
    ok = ReadFile(file, bytes + total, kInfoFileMaxBytes + 1 - total, &got, nullptr) != FALSE;
    if (got == 0) break;
    total += got;
  }
  if (!ok) {
    if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    return nullptr;
  }
  *tooLarge = total > kInfoFileMaxBytes;
  *size = total;
  return bytes;
}

} // namespace

bool DecodeBase64Exact(const char* text, size_t chars, BYTE* out, size_t size) {
  return Decode(text, chars, out, size);
}

bool DecodeBase64Exact(const wchar_t* text, BYTE* out, size_t size) {
  return text && Decode(text, static_cast<size_t>(lstrlenW(text)), out, size);
}

bool EncodeBase64(const BYTE* bytes, size_t size, char* text, size_t chars) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t needed = (size + 2) / 3 * 4 + 1;
  if (chars < needed) return false;
  size_t at = 0;
  for (size_t i = 0; i < size; i += 3) {
    unsigned group = static_cast<unsigned>(bytes[i]) << 16;
    if (i + 1 < size) group |= static_cast<unsigned>(bytes[i + 1]) << 8;
    if (i + 2 < size) group |= bytes[i + 2];
    text[at++] = kDigits[(group >> 18) & 63];
    text[at++] = kDigits[(group >> 12) & 63];
    text[at++] = i + 1 < size ? kDigits[(group >> 6) & 63] : '=';
    text[at++] = i + 2 < size ? kDigits[group & 63] : '=';
  }
  text[at] = '\0';
  return true;
}

bool SplitSignedInfo(const BYTE* bytes, size_t size, size_t* signedBytes, BYTE signature[kSignatureBytes]) {
  *signedBytes = 0;
  size_t end = size;
  // One line ending after the signature line is allowed, CR LF or LF.
  if (end > 0 && bytes[end - 1] == '\n') --end;
  if (end > 0 && bytes[end - 1] == '\r') --end;
  size_t start = end;
  while (start > 0 && bytes[start - 1] != '\n') --start;
  if (end - start != kPrefixChars + kSignatureChars) return false;
  for (size_t i = 0; i < kPrefixChars; ++i) {
    if (bytes[start + i] != static_cast<BYTE>(kSignaturePrefix[i])) return false;
  }
  if (!DecodeBase64Exact(reinterpret_cast<const char*>(bytes + start + kPrefixChars), kSignatureChars, signature,
                         kSignatureBytes)) {
    return false;
  }
  *signedBytes = start;
  return true;
}

bool VerifyP256Signature(const BYTE publicKey[kPublicKeyBytes], const BYTE* data, size_t size,
                         const BYTE signature[kSignatureBytes]) {
  Cng cng = {};
  if (!LoadCng(&cng)) return false;
  BYTE digest[kSha256Bytes] = {};
  if (!Sha256(data, size, digest)) return false;
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeyBytes] = {};
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kPublicKeyBytes / 2};
  CopyMemory(blob, &header, sizeof header);
  CopyMemory(blob + sizeof header, publicKey, kPublicKeyBytes);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!NT_SUCCESS(cng.openAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool valid = false;
  if (NT_SUCCESS(cng.importKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0))) {
    valid = NT_SUCCESS(cng.verifySignature(key, nullptr, digest, sizeof digest, const_cast<PUCHAR>(signature),
                                           kSignatureBytes, 0));
    cng.destroyKey(key);
  }
  cng.closeAlgorithmProvider(algorithm, 0);
  return valid;
}

const wchar_t* FindInfoFileRefusal(const wchar_t* path, const wchar_t* publicKey) {
  ScopedHandle file(OpenHeldFile(path));
  return FindInfoFileRefusal(file.get(), publicKey);
}

const wchar_t* FindInfoFileRefusal(HANDLE file, const wchar_t* publicKey) {
  size_t size = 0;
  bool tooLarge = false;
  BYTE* bytes = file == INVALID_HANDLE_VALUE ? nullptr : ReadInfoFile(file, &size, &tooLarge);
  if (!bytes) return L"Info file refused: it cannot be read\n";
  const wchar_t* refusal = nullptr;
  if (tooLarge) {
    refusal = L"Info file refused: larger than 1 MiB\n";
  } else if (publicKey && publicKey[0]) {
    BYTE key[kPublicKeyBytes] = {};
    BYTE signature[kSignatureBytes] = {};
    size_t signedBytes = 0;
    if (!DecodeBase64Exact(publicKey, key, sizeof key)) {
      refusal = L"Info file refused: the public key of this build is malformed\n";
    } else if (!SplitSignedInfo(bytes, size, &signedBytes, signature)) {
      refusal = L"Info file refused: no well-formed signature line at its end\n";
    } else if (!VerifyP256Signature(key, bytes, signedBytes, signature)) {
      refusal = L"Info file refused: the signature does not verify\n";
    }
  }
  HeapFree(GetProcessHeap(), 0, bytes);
  return refusal;
}
