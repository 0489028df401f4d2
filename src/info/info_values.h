// Reading Version, InstConfig, Sha256 and Size from one section of an Info file, bounded by the
// buffers the updater keeps them in and judged by its rules; the updater (for its Platform
// section) and InfoCheck (for every section) share them. Any thread.
#pragma once
#include <windows.h>

#include "info/location_check.h"
#include "info/package_check.h"
#include "info/version_number.h"

// The Command-line buffer's capacity, terminator included; a longer InstConfig is refused.
const int kInstConfigChars = 128;

// The sections an Info file serves, newest platform first.
const int kInfoSectionCount = 4;
extern const wchar_t* const kInfoSections[kInfoSectionCount];

// Reads Version into `text` and its Version number into *value. False, with `text` empty and
// *value 0, when it is missing, holds fewer than four numbers or does not fit (64 characters or
// more, which is refused rather than cut into a different version). *length receives the length
// read (kVersionChars when it did not fit).
bool ReadInfoVersion(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kVersionChars], unsigned* value,
                     DWORD* length);

// Reads InstConfig into `commandLine` (kInstConfigChars + 1 characters: the one beyond the
// Command-line buffer shows a value that does not fit). False for such a value, which is refused
// rather than cut into a different command; *length is the length read.
bool ReadInfoInstConfig(const wchar_t* section, const wchar_t* infoPath, wchar_t commandLine[kInstConfigChars + 1],
                        DWORD* length);

// True when a command line's first token is a switch ("/S", "-x"): a package that takes its first
// token as its program name, as NSIS packages do, then never sees that switch.
bool InstConfigStartsWithSwitch(const wchar_t* commandLine);

// Reads Sha256 into `text` (kSha256TextChars + 2 characters; a longer value is cut at
// kSha256TextChars + 1, which is then no valid Sha256 text). False when the key is absent.
bool ReadInfoSha256(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kSha256TextChars + 2]);

// Size's buffer, terminator included; a longer value is refused.
const int kSizeTextChars = 24;

// Reads Size, the package's byte count, into `text` (cut to kSizeTextChars) and its value into
// *bytes. Only 1 to 4294967295 in plain decimal digits is usable: the transfer counts bytes in
// 32 bits, and no package is empty. *bytes is 0 for any other value, which is refused rather than
// read as part of a number. False when the key is absent.
bool ReadInfoSize(const wchar_t* section, const wchar_t* infoPath, wchar_t text[kSizeTextChars], ULONG* bytes);

// One section's values as the updater uses them, each read by the reader above (and ReadLocation)
// with its limits and its judgement.
struct PlatformValues {
  wchar_t version[kVersionChars];           // empty when unusable
  unsigned versionNumber;                   // 0 when unusable
  bool versionUsable;                       // ReadInfoVersion's verdict
  wchar_t location[kLocationChars];         // empty when refused
  const wchar_t* locationRefusal;           // null for a usable Location, else the refusal line
  wchar_t instConfig[kInstConfigChars + 1]; // as read
  DWORD instConfigLength;
  bool instConfigFits;                      // false: refused rather than cut
  wchar_t sha256[kSha256TextChars + 2];     // as read, when present
  bool hasSha256;
  ULONG size;                               // Size in bytes; 0 when absent or refused
  bool hasSize;                             // the key is there (usable or not)
};

// Reads all of them from `section` of the Info file at `infoPath` into *values, in one go.
void ReadPlatformValues(const wchar_t* section, const wchar_t* infoPath, PlatformValues* values);
