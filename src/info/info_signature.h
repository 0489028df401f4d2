// Signed Info files: the signature line "; signature=" plus base64 of r||s (64 bytes) as the last
// line, an ECDSA P-256 signature over every byte before that line, checked through CNG against
// the public key compiled in. Any thread; the Download thread judges an arrived Info file with it.
#pragma once
#include <windows.h>

// An Info file is a few hundred bytes: one beyond this is refused, signed or not, so that an
// endless one cannot fill the disk.
const DWORD kInfoFileMaxBytes = 1024 * 1024;

const int kPublicKeyBytes = 64;  // X || Y of the P-256 point, big-endian
const int kSignatureBytes = 64;  // r || s, big-endian, as CNG signs
const int kSignatureChars = 88;  // base64 of 64 bytes, with its padding
extern const char kSignaturePrefix[]; // "; signature="

// The public key of this build as base64 of X || Y: empty in a build without one (then Info
// files are not checked). Defined in info_public_key.cpp, the one file a signed build compiles
// with its own key.
extern const wchar_t kInfoPublicKey[];

// Strict base64 (A-Z a-z 0-9 + /, '=' padding only at the end, length a multiple of 4): true with
// exactly `size` decoded bytes in `out`, false for anything else.
bool DecodeBase64Exact(const char* text, size_t chars, BYTE* out, size_t size);
bool DecodeBase64Exact(const wchar_t* text, BYTE* out, size_t size);
// Encodes `size` bytes into `text` (capacity `chars`, at least 4 * ((size + 2) / 3) + 1).
bool EncodeBase64(const BYTE* bytes, size_t size, char* text, size_t chars);

// Where the signed part of `bytes` ends: the start of its last line, which must be the signature
// line (a line ending after it is allowed, nothing else). False when there is none or it is
// malformed; otherwise *signedBytes is the length before it and `signature` holds r || s.
bool SplitSignedInfo(const BYTE* bytes, size_t size, size_t* signedBytes, BYTE signature[kSignatureBytes]);

// True when `signature` is a valid ECDSA P-256 / SHA-256 signature of `data` by `publicKey`.
bool VerifyP256Signature(const BYTE publicKey[kPublicKeyBytes], const BYTE* data, size_t size,
                         const BYTE signature[kSignatureBytes]);

// Judges the Info file at `path` before any of its values is used: refused when it is larger
// than kInfoFileMaxBytes and, with `publicKey` (base64; null or empty for none), when it does not
// carry a valid signature by that key as its last line. Returns the refusal as one
// debugger-output line, or null when it may be read.
const wchar_t* FindInfoFileRefusal(const wchar_t* path, const wchar_t* publicKey);
// The same for the file open as `file` (INVALID_HANDLE_VALUE: it cannot be read), read from its
// start through that handle, so the bytes judged are those of the file the handle holds.
const wchar_t* FindInfoFileRefusal(HANDLE file, const wchar_t* publicKey);
