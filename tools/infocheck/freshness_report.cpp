// The [info] section in InfoCheck's reports: Expires with the time left, Serial, and what a build
// with the Info-file key does with them, through the updater's own reader. Single-threaded.
#include "freshness_report.h"

#include "info/info_freshness.h"

namespace {

const ULONGLONG kTicksPerSecond = 10000000;

} // namespace

ULONGLONG CurrentFileTime() {
  FILETIME clock = {};
  GetSystemTimeAsFileTime(&clock);
  return (static_cast<ULONGLONG>(clock.dwHighDateTime) << 32) | clock.dwLowDateTime;
}

int ReportFreshness(const wchar_t* infoPath, bool keyed, ULONGLONG now, const Output& out) {
  InfoFreshness fresh;
  ReadInfoFreshness(infoPath, &fresh);
  int problems = 0;
  Print(out, L"[%s]\n", kInfoFreshnessSection);
  if (!fresh.hasExpires) {
    Print(out, L"  Expires     (none: a build with the key accepts this file for ever)\n");
  } else if (!fresh.expiresValid) {
    Print(out, L"  Expires     %s\n", fresh.expiresText);
    Print(out, L"  PROBLEM: Expires is not a UTC time YYYY-MM-DDTHH:MM:SSZ: a build with the key refuses the file\n");
    ++problems;
  } else if (now > fresh.expires) {
    ULONGLONG days = (now - fresh.expires) / kTicksPerSecond / 86400;
    Print(out, L"  Expires     %s (past, %llu days ago)\n", fresh.expiresText, days);
    Print(out, keyed ? L"  PROBLEM: " : L"  WARNING: ");
    Print(out, L"Expires is past: a build with the key refuses the file; re-sign it with --expires\n");
    if (keyed) ++problems;
  } else {
    ULONGLONG seconds = (fresh.expires - now) / kTicksPerSecond;
    Print(out, L"  Expires     %s (in %llu days %llu hours)\n", fresh.expiresText, seconds / 86400,
          seconds / 3600 % 24);
    if (seconds < kExpiryWarningSeconds) {
      Print(out, L"  WARNING: Expires is less than a week away: re-sign and publish the file before then, or "
                 L"every build with the key refuses it\n");
    }
  }
  if (!fresh.hasSerial) {
    Print(out, L"  Serial      (none: a build with the key accepts an older signed file in its place)\n");
  } else if (!fresh.serialValid) {
    Print(out, L"  Serial      %s\n", fresh.serialText);
    Print(out, L"  PROBLEM: Serial is not a decimal number from 0 to 18446744073709551615: a build with the key "
               L"refuses the file\n");
    ++problems;
  } else {
    Print(out, L"  Serial      %llu\n", fresh.serial);
  }
  return problems;
}
