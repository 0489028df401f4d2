// SHA-256 through CNG; see sha256.h.
#include "info/sha256.h"

Sha256Hash::Sha256Hash() {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
  decltype(&BCryptGetProperty) getProperty = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  if (!ResolveBcrypt("BCryptOpenAlgorithmProvider", &openAlgorithmProvider) ||
      !ResolveBcrypt("BCryptCloseAlgorithmProvider", &closeAlgorithmProvider_) ||
      !ResolveBcrypt("BCryptGetProperty", &getProperty) || !ResolveBcrypt("BCryptCreateHash", &createHash) ||
      !ResolveBcrypt("BCryptHashData", &hashData_) || !ResolveBcrypt("BCryptFinishHash", &finishHash_) ||
      !ResolveBcrypt("BCryptDestroyHash", &destroyHash_)) {
    return;
  }
  if (!NT_SUCCESS(openAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    algorithm_ = nullptr;
    return;
  }
  // Vista wants the hash object's memory from the caller; the provider says how much.
  DWORD objectLength = 0, written = 0;
  if (!NT_SUCCESS(getProperty(algorithm_, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                              sizeof objectLength, &written, 0))) {
    return;
  }
  object_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, objectLength ? objectLength : 1));
  if (object_ && !NT_SUCCESS(createHash(algorithm_, &hash_, object_, objectLength, nullptr, 0, 0))) hash_ = nullptr;
}

Sha256Hash::~Sha256Hash() {
  if (hash_) destroyHash_(hash_);
  if (object_) HeapFree(GetProcessHeap(), 0, object_);
  if (algorithm_) closeAlgorithmProvider_(algorithm_, 0);
}

bool Sha256Hash::Add(const BYTE* data, size_t size) {
  if (!hash_) return false;
  // ULONG-sized pieces.
  for (size_t done = 0; done < size;) {
    ULONG piece = size - done > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size - done);
    if (!NT_SUCCESS(hashData_(hash_, const_cast<PUCHAR>(data + done), piece, 0))) return false;
    done += piece;
  }
  return true;
}

bool Sha256Hash::Finish(BYTE digest[kSha256Bytes]) {
  return hash_ && NT_SUCCESS(finishHash_(hash_, digest, kSha256Bytes, 0));
}
