// The maker's side of signed Info files: a new key pair, signing an Info file with the private
// key file, and checking a signed one against a public key. All through CNG. Single-threaded.
#pragma once
#include <windows.h>

#include "output.h"

const int kPrivateKeyBytes = 96; // X || Y || d, big-endian, as CNG exports a P-256 private key

// keygen: writes a new private key file at `keyPath` (never over an existing file) and prints
// the public key in the form PLINTHWARE_INFO_PUBLIC_KEY takes. Returns an exit code.
int KeygenCommand(const wchar_t* keyPath, const Output& out);
// sign: appends the signature line to the Info file, or replaces the one at its end.
int SignCommand(const wchar_t* infoPath, const wchar_t* keyPath, const Output& out);
// verify: 0 when the Info file carries a valid signature by `publicKey` (base64 of X || Y).
int VerifyCommand(const wchar_t* infoPath, const wchar_t* publicKey, const Output& out);

// The pieces, for the tests.
bool ReadPrivateKeyFile(const wchar_t* keyPath, BYTE key[kPrivateKeyBytes]);
bool SignP256(const BYTE key[kPrivateKeyBytes], const BYTE* data, size_t size, BYTE signature[64]);
