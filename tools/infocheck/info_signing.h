// The maker's side of signed Info files: a new key pair, signing an Info file with the private
// key file, and checking a signed one against a public key. All through CNG. Single-threaded.
#pragma once
#include <windows.h>

#include "output.h"

const int kPrivateKeyBytes = 96; // X || Y || d, big-endian, as CNG exports a P-256 private key

// keygen: writes a new private key file at `keyPath` (never over an existing file) and prints
// the public key in the form PLINTHWARE_INFO_PUBLIC_KEY takes. Returns an exit code.
int KeygenCommand(const wchar_t* keyPath, const Output& out);
// What sign writes into the [info] section besides the signature.
const int kMaxExpiresDays = 3650; // ten years: an expiry further off protects nothing
struct SignOptions {
  int expiresDays;       // 1 to kMaxExpiresDays: Expires that many days from now; 0: the file's own kept
  const wchar_t* serial; // Serial as given (not below the file's own); null: the file's own plus one, or 1
};
// sign: sets Serial (and Expires, with options.expiresDays) in the [info] section, then appends
// the signature line, or replaces the one at its end. Without options: the serial raised.
int SignCommand(const wchar_t* infoPath, const wchar_t* keyPath, const SignOptions& options, const Output& out);
int SignCommand(const wchar_t* infoPath, const wchar_t* keyPath, const Output& out);
// verify: 0 when the Info file carries a valid signature by `publicKey` (base64 of X || Y) and
// is neither expired nor malformed in Expires or Serial; prints both.
int VerifyCommand(const wchar_t* infoPath, const wchar_t* publicKey, const Output& out);

// The pieces, for the tests.
bool ReadPrivateKeyFile(const wchar_t* keyPath, BYTE key[kPrivateKeyBytes]);
bool SignP256(const BYTE key[kPrivateKeyBytes], const BYTE* data, size_t size, BYTE signature[64]);
