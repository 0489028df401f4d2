// The package checksum: SHA-256 of a file through Windows CNG, and the Sha256 text an Info file
// may carry. Any thread; the Installer thread uses it, and a console checker can reuse it as is.
#pragma once
#include <windows.h>

#include "info/sha256.h"

const int kSha256TextChars = 64; // hexadecimal digits, without terminator

// True when `text` is exactly 64 hexadecimal digits, in any case. A null text is not.
bool IsSha256Text(const wchar_t* text);

// Hashes `file` from its start to its end into `digest`; reads through the handle, so the file
// is the one the handle holds. False when the file cannot be read or CNG fails.
bool HashFileSha256(HANDLE file, BYTE digest[kSha256Bytes]);

// True when `text` is a valid Sha256 text naming `digest`.
bool Sha256TextMatches(const wchar_t* text, const BYTE digest[kSha256Bytes]);

// Opens `path` for reading with others allowed only to read (no write or delete sharing), so that
// the file cannot change or be replaced while the handle lives. INVALID_HANDLE_VALUE on failure.
HANDLE OpenHeldFile(const wchar_t* path);

// True when the file open as `file` hashes to the valid Sha256 text `text`.
bool HeldFileMatches(HANDLE file, const wchar_t* text);

// Opens `path` for reading with others allowed only to read, and checks it against `text`:
// the handle of a matching file is returned in *held (the caller closes it), so the file cannot
// change until then. On any failure *held is null.
bool OpenMatchingFile(const wchar_t* path, const wchar_t* text, HANDLE* held);
