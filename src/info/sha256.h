// SHA-256 through Windows CNG, for the package checksum and the Info file signature. bcrypt.dll
// is not among the KnownDLLs, so it is taken from the system directory when first needed rather
// than imported. Any thread; no process-wide state.
#pragma once
#include <windows.h>

#include <bcrypt.h>

#include "base/system_libraries.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#endif

const int kSha256Bytes = 32;

// Looks up one CNG function in the system directory's bcrypt.dll.
template <typename Function>
bool ResolveBcrypt(const char* name, Function* function) {
  *function = ProcedureAs<Function>(SystemProcedure(L"bcrypt.dll", name));
  return *function != nullptr;
}

// One running hash: Add the data in pieces, then Finish once. ok() is false when CNG could not
// be loaded or the hash not created; Add and Finish then fail too.
class Sha256Hash {
public:
  Sha256Hash();
  ~Sha256Hash();
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;
  bool ok() const { return hash_ != nullptr; }
  bool Add(const BYTE* data, size_t size);
  bool Finish(BYTE digest[kSha256Bytes]);

private:
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider_ = nullptr;
  decltype(&BCryptHashData) hashData_ = nullptr;
  decltype(&BCryptFinishHash) finishHash_ = nullptr;
  decltype(&BCryptDestroyHash) destroyHash_ = nullptr;
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  BYTE* object_ = nullptr;
};
