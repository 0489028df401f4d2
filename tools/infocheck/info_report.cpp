// The report of one Info file: every section read through the updater's own readers and rules
// (the Location rule, the Version scanner, the InstConfig limit, the Sha256 and Size checks), so
// that what InfoCheck accepts is what the updater accepts. Single-threaded.
#include "info_report.h"

#include <strsafe.h>

#include "info/location_check.h"
#include "info/publisher_check.h"
#include "info/info_signature.h"
#include "info/info_values.h"
#include "info/package_check.h"
#include "info/version_number.h"

namespace {

struct Section {
  const wchar_t* name;
  int problems;
};

void Problem(const Output& out, Section* section, const wchar_t* text) {
  Print(out, L"  PROBLEM: %s\n", text);
  ++section->problems;
}

bool SectionExists(const wchar_t* infoPath, const wchar_t* name) {
  // The names of the section's keys, double-null terminated; nothing at all when it is absent.
  wchar_t keys[64] = {};
  GetPrivateProfileStringW(name, nullptr, L"", keys, ARRAYSIZE(keys), infoPath);
  if (keys[0] != L'\0') return true;
  // An empty section is still a section: look for its name among the sections.
  wchar_t names[4096] = {};
  GetPrivateProfileSectionNamesW(names, ARRAYSIZE(names), infoPath);
  for (const wchar_t* p = names; *p; p += lstrlenW(p) + 1) {
    if (lstrcmpiW(p, name) == 0) return true;
  }
  return false;
}

void CheckVersion(const CheckOptions& options, const Output& out, Section* section, unsigned previous) {
  wchar_t text[kVersionChars] = {};
  unsigned value = 0;
  DWORD length = 0;
  if (!ReadInfoVersion(section->name, options.infoPath, text, &value, &length)) {
    if (length >= static_cast<DWORD>(kVersionChars)) {
      Print(out, L"  Version     (%lu characters or more)\n", length);
      Problem(out, section, L"a Version of 64 characters or more is refused: never offered");
    } else if (length == 0) {
      Print(out, L"  Version     (none)\n");
      Problem(out, section, L"no Version: this platform is never offered the package");
    } else {
      wchar_t raw[kVersionChars] = {};
      GetPrivateProfileStringW(section->name, L"Version", L"", raw, ARRAYSIZE(raw), options.infoPath);
      Print(out, L"  Version     %s\n", raw);
      Problem(out, section, L"Version has fewer than four numbers a.b.c.d: reads as 0, never offered");
    }
    return;
  }
  Print(out, L"  Version     %s -> Version number %u (compares as %u.%u.%u.%u)\n", text, value, value / 1000,
        value / 100 % 10, value / 10 % 10, value % 10);
  // The weights are 1000, 100, 10 and 1: a later field above 9, or any sign, lands on another
  // version's number (1.0.0.10 is 1.0.1.0).
  unsigned fields[4] = {};
  ScanVersionFields(text, fields);
  bool carries = static_cast<int>(fields[0]) < 0;
  for (int i = 1; i < 4; ++i) carries = carries || fields[i] > 9;
  if (carries) Problem(out, section, L"a field above 9 or below 0 carries into another: the updater misreads it");
  if (options.previous && value <= previous) {
    wchar_t line[256] = {};
    StringCchPrintfW(line, ARRAYSIZE(line), L"Version number %u is not above the previous release's %u: never offered over it", value,
              previous);
    Problem(out, section, line);
  }
}

void CheckLocation(const CheckOptions& options, const Output& out, Section* section) {
  wchar_t location[kLocationChars] = {};
  const wchar_t* refusal = ReadLocation(section->name, options.infoPath, location);
  if (!refusal) {
    Print(out, L"  Location    %s (accepted)\n", location);
    return;
  }
  wchar_t raw[200] = {};
  GetPrivateProfileStringW(section->name, L"Location", L"", raw, ARRAYSIZE(raw), options.infoPath);
  Print(out, L"  Location    %s%s (refused)\n", raw[0] ? raw : L"(none)", lstrlenW(raw) >= 199 ? L"..." : L"");
  // The refusal is a debugger line: drop its line feed.
  wchar_t reason[200] = {};
  lstrcpynW(reason, refusal, ARRAYSIZE(reason));
  int end = lstrlenW(reason);
  if (end > 0 && reason[end - 1] == L'\n') reason[end - 1] = L'\0';
  Problem(out, section, reason);
}

void CheckInstConfig(const CheckOptions& options, const Output& out, Section* section) {
  wchar_t commandLine[kInstConfigChars + 1] = {};
  DWORD length = 0;
  if (!ReadInfoInstConfig(section->name, options.infoPath, commandLine, &length)) {
    Print(out, L"  InstConfig  (%d characters or more; the limit is %d)\n", kInstConfigChars, kInstConfigChars - 1);
    Problem(out, section, L"InstConfig does not fit: the package is not run");
    return;
  }
  if (length == 0) {
    Print(out, L"  InstConfig  (none: the package is started with its own path as its command line)\n");
    return;
  }
  Print(out, L"  InstConfig  %s (%lu of at most %d characters)\n", commandLine, length, kInstConfigChars - 1);
  if (InstConfigStartsWithSwitch(commandLine)) {
    Problem(out, section,
            L"InstConfig begins with a switch: it is the whole command line, and an NSIS package takes its first "
            L"token as its program name and ignores it; put a program name first (vrel_setup.exe /S)");
  }
}

void PrintHex(const Output& out, const BYTE digest[kSha256Bytes]) {
  for (int i = 0; i < kSha256Bytes; ++i) Print(out, L"%02x", digest[i]);
}

// Hashes the package once; false (and a message) when it cannot be read.
bool HashPackage(const wchar_t* path, BYTE digest[kSha256Bytes]) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool hashed = HashFileSha256(file, digest);
  CloseHandle(file);
  return hashed;
}

// Returns whether the section carries Sha256.
bool CheckSha256(const CheckOptions& options, const Output& out, Section* section, const BYTE* packageDigest) {
  wchar_t text[kSha256TextChars + 2] = {};
  if (!ReadInfoSha256(section->name, options.infoPath, text)) {
    Print(out, L"  Sha256      (none: the package is not pinned)\n");
    if (packageDigest) {
      Print(out, L"              the package's would be ");
      PrintHex(out, packageDigest);
      Print(out, L"\n");
    }
    if (options.publicKey) Problem(out, section, L"no Sha256: a build with a public key downloads nothing");
    return false;
  }
  Print(out, L"  Sha256      %s\n", text);
  if (!IsSha256Text(text)) {
    Problem(out, section, L"Sha256 is not 64 hexadecimal digits: the package is deleted unrun");
    return true;
  }
  if (!packageDigest) return true;
  if (Sha256TextMatches(text, packageDigest)) {
    Print(out, L"              matches the package\n");
    return true;
  }
  Print(out, L"              the package's is ");
  PrintHex(out, packageDigest);
  Print(out, L"\n");
  Problem(out, section, L"Sha256 does not match the package: the package is deleted unrun");
  return true;
}

// `packageBytes` is the package's length, or null without --package.
void CheckSize(const CheckOptions& options, const Output& out, Section* section, const ULONGLONG* packageBytes,
               bool hasSha256) {
  wchar_t text[kSizeTextChars] = {};
  ULONG bytes = 0;
  if (!ReadInfoSize(section->name, options.infoPath, text, &bytes)) {
    Print(out, L"  Size        (none)\n");
    if (packageBytes) Print(out, L"              the package's would be %llu\n", *packageBytes);
    if (options.publicKey) {
      Problem(out, section, L"no Size: a build with a public key downloads nothing");
    } else if (!hasSha256) {
      Print(out, L"  WARNING: neither Sha256 nor Size: a package sent without a length cannot be checked for "
                 L"completeness\n");
    }
    return;
  }
  if (bytes == 0) {
    Print(out, L"  Size        %s%s\n", text, lstrlenW(text) >= kSizeTextChars - 1 ? L"..." : L"");
    Problem(out, section, L"Size is not a decimal number from 1 to 4294967295: the package is not downloaded");
    return;
  }
  Print(out, L"  Size        %lu bytes\n", bytes);
  if (!packageBytes) return;
  if (*packageBytes == bytes) {
    Print(out, L"              matches the package\n");
    return;
  }
  Print(out, L"              the package's is %llu\n", *packageBytes);
  Problem(out, section, L"Size does not match the package: the download ends in the network-error box");
}

// What a build pinned to options.publisher does with the package: its signer and the hash of its
// key, and whether the signature, the chain, the code-signing usage and the common name pass.
// Returns the number of problems (0 or 1).
int CheckPublisher(const CheckOptions& options, const Output& out) {
  HANDLE file = OpenHeldFile(options.package);
  PublisherCheck check = {};
  bool matches = file != INVALID_HANDLE_VALUE &&
                 CheckPackagePublisher(options.package, file, options.publisher, nullptr, &check);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  Print(out, L"Package signer  %s\n", check.signer[0] ? check.signer : L"(none)");
  // What PLINTHWARE_PACKAGE_PUBLISHER_KEYS would name to pin this signer's key as well.
  if (check.key[0]) Print(out, L"Signer key      %s\n", check.key);
  if (matches) {
    Print(out, L"                signature verified, the publisher \"%s\" matches\n", options.publisher);
    return 0;
  }
  Print(out, L"PROBLEM: a build pinned to \"%s\" deletes the package unrun: %s (0x%08lX)\n", options.publisher,
        PublisherVerdictText(check.verdict), static_cast<unsigned long>(check.code));
  return 1;
}

} // namespace

bool ResolvePath(const wchar_t* path, wchar_t (&full)[MAX_PATH], const Output& out) {
  full[0] = L'\0';
  DWORD length = GetFullPathNameW(path, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) {
    Print(out, L"cannot resolve the path %s (error %lu; at most %d characters)\n", path,
          length ? ERROR_FILENAME_EXCED_RANGE : GetLastError(), MAX_PATH - 1);
    full[0] = L'\0';
    return false;
  }
  return true;
}

int CheckInfoFile(const CheckOptions& given, const Output& out) {
  wchar_t infoPath[MAX_PATH] = {}, package[MAX_PATH] = {};
  if (!ResolvePath(given.infoPath, infoPath, out)) return kCheckUsage;
  if (given.package && !ResolvePath(given.package, package, out)) return kCheckUsage;
  CheckOptions options = given;
  options.infoPath = infoPath;
  if (given.package) options.package = package;
  if (GetFileAttributesW(options.infoPath) == INVALID_FILE_ATTRIBUTES) {
    Print(out, L"cannot read the Info file %s (error %lu)\n", options.infoPath, GetLastError());
    return kCheckUsage;
  }
  unsigned previous = 0;
  if (options.previous && !ScanVersionNumber(options.previous, &previous)) {
    Print(out, L"--previous %s is not a version a.b.c.d\n", options.previous);
    return kCheckUsage;
  }
  BYTE digest[kSha256Bytes] = {};
  WIN32_FILE_ATTRIBUTE_DATA packageFile = {};
  if (options.package && (!HashPackage(options.package, digest) ||
                          !GetFileAttributesExW(options.package, GetFileExInfoStandard, &packageFile))) {
    Print(out, L"cannot read the package %s (error %lu)\n", options.package, GetLastError());
    return kCheckUsage;
  }
  ULONGLONG packageBytes = (static_cast<ULONGLONG>(packageFile.nFileSizeHigh) << 32) | packageFile.nFileSizeLow;
  Print(out, L"Info file %s\n", options.infoPath);
  int problems = 0, present = 0;
  // What a build with this key does first: the file's size and signature, before any value.
  const wchar_t* refusal = FindInfoFileRefusal(options.infoPath, options.publicKey);
  if (refusal) {
    Print(out, L"PROBLEM: %s", refusal);
    ++problems;
  } else if (options.publicKey) {
    Print(out, L"signature verified\n");
  }
  if (options.publisher && options.package) problems += CheckPublisher(options, out);
  for (int i = 0; i < kInfoSectionCount; ++i) {
    Section section = {kInfoSections[i], 0};
    Print(out, L"[%s]\n", section.name);
    if (!SectionExists(options.infoPath, section.name)) {
      Print(out, L"  (absent: this platform is offered nothing)\n");
      continue;
    }
    ++present;
    CheckVersion(options, out, &section, previous);
    CheckLocation(options, out, &section);
    CheckInstConfig(options, out, &section);
    bool hasSha256 = CheckSha256(options, out, &section, options.package ? digest : nullptr);
    CheckSize(options, out, &section, options.package ? &packageBytes : nullptr, hasSha256);
    problems += section.problems;
  }
  if (present == 0) {
    Print(out, L"PROBLEM: no Platform section at all: no platform is offered anything\n");
    ++problems;
  }
  Print(out, problems ? L"%d problem(s)\n" : L"accepted\n", problems);
  return problems ? kCheckProblems : kCheckPassed;
}
